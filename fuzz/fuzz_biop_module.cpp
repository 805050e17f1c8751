// The BIOP module parser and the name walk on arbitrary module images: up to four images (moduleIds
// 1 to 4) separated by the four bytes "|MOD", parsed into one carousel whose root is the first
// directory recorded, then walked into a sink that builds nothing.
#include <cstring>

#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

using namespace carousel;

namespace {

constexpr int32_t kCarouselKey = 0x10;

struct CountingSink : ObjectCarouselSink {
  size_t nodes = 0;
  Node root_node() override { return nodes++; }
  Node programme_node(Node, uint32_t) override { return nodes++; }
  Node carousel_node(Node, uint32_t) override { return nodes++; }
  Node directory_node(Node, const std::string&) override { return nodes++; }
  Node file_node(Node, const std::string&, const FileRecord*) override { return nodes++; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  CarouselModel model;
  ProgrammeModel& program = model.programs[1];
  ObjectCarousel& carousel = program.object_carousels[kCarouselKey];
  std::vector<bytes::Bytes> images(1);
  for (size_t i = 0; i < size; ++i) {
    if (images.size() < 4 && i + 4 <= size && std::memcmp(data + i, "|MOD", 4) == 0) {
      images.emplace_back();
      i += 3;
    } else {
      images.back().push_back(data[i]);
    }
  }
  for (size_t i = 0; i < images.size(); ++i)
    carousel.modules[static_cast<uint32_t>(i + 1)] = std::move(images[i]);
  for (const auto& [moduleId, image] : carousel.modules)
    parse_OC_module(image, carousel, kCarouselKey, moduleId);
  // The gateway: the first directory recorded, or an empty key when there is none.
  dsmcc::CDownloadServerInitiate dsi;
  dsi.gatewayParsed = true;
  dsmcc::BiopProfileBody profile;
  profile.profileId_tag = dsmcc::BIOP::TAG_BIOP;
  profile.carouselId = kCarouselKey;
  if (!carousel.directories.empty()) {
    profile.moduleId = carousel.directories.begin()->first.moduleId;
    profile.objectKey = carousel.directories.begin()->first.objectKey;
  }
  dsi.gateway.profiles.push_back(profile);
  program.gateway_dsis[kCarouselKey] = store::StoredMessage{nullptr, &dsi};
  CountingSink sink;
  build_tree(model, sink, 1500);
  return 0;
}
