// BIOP object messages inside one module image.
#include <gtest/gtest.h>

#include "carousel/object_carousel.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"

using namespace carousel;

namespace {

namespace ts = testsupport;
using ts::ByteVec;
using ts::LogCapture;

constexpr uint32_t kCarousel = 0x10;
constexpr uint32_t kModule = 3;

// A broken header ends the module; the messages before it are kept.
TEST(ParseModule, BadHeaderEndsTheModuleAndKeepsWhatCameBefore) {
  using Change = void (*)(ts::BiopMessageSpec&);
  const std::vector<std::pair<const char*, Change>> cases = {
      {"magic", [](ts::BiopMessageSpec& s) { s.magic[3] = 'X'; }},
      {"major", [](ts::BiopMessageSpec& s) { s.version_major = 2; }},
      {"minor", [](ts::BiopMessageSpec& s) { s.version_minor = 1; }},
      {"size past the image", [](ts::BiopMessageSpec& s) { s.message_size = 0x10000; }},
      {"content past the image", [](ts::BiopMessageSpec& s) { s.body[1] = 1; }},
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    ts::BiopMessageSpec broken{.objectKey = {9}, .body = {0, 0, 0, 0}};
    change(broken);
    LogCapture log;
    ObjectCarousel oc;
    parse_OC_module(
        ts::concat({ts::file_message({1}, {1}), ts::build_biop_message(broken), ts::file_message({2}, {2})}),
        oc, kCarousel, kModule);
    ASSERT_EQ(oc.files.size(), 1u);
    EXPECT_EQ(oc.files.begin()->first.objectKey, ByteVec{1});
    EXPECT_EQ(log.count(4, "not a BIOP message"), 1u);
  }
}

// An image cut at any byte keeps the whole messages before the cut, in either byte order.
TEST(ParseModule, EveryCutKeepsTheWholeMessagesBeforeIt) {
  for (const bool big_endian : {true, false}) {
    const ByteVec dir = ts::directory_message({1},
                                              {ts::binding("d", "dir", kCarousel, 1, {4}, big_endian),
                                               ts::binding("f", "fil", kCarousel, 1, {2}, big_endian)},
                                              big_endian);
    const ByteVec image = ts::concat({dir, ts::file_message({2}, ts::text_bytes("payload"), big_endian)});
    for (size_t cut = 1; cut < image.size(); ++cut) {
      SCOPED_TRACE((big_endian ? "big-endian, cut at " : "little-endian, cut at ") + std::to_string(cut));
      LogCapture log;
      ObjectCarousel oc;
      parse_OC_module(ts::head(image, cut), oc, kCarousel, kModule);
      EXPECT_EQ(oc.directories.size(), cut >= dir.size() ? 1u : 0u);
      EXPECT_TRUE(oc.files.empty());
      EXPECT_EQ(log.count(4, "not a BIOP message"), cut == dir.size() ? 0u : 1u);
    }
  }
}

}  // namespace
