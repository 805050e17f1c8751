// Counting, completeness and images of modules made of download data blocks.
#include "carousel/module_assembly.h"

#include <gtest/gtest.h>

#include "carousel/object_carousel.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

using carousel_test::Capture;
using carousel_test::LogCapture;
using testsupport::ByteVec;

constexpr uint32_t kPid = 0x100;
constexpr uint32_t kDownloadId = 0x10;
constexpr uint16_t kModule = 1;

struct Block {
  uint8_t section_number;
  uint8_t last_section_number;
  uint8_t seed;  // the block's data are 5 bytes of pattern_bytes(5, seed)
};

ByteVec block_data(uint8_t seed) {
  return testsupport::pattern_bytes(5, seed);
}

ByteVec block_section(const Block& b) {
  testsupport::SectionSpec section;
  section.section_number = b.section_number;
  section.last_section_number = b.last_section_number;
  return testsupport::ddb_section(
      testsupport::block(kDownloadId, kModule, b.section_number, block_data(b.seed)), section);
}

const ModuleBlockMap* module_blocks(Capture& capture) {
  auto& ddb = capture.program().pids.at(static_cast<int32_t>(kPid))->ddb;
  auto download = ddb.find(static_cast<int32_t>(kDownloadId));
  if (download == ddb.end()) return nullptr;
  auto module = download->second.find(kModule);
  return module == download->second.end() ? nullptr : &module->second;
}

TEST(ModuleCounts, CountsCompletenessAndImage) {
  struct Case {
    const char* what;
    std::vector<Block> arrivals;  // in arrival order
    int32_t received;
    int32_t expected;
    bool complete;
    std::vector<uint8_t> image_seeds;  // the blocks whose data make the image, in image order
  };
  const std::vector<Case> cases = {
      {"three blocks shuffled", {{2, 2, 30}, {0, 2, 10}, {1, 2, 20}}, 3, 3, true, {10, 20, 30}},
      {"middle block missing", {{0, 2, 10}, {2, 2, 30}}, 2, 3, false, {}},
      {"repeat keeps the first copy", {{0, 1, 10}, {0, 1, 99}, {1, 1, 20}}, 2, 2, true, {10, 20}},
      {"count alone decides", {{2, 1, 30}, {0, 1, 10}}, 2, 2, true, {10, 30}},
      // The lowest section_number present decides the expected count, not the first to arrive.
      {"expected from the lowest section", {{2, 4, 30}, {1, 3, 20}}, 2, 4, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Capture capture;
    for (const Block& b : c.arrivals) capture.feed(kPid, block_section(b));
    const ModuleBlockMap* blocks = module_blocks(capture);
    ASSERT_NE(blocks, nullptr);
    EXPECT_EQ(module_received_count(blocks), c.received);
    EXPECT_EQ(module_expected_count(blocks), c.expected);
    EXPECT_EQ(module_complete(blocks), c.complete);
    if (!c.complete) continue;
    ByteVec want;
    for (uint8_t seed : c.image_seeds) {
      ByteVec d = block_data(seed);
      want.insert(want.end(), d.begin(), d.end());
    }
    EXPECT_EQ(module_image(*blocks), want);
  }
}

TEST(ModuleImages, CompleteModulesBecomeImagesIncompleteOnesAreLogged) {
  LogCapture log;
  Capture capture;
  // Module 1: complete in three blocks fed out of order. Module 2: block 1 of 0..1 missing.
  ByteVec image1 = testsupport::pattern_bytes(25, 3);
  auto sections1 = testsupport::module_sections(kDownloadId, 1, image1, 10);
  ASSERT_EQ(sections1.size(), 3u);
  capture.feed(kPid, sections1[2]);
  capture.feed(kPid, sections1[0]);
  capture.feed(kPid, sections1[1]);
  auto sections2 = testsupport::module_sections(kDownloadId, 2, testsupport::pattern_bytes(20, 7), 10);
  capture.feed(kPid, sections2[0]);
  // downloadId 0x20 has no complete module at all.
  capture.feed(kPid, testsupport::module_sections(0x20, 1, testsupport::pattern_bytes(20, 9), 10)[1]);

  merge_programme_index(capture.store);
  save_modules_to_memory(capture.store);

  auto& carousels = capture.program().object_carousels;
  ASSERT_EQ(carousels.size(), 1u);
  const ObjectCarousel& oc = carousels.at(static_cast<int32_t>(kDownloadId));
  ASSERT_EQ(oc.modules.size(), 1u);
  EXPECT_EQ(oc.modules.at(1), image1);
  EXPECT_EQ(log.count(2, "module not complete"), 2u);
  EXPECT_TRUE(log.has(4, "saving module on prg 0x1 to mem"));
}

TEST(ModuleImages, SecondRunReplacesImagesAndDropsStaleRecords) {
  Capture capture;
  testsupport::OcCarousel oc(kDownloadId);
  oc.add_file(oc.gateway(), "a", testsupport::text_bytes("abc"), 1);
  capture.feed_all(kPid, oc.sections());
  merge_programme_index(capture.store);
  save_modules_to_memory(capture.store);
  parse_OC_modules(capture.store);
  ASSERT_EQ(capture.program().object_carousels.at(kDownloadId).files.size(), 1u);

  // A rebuild starts from the blocks again: no record may outlive the image it viewed.
  save_modules_to_memory(capture.store);
  const ObjectCarousel& again = capture.program().object_carousels.at(kDownloadId);
  EXPECT_TRUE(again.files.empty());
  EXPECT_TRUE(again.directories.empty());
  EXPECT_EQ(again.modules.size(), 1u);
}

}  // namespace
