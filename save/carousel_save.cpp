#include "save/carousel_save.h"

#include <cinttypes>
#include <cstdio>
#include <set>
#include <span>
#include <utility>

#include "carousel/module_assembly.h"
#include "log/debug_log.h"
#include "save/disk_writer.h"
#include "save/file_names.h"

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

// One save: the open target directory, the writer and the report that every step adds to.
class SaveSession {
 public:
  SaveSession(const SaveOptions& options, SaveReport& report)
      : options_(options), report_(report), writer_(options.force) {
    shown_root_ = options.dir;
    while (shown_root_.size() > 1 && shown_root_.back() == '/') shown_root_.pop_back();
    report_.dir = shown_root_;
    std::string error;
    target_ = writer_.open_target(options.dir, error);
    if (!target_.valid()) stop(error);
  }

  const SaveOptions& options() const { return options_; }
  SaveReport& report() { return report_; }
  bool stopped() const { return !report_.errors.empty(); }
  void stop(std::string message) {
    g_log.log(1, "save stopped: %s", message.c_str());
    report_.errors.push_back(std::move(message));
  }
  std::string shown(const std::string& relative) const { return shown_root_ + "/" + relative; }

  // "object" or "data" below the target, opened once.
  int area(const std::string& name, UniqueFd& slot) {
    if (!slot.valid() && !stopped()) slot = subdirectory(target_.get(), name, name);
    return slot.get();
  }

  UniqueFd subdirectory(int parent, const std::string& name, const std::string& relative) {
    std::string error;
    UniqueFd fd = writer_.open_subdirectory(parent, name, shown(relative), error);
    if (!fd.valid()) stop(error);
    return fd;
  }

  // Writes one file; false when the save must stop. `counted` adds the bytes to the report.
  bool write(int dir, const std::string& name, std::span<const uint8_t> content, const std::string& relative,
             WriteOutcome* outcome = nullptr) {
    std::string error;
    WriteOutcome result = writer_.write_file(dir, name, content, shown(relative), error);
    if (outcome) *outcome = result;
    if (result == WriteOutcome::failed) {
      stop(error);
      return false;
    }
    if (result == WriteOutcome::kept) ++report_.existing_kept;
    return true;
  }

 private:
  const SaveOptions& options_;
  SaveReport& report_;
  DiskWriter writer_;
  UniqueFd target_;
  std::string shown_root_;
};

// Writes the nodes of the object carousel walk as they come. The walk is depth first and appends
// each node behind its siblings, so the open directories form one stack: a node's parent is always
// on it, and whatever stands above the parent is finished.
class ObjectSaveSink : public ObjectCarouselSink {
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
    if (session_.stopped()) return me;
    const std::string programme_name = numbered("prg-0x%04x", programme_);
    if (!programme_fd_.valid()) {
      programme_fd_ = session_.subdirectory(object, programme_name, "object/" + programme_name);
      if (session_.stopped()) return me;
    }
    const std::string name = numbered("carousel-0x%08x", carouselId);
    carousel_path_ = "object/" + programme_name + "/" + name;
    UniqueFd fd = session_.subdirectory(programme_fd_.get(), name, carousel_path_);
    if (session_.stopped()) return me;
    Level top{me, std::move(fd), "", {}, false};
    top.names.claim("missing.txt");
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
    UniqueFd fd = session_.subdirectory(up.fd.get(), name, join_path(carousel_path_, relative));
    if (session_.stopped()) return me;
    levels_.push_back(Level{me, std::move(fd), std::move(relative), {}, false});
    return me;
  }

  Node file_node(Node parent, const std::string& id, const FileRecord* file) override {
    Node me = next();
    if (session_.stopped()) return me;
    const int at = enter(parent);
    if (at < 0) return me;
    Level& up = levels_[static_cast<size_t>(at)];
    if (up.skipped) return me;  // left out with its too deep directory
    const std::string name = claim(up, id);
    const std::string relative = join_path(up.path, name);
    if (!file) {
      ++session_.report().objects_not_available;
      missing_.push_back(relative);
      return me;
    }
    WriteOutcome outcome;
    if (!session_.write(up.fd.get(), name, file->content, join_path(carousel_path_, relative), &outcome)) {
      return me;
    }
    if (outcome == WriteOutcome::written) {
      ++session_.report().files_written;
      session_.report().bytes_written += file->content.size();
    }
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
    bool skipped;  // below the depth limit: nothing of it is written
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
    return name;
  }

  void finish_carousel() {
    if (!levels_.empty() && !session_.stopped()) {
      const std::string listing = lines_of(missing_);
      session_.write(levels_.front().fd.get(), "missing.txt", text_view(listing),
                     carousel_path_ + "/missing.txt");
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
  uint64_t too_deep_ = 0;
};

void save_objects(SaveSession& session, CarouselStore& store) {
  if (session.stopped()) return;
  ObjectSaveSink sink(session);
  build_tree(store, sink, session.options().node_limit);
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

const ModuleBlockMap* find_blocks(const ProgramRecord& program, uint32_t downloadId, uint32_t moduleId) {
  auto download = program.ddb_by_download.find(static_cast<int32_t>(downloadId));
  if (download == program.ddb_by_download.end()) return nullptr;
  auto module = download->second.find(static_cast<int32_t>(moduleId));
  return module == download->second.end() ? nullptr : &module->second;
}

void save_download(SaveSession& session, const ProgramRecord& program, uint32_t downloadId, int programme_fd,
                   const std::string& programme_path) {
  const std::string name = numbered("download-0x%08x", downloadId);
  const std::string path = programme_path + "/" + name;
  UniqueFd dir = session.subdirectory(programme_fd, name, path);
  if (session.stopped()) return;
  SaveReport& report = session.report();
  ++report.download_groups;

  static const std::map<uint32_t, Bytes> kNoImages;
  auto carousel = program.object_carousels.find(static_cast<int32_t>(downloadId));
  const std::map<uint32_t, Bytes>& images =
      carousel == program.object_carousels.end() ? kNoImages : carousel->second.modules;

  for (const auto& [moduleId, image] : images) {
    const std::string file = numbered("module-0x%04x.bin", moduleId);
    WriteOutcome outcome;
    if (!session.write(dir.get(), file, image, path + "/" + file, &outcome)) return;
    if (outcome == WriteOutcome::written) {
      ++report.modules_written;
      report.bytes_written += image.size();
    }
  }

  char line[256];
  std::string listing;
  std::snprintf(line, sizeof line, "downloadId 0x%08x (%u)\n", downloadId, downloadId);
  listing += line;
  std::set<uint32_t> announced;
  std::vector<std::string> missing;
  auto diis = program.dii_by_download.find(static_cast<int32_t>(downloadId));
  if (diis != program.dii_by_download.end()) {
    for (const auto& [table_id_extension, stored] : diis->second) {
      const CDownloadInfoIndication* dii = stored.dii();
      if (!dii) continue;
      std::snprintf(line, sizeof line, "DII table_id_extension 0x%04x: %zu modules\n",
                    static_cast<uint32_t>(table_id_extension), dii->modules.size());
      listing += line;
      for (const Module& module : dii->modules) {
        const ModuleBlockMap* blocks = find_blocks(program, downloadId, module.moduleId);
        std::snprintf(line, sizeof line, "  module 0x%04x (%u) size %u sections %d/%d: ", module.moduleId,
                      module.moduleId, module.moduleSize, module_received_count(blocks),
                      module_expected_count(blocks));
        listing += line;
        auto image = images.find(module.moduleId);
        if (image != images.end()) {
          std::snprintf(line, sizeof line, "module-0x%04x.bin, %zu bytes\n", module.moduleId,
                        image->second.size());
        } else {
          std::snprintf(line, sizeof line, "not complete, not saved\n");
          if (!announced.count(module.moduleId)) {
            missing.push_back(numbered("module-0x%04x.bin", module.moduleId));
            ++report.modules_not_complete;
          }
        }
        listing += line;
        announced.insert(module.moduleId);
      }
    }
  }
  bool heading = false;
  for (const auto& [moduleId, image] : images) {
    if (announced.count(moduleId)) continue;
    if (!heading) {
      listing += "Saved modules that no stored DII announces:\n";
      heading = true;
    }
    std::snprintf(line, sizeof line, "  module 0x%04x (%u): module-0x%04x.bin, %zu bytes\n", moduleId,
                  moduleId, moduleId, image.size());
    listing += line;
  }

  if (!session.write(dir.get(), "modules.txt", text_view(listing), path + "/modules.txt")) return;
  const std::string missing_listing = lines_of(missing);
  session.write(dir.get(), "missing.txt", text_view(missing_listing), path + "/missing.txt");
}

void save_data(SaveSession& session, const CarouselStore& store) {
  UniqueFd data_fd;
  for (const auto& [programme_number, program] : store.programs) {
    if (session.stopped()) return;
    // Every download group a DII announced, and every one that has a module image without a DII.
    std::set<uint32_t> downloads;
    for (const auto& entry : program.dii_by_download) downloads.insert(static_cast<uint32_t>(entry.first));
    for (const auto& [key, carousel] : program.object_carousels) {
      if (!carousel.modules.empty()) downloads.insert(static_cast<uint32_t>(key));
    }
    if (downloads.empty()) continue;
    int data = session.area("data", data_fd);
    if (session.stopped()) return;
    const std::string programme_name = numbered("prg-0x%04x", static_cast<uint32_t>(programme_number));
    const std::string programme_path = "data/" + programme_name;
    UniqueFd programme_fd = session.subdirectory(data, programme_name, programme_path);
    for (uint32_t downloadId : downloads) {
      if (session.stopped()) return;
      save_download(session, program, downloadId, programme_fd.get(), programme_path);
    }
  }
}

std::string counted(uint64_t n, const char* one, const char* many) {
  char text[128];
  std::snprintf(text, sizeof text, "%" PRIu64 " %s", n, n == 1 ? one : many);
  return text;
}

}  // namespace

SaveReport save_object_carousels(CarouselStore& store, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(options, report);
  save_objects(session, store);
  return report;
}

SaveReport save_data_carousels(const CarouselStore& store, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(options, report);
  if (!session.stopped()) save_data(session, store);
  return report;
}

SaveReport save_carousels(CarouselStore& store, const SaveOptions& options) {
  SaveReport report;
  SaveSession session(options, report);
  save_objects(session, store);
  if (!session.stopped()) save_data(session, store);
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
  if (report.existing_kept != 0) {
    text += " " + counted(report.existing_kept, "existing file", "existing files") +
            " kept as they were (force replaces them).";
  }
  if (report.names_escaped != 0) {
    text += " " + counted(report.names_escaped, "name", "names") + " from the broadcast written escaped.";
  }
  if (report.names_suffixed != 0) {
    text += " " + counted(report.names_suffixed, "name", "names") + " given a suffix against a collision.";
  }
  for (const auto& warning : report.warnings) {
    text += " Note: " + warning + ".";
  }
  text += "\n";
  return text;
}
