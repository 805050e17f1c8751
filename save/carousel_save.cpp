#include "save/carousel_save.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <utility>

#include "carousel/module_assembly.h"
#include "log/debug_log.h"
#include "save/disk_writer.h"
#include "save/file_names.h"
#include "save/trusted_modules.h"

namespace save {

namespace {

std::string numbered(const char* format, uint32_t value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string join_path(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

std::span<const uint8_t> text_view(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string lines_of(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// One save: the open target directory, the writer, the budget and the report that every step adds to.
class SaveSession {
 public:
  SaveSession(const carousel::CarouselModel& model, const SaveOptions& options, SaveReport& report)
      : options_(options), report_(report), writer_(options.force) {
    shown_root_ = options.dir;
    while (shown_root_.size() > 1 && shown_root_.back() == '/') shown_root_.pop_back();
    report_.dir = shown_root_;
    std::string error;
    target_ = writer_.open_target(options.dir, error);
    if (!target_.valid()) {
      stop(error);
      return;
    }
    trusted_ = std::make_unique<TrustedCarousels>(model, options.inflate_budget);
  }

  const SaveOptions& options() const { return options_; }
  SaveReport& report() { return report_; }
  TrustedCarousels& trusted() { return *trusted_; }
  bool stopped() const { return !report_.errors.empty(); }
  void stop(std::string message) {
    logio::g_log.log(1, "save stopped: %s", message.c_str());
    report_.errors.push_back(std::move(message));
  }
  std::string shown(const std::string& relative) const { return shown_root_ + "/" + relative; }

  // "object" or "data" below the target, opened once; -1 when it cannot be (refused or stopped).
  int area(const std::string& name, UniqueFd& slot) {
    if (!slot.valid() && !stopped() && !refused_areas_.count(name)) {
      std::string reason;
      slot = subdirectory(target_.get(), name, name, &reason);
      if (!reason.empty()) refused_areas_.insert(name);
    }
    return slot.valid() ? slot.get() : -1;
  }

  // Opens (creating) a directory. A refused path sets `refused` to the reason and leaves the save
  // going; without `refused` it is an error like any other.
  UniqueFd subdirectory(int parent, const std::string& name, const std::string& relative,
                        std::string* refused = nullptr) {
    std::string error;
    bool was_refused = false;
    UniqueFd fd = writer_.open_subdirectory(parent, name, shown(relative), error, &was_refused);
    if (fd.valid()) return fd;
    if (was_refused) {
      ++report_.paths_refused;
      logio::g_log.log(1, "save: %s", error.c_str());
      report_.warnings.push_back(error + "; nothing below it was written");
      if (refused) {
        *refused = "not written: a symbolic link or another entry that is no directory stands there";
        return fd;
      }
    }
    stop(error);
    return fd;
  }

  // Takes one entry and `bytes` content bytes from the save's budget; false once it is spent, which
  // is logged once. `relative` names the first path left out.
  bool budget(uint64_t bytes, const std::string& relative) {
    if (!report_.budget_reached && files_ < options_.max_files && bytes <= options_.max_bytes - bytes_) {
      ++files_;
      bytes_ += bytes;
      return true;
    }
    if (!report_.budget_reached) {
      report_.budget_reached = true;
      logio::g_log.log(1,
                       "save: the budget of %llu files and %llu MiB is reached at %s; the rest is left out",
                       static_cast<unsigned long long>(options_.max_files),
                       static_cast<unsigned long long>(options_.max_bytes >> 20), shown(relative).c_str());
      report_.warnings.push_back(budget_text() + " at " + relative + "; what the save reached after it is "
                                 "left out");
    }
    return false;
  }
  std::string budget_text() const {
    char text[160];
    std::snprintf(text, sizeof text, "the save's budget of %llu files and %llu MiB was reached",
                  static_cast<unsigned long long>(options_.max_files),
                  static_cast<unsigned long long>(options_.max_bytes >> 20));
    return text;
  }

  // Writes one file; false when the save must stop. A refused path goes on with *outcome refused and
  // the reason in *refused.
  bool write(int dir, const std::string& name, std::span<const uint8_t> content, const std::string& relative,
             WriteOutcome* outcome = nullptr) {
    std::string error;
    WriteOutcome result = writer_.write_file(dir, name, content, shown(relative), error);
    return settle(result, error, outcome);
  }

  // A hard link to a file this save wrote (`from`, below `from_dir`); not_linked leaves it to the
  // caller to write the bytes.
  bool link(int from_dir, const std::string& from, int dir, const std::string& name,
            const std::string& relative, WriteOutcome* outcome) {
    std::string error;
    WriteOutcome result = writer_.link_file(from_dir, from, dir, name, shown(relative), error);
    return settle(result, error, outcome);
  }

 private:
  bool settle(WriteOutcome result, const std::string& error, WriteOutcome* outcome) {
    if (outcome) *outcome = result;
    if (result == WriteOutcome::failed) {
      stop(error);
      return false;
    }
    if (result == WriteOutcome::kept) ++report_.existing_kept;
    if (result == WriteOutcome::refused) {
      ++report_.paths_refused;
      logio::g_log.log(1, "save: %s", error.c_str());
    }
    return true;
  }

  const SaveOptions& options_;
  SaveReport& report_;
  DiskWriter writer_;
  UniqueFd target_;
  std::string shown_root_;
  std::unique_ptr<TrustedCarousels> trusted_;
  std::set<std::string> refused_areas_;
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
};

constexpr const char* kRefusedFile =
    "not written: a symbolic link or another entry that is no regular file stands there";

// Writes the nodes of the object carousel walk as they come. The walk is depth first and appends
// each node behind its siblings, so the open directories form one stack: a node's parent is always
// on it, and whatever stands above the parent is finished.
class ObjectSaveSink : public carousel::ObjectCarouselSink {
 public:
  explicit ObjectSaveSink(SaveSession& session) : session_(session) {}

  Node root_node() override { return next(); }

  Node programme_node(Node, uint32_t programme_number) override {
    finish_carousel();
    programme_fd_.reset();
    programme_ = programme_number;
    return next();
  }

  Node carousel_node(Node, uint32_t carouselId) override {
    finish_carousel();
    Node me = next();
    if (session_.stopped()) return me;
    int object = session_.area("object", object_fd_);
    if (object < 0) return me;
    const std::string programme_name = numbered("prg-0x%04x", programme_);
    if (!programme_fd_.valid()) {
      std::string refused;
      programme_fd_ = session_.subdirectory(object, programme_name, "object/" + programme_name, &refused);
      if (!programme_fd_.valid()) return me;
    }
    const std::string name = numbered("carousel-0x%08x", carouselId);
    carousel_path_ = "object/" + programme_name + "/" + name;
    std::string refused;
    UniqueFd fd = session_.subdirectory(programme_fd_.get(), name, carousel_path_, &refused);
    if (!fd.valid()) return me;
    Level top{me, std::move(fd), "", {}, false};
    top.names.claim("missing.txt");
    top.names.claim("renamed.txt");
    levels_.push_back(std::move(top));
    carouselId_ = carouselId;
    ++session_.report().object_carousels;
    return me;
  }

  Node directory_node(Node parent, const std::string& id) override {
    Node me = next();
    if (session_.stopped()) return me;
    const int at = enter(parent);
    if (at < 0) return me;
    Level& up = levels_[static_cast<size_t>(at)];
    if (up.skipped) {
      levels_.push_back(Level{me, {}, "", {}, true});
      return me;
    }
    if (levels_.size() > kMaxSaveDepth) {
      ++session_.report().directories_too_deep;
      ++too_deep_;
      levels_.push_back(Level{me, {}, "", {}, true});
      return me;
    }
    const std::string name = claim(up, id);
    std::string relative = join_path(up.path, name);
    if (!within_budget(0, relative)) {
      levels_.push_back(Level{me, {}, "", {}, true});
      return me;
    }
    std::string refused;
    UniqueFd fd = session_.subdirectory(up.fd.get(), name, join_path(carousel_path_, relative), &refused);
    if (!fd.valid()) {
      if (!refused.empty()) missing_.push_back(relative + "\t" + refused);
      levels_.push_back(Level{me, {}, "", {}, true});
      return me;
    }
    levels_.push_back(Level{me, std::move(fd), std::move(relative), {}, false});
    return me;
  }

  Node file_node(Node parent, const std::string& id, const carousel::FileRecord* file) override {
    Node me = next();
    if (session_.stopped()) return me;
    const int at = enter(parent);
    if (at < 0) return me;
    Level& up = levels_[static_cast<size_t>(at)];
    if (up.skipped) return me;  // left out with its directory
    const std::string name = claim(up, id);
    const std::string relative = join_path(up.path, name);
    if (!file) {
      ++session_.report().objects_not_available;
      missing_.push_back(relative + "\tobject not available");
      return me;
    }
    // A file object reached over a second path is linked to its first copy: its bytes go to disk once.
    auto first = written_.find(file);
    const bool again = first != written_.end();
    if (!within_budget(again ? 0 : file->content.size(), relative)) return me;
    WriteOutcome outcome = WriteOutcome::not_linked;
    const std::string shown = join_path(carousel_path_, relative);
    if (again &&
        !session_.link(levels_.front().fd.get(), first->second, up.fd.get(), name, shown, &outcome)) {
      return me;
    }
    if (outcome == WriteOutcome::not_linked &&
        !session_.write(up.fd.get(), name, file->content, shown, &outcome)) {
      return me;
    }
    if (outcome == WriteOutcome::refused) missing_.push_back(relative + "\t" + kRefusedFile);
    if (outcome == WriteOutcome::written) {
      if (again) {
        ++session_.report().files_linked;
      } else {
        ++session_.report().files_written;
        session_.report().bytes_written += file->content.size();
      }
    }
    if (!again && outcome == WriteOutcome::written) written_.emplace(file, relative);
    return me;
  }

  // Closes the last carousel once the walk is over.
  void finish() {
    finish_carousel();
    programme_fd_.reset();
    object_fd_.reset();
  }

  size_t nodes() const { return nodes_; }

 private:
  struct Level {
    Node node;
    UniqueFd fd;
    std::string path;  // relative to the carousel directory
    NameClaims names;
    bool skipped;  // refused, past the depth limit or the budget: nothing of it is written
  };

  Node next() {
    ++nodes_;
    return nodes_;
  }

  // Index of the parent's level after closing every level above it; -1 for a parent that is not open
  // (nothing of a carousel that could not be opened is written).
  int enter(Node parent) {
    for (size_t i = levels_.size(); i-- > 0;) {
      if (levels_[i].node == parent) {
        levels_.resize(i + 1);
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  std::string claim(Level& level, const std::string& id) {
    std::string escaped = escape_binding_id(id);
    if (escaped != id) ++session_.report().names_escaped;
    bool suffixed = false;
    std::string name = level.names.claim(escaped, &suffixed);
    if (suffixed) ++session_.report().names_suffixed;
    if (name != id) renamed_.push_back(join_path(level.path, name) + "\t" + listed_binding_id(id));
    return name;
  }

  // The first path past the budget is listed; everything after it is covered by that line.
  bool within_budget(uint64_t bytes, const std::string& relative) {
    if (session_.budget(bytes, relative)) return true;
    if (!budget_listed_) {
      budget_listed_ = true;
      missing_.push_back(relative + "\tnot written: " + session_.budget_text() +
                         " here; nothing after it was written");
    }
    return false;
  }

  void finish_carousel() {
    if (!levels_.empty() && !session_.stopped()) {
      // Why objects are missing: the modules of this carousel that the save does not vouch for.
      if (const auto* modules = session_.trusted().download(static_cast<int32_t>(programme_),
                                                            static_cast<int32_t>(carouselId_))) {
        for (const auto& [moduleId, module] : *modules) {
          if (!module.saved)
            missing_.push_back(numbered("module 0x%04x", moduleId) + "\tnot saved: " + module.reason);
        }
      }
      const int fd = levels_.front().fd.get();
      const std::string listing = lines_of(missing_);
      session_.write(fd, "missing.txt", text_view(listing), carousel_path_ + "/missing.txt");
      if (!renamed_.empty() && !session_.stopped()) {
        const std::string names = lines_of(renamed_);
        session_.write(fd, "renamed.txt", text_view(names), carousel_path_ + "/renamed.txt");
      }
      if (too_deep_ != 0) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "carousel 0x%08x: directories nested deeper than %zu levels were left out with their "
                      "content",
                      carouselId_, kMaxSaveDepth);
        session_.report().warnings.push_back(text);
      }
    }
    levels_.clear();
    missing_.clear();
    renamed_.clear();
    written_.clear();
    too_deep_ = 0;
  }

  SaveSession& session_;
  size_t nodes_ = 0;
  UniqueFd object_fd_;
  UniqueFd programme_fd_;
  uint32_t programme_ = 0;
  uint32_t carouselId_ = 0;
  std::string carousel_path_;  // relative to the target
  std::vector<Level> levels_;  // the carousel directory, then the open directories below it
  std::vector<std::string> missing_;
  std::vector<std::string> renamed_;
  std::map<const carousel::FileRecord*, std::string>
      written_;  // file object -> its first path in the carousel
  bool budget_listed_ = false;
  uint64_t too_deep_ = 0;
};

void save_objects(SaveSession& session) {
  if (session.stopped()) return;
  ObjectSaveSink sink(session);
  carousel::build_tree(session.trusted().objects(), sink, session.options().node_limit);
  sink.finish();
  if (sink.nodes() >= session.options().node_limit) {
    session.report().tree_cut = true;
    char text[256];
    std::snprintf(text, sizeof text,
                  "the walk stopped at the node limit of %zu nodes; the carousel trees saved are incomplete",
                  session.options().node_limit);
    session.report().warnings.push_back(text);
  }
}

void save_download(SaveSession& session, const carousel::ProgrammeModel& program, int32_t programme,
                   uint32_t downloadId, int programme_fd, const std::string& programme_path) {
  const std::string name = numbered("download-0x%08x", downloadId);
  const std::string path = programme_path + "/" + name;
  std::string refused;
  UniqueFd dir = session.subdirectory(programme_fd, name, path, &refused);
  if (!dir.valid()) return;
  SaveReport& report = session.report();
  ++report.download_groups;

  static const TrustedCarousels::Modules kNone;
  const TrustedCarousels::Modules* found =
      session.trusted().download(programme, static_cast<int32_t>(downloadId));
  const TrustedCarousels::Modules& modules = found ? *found : kNone;

  std::map<uint32_t, std::string> not_written;  // moduleId -> why its file is not there
  bool budget_listed = false;
  for (const auto& [moduleId, module] : modules) {
    if (!module.saved) continue;
    const std::string file = numbered("module-0x%04x.bin", moduleId);
    if (!session.budget(module.image.size(), path + "/" + file)) {
      if (!budget_listed) not_written[moduleId] = "not written: " + session.budget_text() + " here";
      budget_listed = true;
      continue;
    }
    WriteOutcome outcome;
    if (!session.write(dir.get(), file, module.image, path + "/" + file, &outcome)) return;
    if (outcome == WriteOutcome::refused) not_written[moduleId] = kRefusedFile;
    if (outcome == WriteOutcome::written) {
      ++report.modules_written;
      report.bytes_written += module.image.size();
    }
  }

  char line[512];
  std::string listing;
  std::snprintf(line, sizeof line, "downloadId 0x%08x (%u)\n", downloadId, downloadId);
  listing += line;
  std::set<uint32_t> announced;
  std::vector<std::string> missing;
  auto note_missing = [&](uint32_t moduleId, const TrustedModule* module) {
    if (module && !module->saved) {
      missing.push_back(numbered("module-0x%04x.bin", moduleId) + "\t" + module->reason);
      ++(module->incomplete ? report.modules_not_complete : report.modules_refused);
    } else if (auto why = not_written.find(moduleId); why != not_written.end()) {
      missing.push_back(numbered("module-0x%04x.bin", moduleId) + "\t" + why->second);
    }
  };
  auto diis = program.dii_by_download.find(static_cast<int32_t>(downloadId));
  if (diis != program.dii_by_download.end()) {
    for (const auto& [table_id_extension, stored] : diis->second) {
      const dsmcc::CDownloadInfoIndication* dii = stored.dii();
      if (!dii) continue;
      std::snprintf(line, sizeof line, "DII table_id_extension 0x%04x: %zu modules\n",
                    static_cast<uint32_t>(table_id_extension), dii->modules.size());
      listing += line;
      for (const dsmcc::Module& module : dii->modules) {
        const auto [received, expected] = carousel::module_section_counts(
            program, static_cast<int32_t>(downloadId), module, dii->blockSize);
        std::snprintf(line, sizeof line, "  module 0x%04x (%u) size %u sections %d/%d: ", module.moduleId,
                      module.moduleId, module.moduleSize, received, expected);
        listing += line;
        auto verdict = modules.find(module.moduleId);
        const TrustedModule* trusted = verdict == modules.end() ? nullptr : &verdict->second;
        if (trusted && trusted->saved) {
          std::snprintf(line, sizeof line, "module-0x%04x.bin, %zu bytes\n", module.moduleId,
                        trusted->image.size());
          listing += line;
          // A DII of the version before an update: what was saved is the version announced since.
          if (trusted->moduleVersion != module.moduleVersion) {
            listing.pop_back();
            std::snprintf(line, sizeof line, ", moduleVersion %u (this DII announces %u)\n",
                          trusted->moduleVersion, module.moduleVersion);
            listing += line;
          }
        } else {
          listing += (trusted && !trusted->incomplete ? "not saved, " + trusted->reason
                                                      : std::string("not complete, not saved")) +
                     "\n";
        }
        if (!announced.count(module.moduleId)) note_missing(module.moduleId, trusted);
        announced.insert(module.moduleId);
      }
    }
  }
  bool heading = false;
  for (const auto& [moduleId, module] : modules) {
    if (announced.count(moduleId)) continue;
    // Blocks without a DII that never made a module are no news; blocks that did and cannot be
    // trusted are.
    if (!module.saved && module.incomplete) continue;
    if (!heading) {
      listing += "Saved modules that no stored DII announces:\n";
      heading = true;
    }
    if (module.saved) {
      std::snprintf(line, sizeof line, "  module 0x%04x (%u): module-0x%04x.bin, %zu bytes\n", moduleId,
                    moduleId, moduleId, module.image.size());
    } else {
      std::snprintf(line, sizeof line, "  module 0x%04x (%u): not saved, %s\n", moduleId, moduleId,
                    module.reason.c_str());
    }
    listing += line;
    note_missing(moduleId, &module);
  }

  if (!session.write(dir.get(), "modules.txt", text_view(listing), path + "/modules.txt")) return;
  const std::string missing_listing = lines_of(missing);
  session.write(dir.get(), "missing.txt", text_view(missing_listing), path + "/missing.txt");
}

void save_data(SaveSession& session, const carousel::CarouselModel& model) {
  UniqueFd data_fd;
  for (const auto& [programme_number, program] : model.programs) {
    if (session.stopped()) return;
    // Every download group a DII announced, and every one with a module the save has something to
    // say about.
    std::set<uint32_t> downloads;
    for (const auto& entry : program.dii_by_download) downloads.insert(static_cast<uint32_t>(entry.first));
    for (const auto& [downloadId, by_module] : program.copies_by_download) {
      const auto* modules = session.trusted().download(programme_number, downloadId);
      if (!modules) continue;
      for (const auto& [moduleId, module] : *modules)
        if (module.saved || !module.incomplete) downloads.insert(static_cast<uint32_t>(downloadId));
    }
    if (downloads.empty()) continue;
    int data = session.area("data", data_fd);
    if (data < 0) return;
    const std::string programme_name = numbered("prg-0x%04x", static_cast<uint32_t>(programme_number));
    const std::string programme_path = "data/" + programme_name;
    std::string refused;
    UniqueFd programme_fd = session.subdirectory(data, programme_name, programme_path, &refused);
    if (!programme_fd.valid()) continue;
    for (uint32_t downloadId : downloads) {
      if (session.stopped()) return;
      save_download(session, program, programme_number, downloadId, programme_fd.get(), programme_path);
    }
  }
}

std::string counted(uint64_t n, const char* one, const char* many) {
  char text[128];
  std::snprintf(text, sizeof text, "%" PRIu64 " %s", n, n == 1 ? one : many);
  return text;
}

}  // namespace

SaveReport save_object_carousels(const carousel::CarouselModel& model, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(model, options, report);
  save_objects(session);
  return report;
}

SaveReport save_data_carousels(const carousel::CarouselModel& model, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(model, options, report);
  if (!session.stopped()) save_data(session, model);
  return report;
}

SaveReport save_carousels(const carousel::CarouselModel& model, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(model, options, report);
  save_objects(session);
  if (!session.stopped()) save_data(session, model);
  return report;
}

std::string format_save_summary(const SaveReport& report) {
  std::string text;
  if (report.ok()) {
    text = "Saved to " + report.dir + ": ";
  } else {
    text = "Save to " + report.dir + " stopped: " + report.errors.front() + ". Written before that: ";
  }
  text += counted(report.files_written, "file", "files") + " of " +
          counted(report.object_carousels, "object carousel", "object carousels") + ", " +
          counted(report.modules_written, "module image", "module images") + " of " +
          counted(report.download_groups, "download group", "download groups") + ", " +
          counted(report.bytes_written, "byte", "bytes") + " in all.";
  if (report.objects_not_available != 0) {
    text += " " + counted(report.objects_not_available, "object", "objects") +
            " not available (listed in missing.txt).";
  }
  if (report.modules_not_complete != 0) {
    text += " " + counted(report.modules_not_complete, "module", "modules") +
            " not complete (listed in missing.txt).";
  }
  if (report.modules_refused != 0) {
    text +=
        " " + counted(report.modules_refused, "module", "modules") +
        " not saved: their blocks are not one whole the save can vouch for (listed in missing.txt with the "
        "reason).";
  }
  if (report.files_linked != 0) {
    text += " " + counted(report.files_linked, "further path", "further paths") +
            " of files already written made hard links to them.";
  }
  if (report.paths_refused != 0) {
    text += " " + counted(report.paths_refused, "path", "paths") +
            " not written: a symbolic link or another entry stands there (left as it is).";
  }
  if (report.existing_kept != 0) {
    text += " " + counted(report.existing_kept, "existing file", "existing files") +
            " kept as they were (force replaces them).";
  }
  if (report.names_escaped != 0) {
    text += " " + counted(report.names_escaped, "name", "names") +
            " from the broadcast written escaped (listed in renamed.txt).";
  }
  if (report.names_suffixed != 0) {
    text += " " + counted(report.names_suffixed, "name", "names") +
            " given a suffix against a collision (listed in renamed.txt).";
  }
  for (const auto& warning : report.warnings) {
    text += " Note: " + warning + ".";
  }
  return text;
}

}  // namespace save
