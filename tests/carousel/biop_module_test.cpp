// BIOP object messages inside one module image.
#include <gtest/gtest.h>

#include "carousel/object_carousel.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"

namespace {

using testsupport::LogCapture;
using testsupport::ByteVec;

constexpr uint32_t kCarousel = 0x10;
constexpr uint32_t kModule = 3;

ByteVec concat(std::initializer_list<ByteVec> parts) {
  ByteVec out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ObjectLocationRef ref(uint32_t moduleId, ByteVec key, uint32_t carouselId = kCarousel) {
  ObjectLocationRef r;
  r.carouselId = carouselId;
  r.moduleId = moduleId;
  r.objectKey = std::move(key);
  return r;
}


// A broken header ends the module; the messages before it are kept.
TEST(ParseModule, BadHeaderEndsTheModuleAndKeepsWhatCameBefore) {
  using Change = void (*)(testsupport::BiopMessageSpec&);
  const std::vector<std::pair<const char*, Change>> cases = {
      {"magic",
       [](testsupport::BiopMessageSpec& s) {
         s.magic = {'B', 'I', 'O', 'X'};
       }},
      {"major", [](testsupport::BiopMessageSpec& s) { s.version_major = 2; }},
      {"minor", [](testsupport::BiopMessageSpec& s) { s.version_minor = 1; }},
      {"size past the image", [](testsupport::BiopMessageSpec& s) { s.message_size = 0x10000; }},
      {"content past the image",
       [](testsupport::BiopMessageSpec& s) {
         s.body = {0, 1, 0, 0};
       }},
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    testsupport::BiopMessageSpec broken;
    broken.objectKey = {9};
    broken.kind = "fil";
    broken.body = {0, 0, 0, 0};
    change(broken);
    LogCapture log;
    ByteVec image = concat({testsupport::file_message({1}, {1}), testsupport::build_biop_message(broken),
                            testsupport::file_message({2}, {2})});
    ObjectCarousel oc;
    parse_OC_module(image, oc, kCarousel, kModule);
    EXPECT_EQ(oc.files.size(), 1u);
    EXPECT_EQ(oc.files.count(ref(kModule, {1})), 1u);
    EXPECT_EQ(log.count(4, "not a BIOP message"), 1u);
  }
}

// ---- Images cut at every byte ----------------------------------------------------------------------

class TruncationTest : public testing::TestWithParam<bool> {};

TEST_P(TruncationTest, EveryCutKeepsTheWholeMessagesBeforeIt) {
  const bool big_endian = GetParam();
  ByteVec dir =
      testsupport::directory_message({1},
                                     {testsupport::binding("d", "dir", kCarousel, 1, {4}, big_endian),
                                      testsupport::binding("f", "fil", kCarousel, 1, {2}, big_endian)},
                                     big_endian);
  ByteVec file = testsupport::file_message({2}, testsupport::text_bytes("payload"), big_endian);
  ByteVec image = concat({dir, file});

  for (size_t cut = 1; cut < image.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    LogCapture log;
    ByteVec part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
    ObjectCarousel oc;
    parse_OC_module(part, oc, kCarousel, kModule);
    EXPECT_EQ(oc.directories.size(), cut >= dir.size() ? 1u : 0u);
    EXPECT_TRUE(oc.files.empty());
    EXPECT_EQ(log.count(4, "not a BIOP message"), cut == dir.size() ? 0u : 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TruncationTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "BigEndian" : "LittleEndian");
                         });

}  // namespace
