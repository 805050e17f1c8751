// The health check and the comparison of two captures, on the test builder's carousel: each row spoils
// one part of a clean carousel and names every finding that must follow, no more and no fewer.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "app/report_commands.h"
#include "carousel/carousel_model.h"
#include "health/carousel_check.h"
#include "tests/support/health_carousels.h"
#include "tests/support/store_capture.h"

namespace {

using namespace testsupport;
using Images = std::map<uint16_t, ByteVec>;

// A capture of the sections on PID 0x100, its model built, then checked.
health::CaptureReport report_of(const std::vector<ByteVec>& sections, size_t limit = 0) {
  StoreCapture capture;
  if (limit) capture.intake.set_store_byte_limit(limit);
  capture.feed_all(0x100, sections);
  return health::describe_capture(carousel::rebuild_carousels(capture.store));
}

std::set<std::string> codes(const health::CaptureReport& report) {
  std::set<std::string> out;
  for (const health::Finding& f : report.findings) out.insert(f.code);
  return out;
}

SentBlock& block_of(CarouselSending& s, uint16_t moduleId, uint16_t number) {
  for (SentBlock& b : s.blocks)
    if (b.ddb.moduleId == moduleId && b.ddb.blockNumber == number) return b;
  throw std::out_of_range("no such block");
}

void lose(CarouselSending& s, uint16_t moduleId, uint16_t number) {
  s.blocks.erase(s.blocks.begin() + (&block_of(s, moduleId, number) - s.blocks.data()));
}

TEST(HealthCheck, EachSpoiledPartGivesItsFindings) {
  auto append = [](uint16_t module, ByteVec bytes) {
    return [module, bytes](Images& images) { images[module].insert(images[module].end(), bytes.begin(), bytes.end()); };
  };
  struct Row {
    const char* name;
    std::function<void(OcCarousel&)> carousel;
    std::function<void(Images&)> images;
    std::function<void(CarouselSending&)> send;
    std::set<std::string> codes;
    std::string mention;  // in the printed findings
    size_t store_limit = 0;
  };
  const Row rows[] = {
      {"nothing spoilt", {}, {}, {}, {}, "summary: 3/3 modules complete, 2/2 files resolved, 0 errors, 0 warnings\n"},
      {"a lost block", {}, {}, [](auto& s) { lose(s, 2, 1); },
       {"module-incomplete", "not-available"}, "missing blocks 1 (expected 6 blocks, found 5 blocks)"},
      {"a byte too many", {}, {}, [](auto& s) { block_of(s, 2, 5).ddb.blockData.push_back(0); },
       {"module-size", "not-biop"}, "moduleSize (expected 344 bytes, found 345 bytes)"},
      {"blocks of another version", {}, {},
       [](auto& s) {
         for (auto& b : s.blocks)
           if (b.ddb.moduleId == 2) b.ddb.moduleVersion = 5;
       },
       {"block-version"}, "(expected moduleVersion 1, found other versions only)"},
      {"a wrong original_size", {}, {}, [](auto& s) { s.diis[0].modules[2].moduleInfo = biop_module_info(499); },
       {"inflated-size"}, "(expected 499 bytes, found"},
      {"a message past the module", {}, append(2, build_biop_message({.message_size = 1000})), {}, {"biop-overrun"},
       "message_size 1000"},
      {"no BIOP message", {}, append(2, text_bytes("junk")), {}, {"not-biop"}, "offset 344"},
      {"a binding into a module no DII lists", [](auto& oc) { oc.bind_missing(oc.gateway(), "ghost.js", "fil", 9, {9}); },
       {}, {}, {"dangling-module"}, "module 0x0009 /ghost.js"},
      {"no service gateway", {}, {},
       [](auto& s) {
         s.dsis[0].private_data =
             build_service_gateway_info(gateway_info(gateway_profile(0x10, 1, {0x55}, 0x0B, 0x80000002)));
       },
       {"gateway-not-found"}, "module 0x0001 holds no such key"},
      {"two verified copies that differ", {}, {},
       [](auto& s) {
         SentBlock other = block_of(s, 2, 2);
         other.ddb.blockData[3] ^= 0xFF;
         s.blocks.push_back(other);
       },
       {"block-conflict"}, "blocks received twice"},
      {"the store's limit", {}, {}, {}, {"store-limit", "gateway-not-found"}, "no DII or block", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OcCarousel oc = health_carousel(1);
    if (row.carousel) row.carousel(oc);
    CarouselSending sent = sending(oc, 64, row.images);
    if (row.send) row.send(sent);
    const health::CaptureReport report = report_of(sent.sections(), row.store_limit);
    const std::string shown = app::format_check(report, false);
    EXPECT_EQ(codes(report), row.codes) << shown;
    EXPECT_NE(shown.find(row.mention), std::string::npos) << shown;
    EXPECT_EQ(app::check_status(report), report.summary.errors ? 3 : 0);
  }
}

TEST(CaptureDiff, ASecondVersionShowsWhatChanged) {
  const health::CaptureReport v1 = report_of(health_carousel_sending(1).sections());
  const health::CaptureReport v2 = report_of(health_carousel_sending(2).sections());
  bool same = false;
  EXPECT_EQ(app::format_diff(v1, v1, false, same), "");
  EXPECT_TRUE(same);
  EXPECT_EQ(app::format_diff(v1, v2, false, same),
            "prg 0x0001 download 0x00000010 (object carousel 0x00000010): changed\n"
            "  DII changed: versions 0 -> 1; transactionIds 0x80000002 -> 0x80010002\n"
            "  module 0x0001 changed: size 312 -> 394; blocks 5/5 -> 7/7; image bytes differ\n"
            "  module 0x0002 changed: version 1 -> 2; size 344 -> 394; blocks 6/6 -> 7/7; image bytes differ\n"
            "  file /apps/index.html changed: content differs\n"
            "  file /apps/news.txt added: 6 bytes\n");
  EXPECT_FALSE(same);
}

}  // namespace
