// The BIOP module parser and the name walk on arbitrary module images.
//
// The input holds up to four module images (moduleIds 1 to 4) separated by the four bytes "|MOD".
// Each is parsed into one carousel; the carousel's root is then the first directory recorded, a
// gateway DSI naming it is put in the programme index, and build_tree reports the tree to a sink.
//
// Beyond "no crash": every file record views bytes of the image it came from; the sink is only ever
// given handles it returned; the tree never passes the node limit; and the tree is, node for node,
// a prefix of what a plain recursive walk over the same records gives (directories bound again under
// one of their own ancestors are cut, directories reached over two bindings appear under both).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kNodeLimit = 1500;
constexpr int32_t kCarouselKey = 0x10;
constexpr uint8_t kSeparator[4] = {'|', 'M', 'O', 'D'};

struct Line {
  size_t parent;
  int depth;
  std::string text;
};

// Records the tree as (depth, text) lines and checks every handle it is given.
class CheckingSink : public ObjectCarouselSink {
 public:
  using Handle = ObjectCarouselSink::Node;

  explicit CheckingSink(const ObjectCarousel& carousel) : carousel_(carousel) {}

  Handle root_node() override { return add(kNone, "root"); }
  Handle programme_node(Handle root, uint32_t number) override {
    FUZZ_CHECK(kind(root) == 'r');
    return add(root, "prg " + std::to_string(number));
  }
  Handle carousel_node(Handle programme, uint32_t carouselId) override {
    FUZZ_CHECK(kind(programme) == 'p');
    return add(programme, "oc " + std::to_string(carouselId));
  }
  Handle directory_node(Handle parent, const std::string& id) override {
    FUZZ_CHECK(kind(parent) == 'o' || kind(parent) == 'd');
    return add(parent, "dir " + id);
  }
  Handle file_node(Handle parent, const std::string& id, const FileRecord* file) override {
    FUZZ_CHECK(kind(parent) == 'o' || kind(parent) == 'd');
    if (file) {
      FUZZ_CHECK(file->content.size() == file->content_length);
      bool inside = false;
      for (const auto& [moduleId, image] : carousel_.modules) inside |= fuzz::view_inside(file->content, image);
      FUZZ_CHECK(inside);
    }
    return add(parent, "fil " + id + (file ? " " + std::to_string(file->content_length) : " n/a"));
  }

  std::vector<Line> nodes;

 private:
  static constexpr size_t kNone = ~size_t{0};

  char kind(Handle handle) const {
    FUZZ_CHECK(handle < nodes.size());
    return nodes[handle].text[0];
  }
  Handle add(size_t parent, std::string text) {
    const int depth = parent == kNone ? 0 : nodes[parent].depth + 1;
    nodes.push_back({parent, depth, std::move(text)});
    return nodes.size() - 1;
  }

  const ObjectCarousel& carousel_;
};

// The plain recursive walk the tree must agree with, as (depth, text) lines, stopped after `limit`.
class ReferenceWalk {
 public:
  ReferenceWalk(const ObjectCarousel& carousel, size_t limit) : carousel_(carousel), limit_(limit) {}

  void directory(int depth, const Binding& binding) {
    if (full() || path_.count(binding.ref)) return;
    path_.insert(binding.ref);
    emit(depth, "dir " + binding.id);
    const auto found = carousel_.directories.find(binding.ref);
    if (found != carousel_.directories.end()) {
      for (const auto& child : found->second.directories) directory(depth + 1, child);
      for (const auto& child : found->second.files) file(depth + 1, child);
    }
    path_.erase(binding.ref);
  }
  void file(int depth, const Binding& binding) {
    const auto found = carousel_.files.find(binding.ref);
    emit(depth, "fil " + binding.id +
                    (found == carousel_.files.end() ? " n/a" : " " + std::to_string(found->second.content_length)));
  }
  void emit(int depth, std::string text) {
    if (!full()) lines.push_back({0, depth, std::move(text)});
  }
  bool full() const { return lines.size() >= limit_; }

  std::vector<Line> lines;

 private:
  const ObjectCarousel& carousel_;
  size_t limit_;
  std::set<ObjectLocationRef> path_;
};

std::vector<Bytes> split_images(const uint8_t* data, size_t size) {
  std::vector<Bytes> images(1);
  for (size_t i = 0; i < size; ++i) {
    if (images.size() < 4 && i + 4 <= size && std::memcmp(data + i, kSeparator, 4) == 0) {
      images.emplace_back();
      i += 3;
      continue;
    }
    images.back().push_back(data[i]);
  }
  return images;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  CarouselModel model;
  ProgrammeModel& program = model.programs[1];
  ObjectCarousel& carousel = program.object_carousels[kCarouselKey];

  std::vector<Bytes> images = split_images(data, size);
  for (size_t i = 0; i < images.size(); ++i) carousel.modules[static_cast<uint32_t>(i + 1)] = std::move(images[i]);
  for (const auto& [moduleId, image] : carousel.modules) parse_OC_module(image, carousel, kCarouselKey, moduleId);

  for (const auto& [ref, file] : carousel.files) {
    FUZZ_CHECK(file.content.size() == file.content_length);
    FUZZ_CHECK(fuzz::view_inside(file.content, carousel.modules.at(ref.moduleId)));
  }
  for (const auto& [ref, record] : carousel.directories) {
    FUZZ_CHECK(carousel.modules.count(ref.moduleId) == 1);
    for (const auto& binding : record.directories) FUZZ_CHECK(binding.kind == "dir");
    for (const auto& binding : record.files) FUZZ_CHECK(binding.kind == "fil");
  }

  // The gateway: the first directory recorded, or an empty key when there is none.
  CDownloadServerInitiate dsi;
  dsi.gatewayParsed = true;
  BiopProfileBody profile;
  profile.profileId_tag = BIOP::TAG_BIOP;
  profile.carouselId = kCarouselKey;
  if (!carousel.directories.empty()) {
    profile.moduleId = carousel.directories.begin()->first.moduleId;
    profile.objectKey = carousel.directories.begin()->first.objectKey;
  }
  dsi.gateway.profiles.push_back(profile);
  program.gateway_dsis[kCarouselKey] = StoredMessage{nullptr, &dsi};

  // What the tree must look like, computed before build_tree may add an empty root record.
  ReferenceWalk reference(carousel, kNodeLimit);
  reference.emit(0, "root");
  reference.emit(1, "prg 1");
  reference.emit(2, "oc " + std::to_string(kCarouselKey));
  ObjectLocationRef root{kCarouselKey, profile.moduleId, profile.objectKey};
  const auto root_record = carousel.directories.find(root);
  if (!root.objectKey.empty() && root_record != carousel.directories.end()) {
    for (const auto& binding : root_record->second.directories) reference.directory(3, binding);
    for (const auto& binding : root_record->second.files) reference.file(3, binding);
  }

  CheckingSink sink(carousel);
  build_tree(model, sink, kNodeLimit);
  FUZZ_CHECK(sink.nodes.size() <= kNodeLimit);
  FUZZ_CHECK(sink.nodes.size() <= reference.lines.size());
  if (reference.lines.size() < kNodeLimit) FUZZ_CHECK(sink.nodes.size() == reference.lines.size());
  for (size_t i = 0; i < sink.nodes.size(); ++i) {
    FUZZ_CHECK(sink.nodes[i].depth == reference.lines[i].depth);
    FUZZ_CHECK(sink.nodes[i].text == reference.lines[i].text);
  }
  return 0;
}
