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

std::string as_text(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

// A kind whose length is written little-endian (04 00 00 00) is as unknown as "xyz": both are skipped.
TEST(ParseModule, UnknownKindIsSkippedAndParsingGoesOn) {
  for (bool little_endian_length : {true, false}) {
    SCOPED_TRACE(little_endian_length ? "length little-endian" : "unknown kind");
    LogCapture log;
    testsupport::BiopMessageSpec odd;
    odd.objectKey = {1};
    odd.kind = little_endian_length ? "fil" : "xyz";
    odd.byte_order = little_endian_length ? 1 : 0;
    odd.kind_length_in_byte_order = little_endian_length;
    if (!little_endian_length) odd.body = {1, 2, 3, 4, 5};
    ByteVec image =
        concat({testsupport::build_biop_message(odd), testsupport::file_message({2}, {7, 7}, false)});
    ObjectCarousel oc;
    parse_OC_module(image, oc, kCarousel, kModule);
    EXPECT_EQ(log.count(4, "Unknown BIOP"), 1u);
    EXPECT_EQ(oc.files.size(), 1u);
    EXPECT_EQ(oc.files.count(ref(kModule, {2})), 1u);
  }
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

TEST(ParseModule, RepeatedObjectsReplaceEarlierRecords) {
  LogCapture log;
  ByteVec image = concat({
      testsupport::directory_message({1}, {testsupport::binding("old", "fil", kCarousel, 1, {2})}),
      testsupport::file_message({2}, testsupport::text_bytes("old")),
      testsupport::directory_message({1}, {testsupport::binding("new", "fil", kCarousel, 1, {2})}),
      testsupport::file_message({2}, testsupport::text_bytes("newer")),
  });
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_EQ(log.count(2, "directory already in tree"), 1u);
  EXPECT_EQ(log.count(2, "file already in tree"), 1u);
  EXPECT_EQ(oc.directories.at(ref(kModule, {1})).files.at(0).id, "new");
  EXPECT_EQ(as_text(oc.files.at(ref(kModule, {2})).content), "newer");
}

// ---- The reference a binding's IOR gives -----------------------------------------------------------

testsupport::BiopProfileSpec location(uint32_t carouselId, uint16_t moduleId, ByteVec key,
                                      uint8_t byte_order = 0) {
  testsupport::BiopProfileSpec p = testsupport::gateway_profile(carouselId, moduleId, std::move(key), 1, 2);
  p.byte_order = byte_order;
  return p;
}

testsupport::BiopProfileSpec no_location() {
  testsupport::BiopProfileSpec p = location(0x10, 0x77, {0x77});
  p.location_tag = testsupport::kTagConnBinder;
  return p;
}

testsupport::TaggedProfileSpec other_profile() {
  testsupport::TaggedProfileSpec p;
  p.profileId_tag = testsupport::kTagLiteOptions;
  p.data = {1, 2, 3, 4, 5, 6, 7};
  return p;
}

TEST(ParseModule, BindingIorGivesTheReference) {
  using testsupport::biop_profile;
  struct Case {
    const char* what;
    bool big_endian;
    std::vector<testsupport::TaggedProfileSpec> profiles;
    ObjectLocationRef want;
  };
  const std::vector<Case> cases = {
      {"other tag first",
       true,
       {other_profile(), biop_profile(location(0x20, 7, {0xA2}))},
       ref(7, {0xA2}, 0x20)},
      {"last usable wins",
       true,
       {biop_profile(location(0x20, 7, {0xA1})), biop_profile(location(0x21, 8, {0xB1}))},
       ref(8, {0xB1}, 0x21)},
      {"profile without location changes nothing",
       true,
       {biop_profile(location(0x20, 7, {0xA1})), biop_profile(no_location())},
       ref(7, {0xA1}, 0x20)},
      {"no profile keeps zero", true, {}, ref(0, {}, 0)},
      {"only other tags", true, {other_profile()}, ref(0, {}, 0)},
      {"little-endian body in big-endian message",
       true,
       {biop_profile(location(0x01020304, 0x0506, {0xC1}, 1))},
       ref(0x0506, {0xC1}, 0x01020304)},
      {"big-endian body in little-endian message",
       false,
       {biop_profile(location(0x01020304, 0x0506, {0xC2}, 0))},
       ref(0x0506, {0xC2}, 0x01020304)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::BindingSpec b = testsupport::binding("x", "fil", kCarousel, 1, {1}, c.big_endian);
    b.ior.profiles = c.profiles;
    testsupport::BindingSpec tail = testsupport::binding("tail", "fil", kCarousel, 5, {5}, c.big_endian);
    ByteVec image = testsupport::directory_message({1}, {b, tail}, c.big_endian);
    ObjectCarousel oc;
    parse_OC_module(image, oc, kCarousel, kModule);
    ASSERT_EQ(oc.directories.size(), 1u);
    const auto& files = oc.directories.begin()->second.files;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].ref, c.want);
    EXPECT_EQ(files[0].ref.carouselId, c.want.carouselId);  // equality ignores it
    EXPECT_EQ(files[1].ref, ref(5, {5}));                   // the cursor continued behind the last profile
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

TEST(ParseModule, WildCountsEndAtTheImage) {
  // A binding count and a profile count far beyond the bytes: parsing stops, nothing crashes.
  testsupport::BiopMessageSpec s;
  s.objectKey = {1};
  s.kind = "dir";
  s.body = {0xFF, 0xFF, 1, 2, 'a', 0, 4, 'f', 'i', 'l', 0, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  ByteVec image = concat({testsupport::file_message({2}, {1}), testsupport::build_biop_message(s)});
  LogCapture log;
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_EQ(oc.files.size(), 1u);
  EXPECT_TRUE(oc.directories.empty());
  EXPECT_EQ(log.count(4, "not a BIOP message"), 1u);
}

}  // namespace
