// Name resolution from each carousel's service gateway down, reported to a node sink.
#include <set>
#include <vector>

#include "carousel/object_carousel.h"
#include "log/debug_log.h"

namespace carousel {

std::string object_key_text(bytes::ByteView objectKey) {
  std::string text;
  text.reserve(objectKey.size() * 2);
  for (uint8_t byte : objectKey) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

std::string reference_text(const dsmcc::ObjectLocationRef& ref) {
  std::string key = object_key_text(ref.objectKey);
  int n = std::snprintf(nullptr, 0, "carousel_id=0x%08x module_id=0x%08x key=%s", ref.carouselId,
                        ref.moduleId, key.c_str());
  std::string text(static_cast<size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, "carousel_id=0x%08x module_id=0x%08x key=%s", ref.carouselId,
                ref.moduleId, key.c_str());
  return text;
}

namespace {

constexpr const char* kObjectLimitLine =
    "tree node limit of %zu reached; the rest of the object carousel tree is not shown";

const DirectoryRecord kEmptyDirectory;

class NameWalk {
 public:
  NameWalk(const ObjectCarousel& carousel, ObjectCarouselSink& sink, TreeBudget& budget)
      : carousel_(carousel), sink_(sink), budget_(budget) {}

  void add_file(ObjectCarouselSink::Node parent, const Binding& binding) {
    auto found = carousel_.files.find(binding.ref);
    const FileRecord* file = found == carousel_.files.end() ? nullptr : &found->second;
    if (budget_.take()) sink_.file_node(parent, binding.id, file);
  }

  // A directory with its whole subtree: first its directories, each followed at once by its own
  // subtree, then its files. The path holds the ancestors, so a binding back to one of them is cut
  // while a directory reached over two bindings shows under both. Kept iterative: a chain of
  // thousands of nested directories must not exhaust the thread's stack.
  void add_directory(ObjectCarouselSink::Node parent, const Binding& top) {
    struct Frame {
      ObjectCarouselSink::Node node;
      const DirectoryRecord* record;
      const dsmcc::ObjectLocationRef* ref;
      size_t next_directory;
      size_t next_file;
    };
    std::vector<Frame> frames;
    auto enter = [&](ObjectCarouselSink::Node at, const Binding& binding) {
      if (path_.count(binding.ref)) {
        // A cut costs as much as a node: bindings back to an ancestor could otherwise keep the walk
        // busy without ever growing the tree.
        if (budget_.take()) logio::g_log.log(4, "object key already processed");
        return;
      }
      auto found = carousel_.directories.find(binding.ref);
      const DirectoryRecord* record = &kEmptyDirectory;
      if (found == carousel_.directories.end()) {
        logio::g_log.log(2, "not found");
      } else {
        record = &found->second;
      }
      if (!budget_.take()) return;
      path_.insert(binding.ref);
      frames.push_back({sink_.directory_node(at, binding.id), record, &binding.ref, 0, 0});
    };

    enter(parent, top);
    while (!frames.empty() && !budget_.exhausted()) {
      Frame& frame = frames.back();
      if (frame.next_directory < frame.record->directories.size()) {
        const Binding& binding = frame.record->directories[frame.next_directory++];
        enter(frame.node, binding);
      } else if (frame.next_file < frame.record->files.size()) {
        add_file(frame.node, frame.record->files[frame.next_file++]);
      } else {
        path_.erase(*frame.ref);
        frames.pop_back();
      }
    }
    path_.clear();
  }

 private:
  const ObjectCarousel& carousel_;
  ObjectCarouselSink& sink_;
  TreeBudget& budget_;
  std::set<dsmcc::ObjectLocationRef> path_;
};

void build_carousel(const ProgrammeModel& program, int32_t key, const ObjectCarousel& carousel,
                    ObjectCarouselSink& sink, ObjectCarouselSink::Node programme_node, TreeBudget& budget) {
  uint32_t carousel_key = static_cast<uint32_t>(key);
  logio::g_log.log(4, "Processing OC %#x", carousel_key);
  logio::g_log.log(4, "%d DSI sections", static_cast<int>(program.gateway_dsis.size()));
  auto gateway = program.gateway_dsis.find(key);
  if (gateway == program.gateway_dsis.end()) {
    logio::g_log.log(2, "OC %#x not found", carousel_key);
    return;
  }
  const dsmcc::CDownloadServerInitiate* dsi = gateway->second.dsi();
  if (!dsi || dsi->gateway.profiles.empty()) {
    logio::g_log.log(4, "profile body empty");
    return;
  }
  const dsmcc::BiopProfileBody& profile = dsi->gateway.profiles.front();
  dsmcc::ObjectLocationRef root_ref;
  root_ref.carouselId = profile.carouselId;
  root_ref.moduleId = profile.moduleId;
  root_ref.objectKey = profile.objectKey;
  if (!budget.take()) return;
  ObjectCarouselSink::Node carousel_node = sink.carousel_node(programme_node, carousel_key);

  const DirectoryRecord* root = &kEmptyDirectory;
  if (auto found = carousel.directories.find(root_ref);
      !root_ref.objectKey.empty() && found != carousel.directories.end())
    root = &found->second;
  logio::g_log.log(4, "root key: %s", reference_text(root_ref).c_str());

  NameWalk walk(carousel, sink, budget);
  logio::g_log.log(4, "resolving %u directories", static_cast<unsigned>(root->directories.size()));
  for (const Binding& binding : root->directories) {
    if (budget.exhausted()) return;
    logio::g_log.log(4, "adding directory: %s", binding.id.c_str());
    walk.add_directory(carousel_node, binding);
  }
  logio::g_log.log(4, "resolving %u files", static_cast<unsigned>(root->files.size()));
  for (const Binding& binding : root->files) {
    if (budget.exhausted()) return;
    walk.add_file(carousel_node, binding);
  }
}

}  // namespace

void build_tree(const CarouselModel& model, ObjectCarouselSink& sink, size_t node_limit) {
  TreeBudget budget(node_limit, kObjectLimitLine);
  logio::g_log.log(4, "CObjectCarouselDlg::build_tree()");
  if (!budget.take()) return;
  ObjectCarouselSink::Node root = sink.root_node();
  for (const auto& [programme_number, program] : model.programs) {
    logio::g_log.log(4, "Processing Prg %#x", static_cast<uint32_t>(programme_number));
    if (!budget.take()) return;
    ObjectCarouselSink::Node programme_node =
        sink.programme_node(root, static_cast<uint32_t>(programme_number));
    for (const auto& [key, carousel] : program.object_carousels) {
      build_carousel(program, key, carousel, sink, programme_node, budget);
      if (budget.exhausted()) return;
    }
  }
}

}  // namespace carousel
