// The carousel model that rebuild_carousels makes of a capture: which modules complete, their images,
// the files the names reach, both page trees, the limits and the log lines in their order.
#include "carousel/carousel_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "carousel/object_carousel.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/store_capture.h"

using namespace carousel;

namespace ts = testsupport;
using ts::ByteVec;

namespace {

constexpr uint32_t kCarousel = 0x10;

// One line per node, two spaces a level.
std::string outline(const PageTree& tree) {
  std::vector<size_t> depth;
  std::string out;
  for (const PageNode& node : tree.nodes) {
    depth.push_back(node.parent == PageTree::kTop ? 0 : depth[node.parent] + 1);
    out += std::string(depth.back() * 2, ' ') + node.text + "\n";
  }
  return out;
}

// The "Sections: (r/e)" of every module line of the data carousel tree, in order.
std::string section_counts(const PageTree& tree) {
  std::string out;
  for (const PageNode& node : tree.nodes)
    if (auto at = node.text.find("Sections: "); at != std::string::npos) out += node.text.substr(at + 10);
  return out;
}

// A gateway with directory "apps" (index.html) in module 1 and 2, logo.png compressed in module 3.
ts::OcCarousel small_carousel() {
  ts::OcCarousel oc(kCarousel);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "index.html", ts::pattern_bytes(150, 3), 2);
  oc.add_file(oc.gateway(), "logo.png", ts::pattern_bytes(300, 4), 3);
  oc.set_compressed(3);
  return oc;
}

const char* kSmallTree =
    "Object Carousels\n  Program Number: 0x0001 (1)\n    carouselId 0x00000010 (16)\n      apps\n"
    "        index.html - size=150\n      logo.png - size=300\n";

// `sections` less the one at `at`.
std::vector<ByteVec> without(std::vector<ByteVec> sections, size_t at) {
  sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(at));
  return sections;
}

struct ModelCase {
  const char* name;
  std::vector<ByteVec> sections;
  std::vector<uint16_t> images;  // modules with an image in the model
  std::string counts;            // "Sections: (r/e)" of the data tree's module lines
  std::string object_tree;       // outline; empty: not compared
  int level;                     // of a line the log holds once; 0 for none
  std::string line;
};

}  // namespace

TEST(CarouselModel, RebuildTellsWhatEachCaptureHolds) {
  const ts::OcCarousel oc = small_carousel();
  ts::OcCarousel cyclic(kCarousel);
  auto top = cyclic.add_directory(cyclic.gateway(), "top", 1);
  auto shared = cyclic.add_directory(top, "a", 1);
  cyclic.bind(top, "b", shared);
  cyclic.bind(shared, "up", top);
  cyclic.bind_missing(cyclic.gateway(), "gone", "fil", 2, {9, 9});
  const std::string programme = "Object Carousels\n  Program Number: 0x0001 (1)\n";
  const std::string gateway = programme + "    carouselId 0x00000010 (16)\n";
  const std::string lost =
      gateway + "      apps\n        index.html - object not available\n      logo.png - size=300\n";
  const std::string cycle = gateway + "      top\n        a\n        b\n      gone - object not available\n";
  // Blocks 1 and 3 of module 2 are sections 8 and 10: behind the DSI, the DII and module 1's five blocks.
  const std::vector<ByteVec> whole = oc.sections(64);
  const std::vector<ModelCase> cases = {
      {"whole carousel", whole, {1, 2, 3}, "(5/5)(4/4)(5/5)", kSmallTree, 0, ""},
      {"a block lost", without(whole, 8), {1, 3}, "(5/5)(3/4)(5/5)", lost, 2, "module not complete"},
      {"last block lost", without(whole, 10), {1, 3}, "(5/5)(3/4)(5/5)", "", 2, "module not complete"},
      {"no gateway DSI", without(whole, 0), {1, 2, 3}, "(5/5)(4/4)(5/5)", programme, 2, "OC 0x10 not found"},
      {"shared, cyclic, gone", cyclic.sections(), {1}, "(1/1)", cycle, 4, "object key already processed"},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.name);
    ts::StoreCapture capture;
    capture.feed_all(0x100, c.sections);
    ts::LogCapture log;
    const CarouselModel model = rebuild_carousels(capture.store);
    const ObjectCarousel& carousel = model.programs.at(1).object_carousels.at(kCarousel);
    std::vector<uint16_t> images;
    for (const auto& [moduleId, image] : carousel.modules) images.push_back(static_cast<uint16_t>(moduleId));
    EXPECT_EQ(images, c.images);
    EXPECT_EQ(section_counts(model.data_tree), c.counts);
    if (!c.object_tree.empty()) {
      EXPECT_EQ(outline(model.object_tree), c.object_tree);
    }
    const size_t lines = c.level ? log.count(c.level, c.line) : log.count_containing("not");
    EXPECT_EQ(lines > 0, c.level != 0) << log.dump();
  }
}

// Of two PIDs of one programme, the later PID's blocks of a module are the ones the model takes.
TEST(CarouselModel, TheLaterPidOfAProgrammeReplacesTheEarlier) {
  ts::OcCarousel first(kCarousel), second(kCarousel);
  first.add_file(first.gateway(), "f", ts::text_bytes("first"), 2);
  second.add_file(second.gateway(), "f", ts::text_bytes("later"), 2);
  ts::StoreCapture capture({{1, 0x100}, {1, 0x200}});
  capture.feed_all(0x100, first.sections());
  for (const auto& s : ts::module_sections(kCarousel, 2, second.module_images().at(2)))
    capture.feed(0x200, s);
  const CarouselModel model = rebuild_carousels(capture.store);
  EXPECT_EQ(model.programs.at(1).object_carousels.at(kCarousel).modules.at(2), second.module_images().at(2));
}

TEST(CarouselModel, LimitsCutTheTreesAndTheInflationWithOneLineEach) {
  ts::OcCarousel oc = small_carousel();
  oc.add_file(oc.gateway(), "zeros", ByteVec(100000, 0), 4);
  oc.set_compressed(4);
  ts::StoreCapture capture;
  capture.feed_all(0x100, oc.sections(40));
  ts::LogCapture log;
  const CarouselModel model = rebuild_carousels(capture.store, {5, 50000});
  EXPECT_EQ(model.data_tree.nodes.size(), 5u);
  EXPECT_EQ(model.object_tree.nodes.size(), 5u);
  for (const std::string tree : {"data", "object"})
    EXPECT_EQ(
        log.count(1, "tree node limit of 5 reached; the rest of the " + tree + " carousel tree is not shown"),
        1u);
  // 100000 bytes come out in steps far below the budget: the running total passes it.
  const ObjectCarousel& carousel = model.programs.at(1).object_carousels.at(kCarousel);
  EXPECT_EQ(carousel.not_inflated.at(4), 50000u);
  // Module 4 stays compressed; the others are the modules as sent, in block order, the first inflated.
  for (const auto& [moduleId, image] : oc.plain_module_images())
    EXPECT_EQ(carousel.modules.at(moduleId), moduleId == 4 ? oc.module_images().at(4) : image) << moduleId;
  EXPECT_EQ(model.inflated_bytes, oc.plain_module_images().at(3).size());
}

TEST(Inflate, ImagesInflateOnlyWhenWholeAndWithinTheirLimit) {
  struct Case {
    const char* name;
    ByteVec image;
    size_t limit;
    bool replaced;
    bool stopped;
  };
  const ByteVec plain = ts::pattern_bytes(50000, 1);
  ByteVec cut = ts::zlib_compress(plain);
  cut.resize(cut.size() / 2);
  const std::vector<Case> cases = {
      {"many steps", ts::zlib_compress(plain), kMaxInflatedModuleSize, true, false},
      {"cut short", cut, kMaxInflatedModuleSize, false, false},
      {"past the limit", ts::zlib_compress(ByteVec(size_t{2} << 20, 0)), size_t{1} << 20, false, true},
      {"BIOP header", {'B', 'I', 'O', 'P', 1, 0}, kMaxInflatedModuleSize, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteVec image = c.image;
    bool stopped = false;
    EXPECT_EQ(inflate_module_image(image, 1, c.limit, &stopped), c.replaced);
    EXPECT_EQ(stopped, c.stopped);
    EXPECT_EQ(image, c.replaced ? plain : c.image);
  }
}
