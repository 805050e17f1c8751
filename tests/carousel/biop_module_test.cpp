// BIOP object messages inside one module image.
#include <gtest/gtest.h>

#include "carousel/object_carousel.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

using carousel_test::LogCapture;
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

std::string as_text(ByteView bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ObjectKeyText, LowerCaseHexPairs) {
  EXPECT_EQ(object_key_text(ByteVec{}), "");
  EXPECT_EQ(object_key_text(ByteVec{0x00, 0x01, 0xFF}), "0001ff");
  EXPECT_EQ(object_key_text(ByteVec{0xAB}), "ab");
  EXPECT_EQ(reference_text(ref(0x2A, {0x00, 0x01, 0xFF}, 0x80000001)),
            "carousel_id=0x80000001 module_id=0x0000002a key=0001ff");
  EXPECT_EQ(reference_text(ref(0, {}, 0)), "carousel_id=0x00000000 module_id=0x00000000 key=");
}

TEST(ParseModule, DirectoryStreamAndFileInOneModule) {
  LogCapture log;
  ByteVec image = concat({
      testsupport::directory_message({1}, {testsupport::binding("f", "fil", kCarousel, kModule, {3})}),
      testsupport::stream_message({2}, "str"),
      testsupport::file_message({3}, testsupport::text_bytes("hello")),
  });
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);

  ASSERT_EQ(oc.directories.size(), 1u);
  const DirectoryRecord& dir = oc.directories.at(ref(kModule, {1}));
  ASSERT_EQ(dir.files.size(), 1u);
  EXPECT_TRUE(dir.directories.empty());
  EXPECT_EQ(dir.files[0].id, "f");
  EXPECT_EQ(dir.files[0].kind, "fil");
  EXPECT_EQ(dir.files[0].ref, ref(kModule, {3}));

  ASSERT_EQ(oc.files.size(), 1u);
  const FileRecord& file = oc.files.at(ref(kModule, {3}));
  EXPECT_EQ(file.content_length, 5u);
  EXPECT_EQ(as_text(file.content), "hello");
  // A view into the image, not a copy.
  EXPECT_GE(file.content.data(), image.data());
  EXPECT_LE(file.content.data() + file.content.size(), image.data() + image.size());

  EXPECT_TRUE(log.has(4, "parse_OC_module(0x10,0x3)"));
  EXPECT_EQ(log.count_containing("Unknown BIOP"), 0u);
  EXPECT_EQ(log.count_containing("not a BIOP message"), 0u);
}

TEST(ParseModule, StreamEventObjectsAreSkippedSilently) {
  LogCapture log;
  ByteVec image = concat({testsupport::stream_message({1}, "ste"), testsupport::stream_message({2}, "str"),
                          testsupport::file_message({3}, {})});
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_TRUE(oc.directories.empty());
  EXPECT_EQ(oc.files.size(), 1u);
  EXPECT_EQ(log.lines().size(), 1u);  // the entry line alone
}

TEST(ParseModule, LittleEndianMessages) {
  ByteVec content = testsupport::pattern_bytes(300, 9);
  ByteVec image = concat({
      testsupport::directory_message(
          {0x0A, 0x0B},
          {testsupport::binding("sub", "dir", kCarousel, 0x1234, {0x01}, false),
           testsupport::binding("data.bin", "fil", kCarousel, kModule, {0x0C}, false)},
          false),
      testsupport::file_message({0x0C}, content, false),
  });
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  ASSERT_EQ(oc.directories.count(ref(kModule, {0x0A, 0x0B})), 1u);
  const DirectoryRecord& dir = oc.directories.at(ref(kModule, {0x0A, 0x0B}));
  ASSERT_EQ(dir.directories.size(), 1u);
  EXPECT_EQ(dir.directories[0].ref, ref(0x1234, {0x01}));
  ASSERT_EQ(dir.files.size(), 1u);
  EXPECT_EQ(dir.files[0].id, "data.bin");
  const FileRecord& file = oc.files.at(ref(kModule, {0x0C}));
  EXPECT_EQ(file.content_length, 300u);
  EXPECT_EQ(ByteVec(file.content.begin(), file.content.end()), content);
}

TEST(ParseModule, KindLengthWrittenLittleEndianIsUnknownAndSkipped) {
  LogCapture log;
  testsupport::BiopMessageSpec odd;
  odd.byte_order = 1;
  odd.objectKey = {1};
  odd.kind = "fil";
  odd.kind_length_in_byte_order = true;  // 04 00 00 00
  ByteVec image =
      concat({testsupport::build_biop_message(odd), testsupport::file_message({2}, {7, 7}, false)});
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_EQ(log.count(4, "Unknown BIOP"), 1u);
  EXPECT_EQ(oc.files.size(), 1u);
  EXPECT_EQ(oc.files.count(ref(kModule, {2})), 1u);
}

TEST(ParseModule, UnknownKindIsSkippedAndParsingGoesOn) {
  LogCapture log;
  testsupport::BiopMessageSpec odd;
  odd.objectKey = {1};
  odd.kind = "xyz";
  odd.body = {1, 2, 3, 4, 5};
  ByteVec image = concat({testsupport::build_biop_message(odd), testsupport::file_message({2}, {7})});
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_EQ(log.count(4, "Unknown BIOP"), 1u);
  EXPECT_EQ(oc.files.count(ref(kModule, {2})), 1u);
}

struct BadHeaderCase {
  const char* name;
  testsupport::BiopMessageSpec message;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const BadHeaderCase& c, std::ostream* os) {
  *os << c.name;
}

testsupport::BiopMessageSpec small_file() {
  testsupport::BiopMessageSpec s;
  s.objectKey = {9};
  s.kind = "fil";
  s.body = {0, 0, 0, 0};
  return s;
}

BadHeaderCase bad(const char* name, void (*change)(testsupport::BiopMessageSpec&)) {
  BadHeaderCase c{name, small_file()};
  change(c.message);
  return c;
}

class BadHeaderTest : public testing::TestWithParam<BadHeaderCase> {};

TEST_P(BadHeaderTest, EndsTheModuleAndKeepsWhatCameBefore) {
  LogCapture log;
  ByteVec image =
      concat({testsupport::file_message({1}, {1}), testsupport::build_biop_message(GetParam().message),
              testsupport::file_message({2}, {2})});
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_EQ(oc.files.size(), 1u);
  EXPECT_EQ(oc.files.count(ref(kModule, {1})), 1u);
  EXPECT_EQ(log.count(4, "not a BIOP message"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BadHeaderTest,
    testing::Values(bad("Magic",
                        [](testsupport::BiopMessageSpec& s) {
                          s.magic = {'B', 'I', 'O', 'X'};
                        }),
                    bad("Major", [](testsupport::BiopMessageSpec& s) { s.version_major = 2; }),
                    bad("Minor", [](testsupport::BiopMessageSpec& s) { s.version_minor = 1; }),
                    // The size claims more bytes than the image holds.
                    bad("SizePastImage", [](testsupport::BiopMessageSpec& s) { s.message_size = 0x10000; }),
                    // The file content claims more bytes than the image holds.
                    bad("ContentPastImage",
                        [](testsupport::BiopMessageSpec& s) {
                          s.body = {0, 1, 0, 0};
                        })),
    [](const testing::TestParamInfo<BadHeaderCase>& p) { return std::string(p.param.name); });

TEST(ParseModule, EmptyImageIsSkipped) {
  LogCapture log;
  ObjectCarousel oc;
  parse_OC_module(ByteView{}, oc, kCarousel, kModule);
  EXPECT_TRUE(log.has(4, "skipping empty module"));
  EXPECT_EQ(log.count_containing("not a BIOP message"), 0u);
}

TEST(ParseModule, BindingNamesKeepTheFirstComponentUpToItsZeroByte) {
  testsupport::BindingSpec two = testsupport::binding("first", "dir", kCarousel, 1, {0x11});
  two.components.push_back({"second", "fil"});
  testsupport::BindingSpec zero = testsupport::binding(std::string("ab\0cd", 5), "fil", kCarousel, 1, {0x12});
  testsupport::BindingSpec after = testsupport::binding("after", "fil", kCarousel, 1, {0x13});
  testsupport::BindingSpec stream = testsupport::binding("events", "ste", kCarousel, 1, {0x14});
  testsupport::BindingSpec gateway = testsupport::binding("gw", "srg", kCarousel, 1, {0x15});
  ByteVec image = testsupport::directory_message({1}, {two, zero, stream, gateway, after});
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);

  const DirectoryRecord& dir = oc.directories.at(ref(kModule, {1}));
  ASSERT_EQ(dir.directories.size(), 1u);
  EXPECT_EQ(dir.directories[0].id, "first");
  EXPECT_EQ(dir.directories[0].ref, ref(1, {0x11}));
  // Other kinds are dropped; the cursor moved over the whole id, so the binding behind it is whole.
  ASSERT_EQ(dir.files.size(), 2u);
  EXPECT_EQ(dir.files[0].id, "ab");
  EXPECT_EQ(dir.files[0].ref, ref(1, {0x12}));
  EXPECT_EQ(dir.files[1].id, "after");
  EXPECT_EQ(dir.files[1].ref, ref(1, {0x13}));
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

TEST(ParseModule, ServiceGatewayIsRecordedAsADirectory) {
  LogCapture log;
  ByteVec image = testsupport::directory_message(
      {0x00, 0x01, 0xFF}, {testsupport::binding("a", "dir", kCarousel, 1, {2})}, true, "srg");
  ObjectCarousel oc;
  parse_OC_module(image, oc, kCarousel, kModule);
  EXPECT_TRUE(log.has(4, "srg object key: 0001ff"));
  ASSERT_EQ(oc.directories.count(ref(kModule, {0x00, 0x01, 0xFF})), 1u);
  EXPECT_EQ(oc.directories.at(ref(kModule, {0x00, 0x01, 0xFF})).directories.size(), 1u);
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

struct IorCase {
  const char* name;
  bool big_endian;
  std::vector<testsupport::TaggedProfileSpec> profiles;
  ObjectLocationRef want;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const IorCase& c, std::ostream* os) {
  *os << c.name;
}

class BindingIorTest : public testing::TestWithParam<IorCase> {};

TEST_P(BindingIorTest, GivesTheBindingsReference) {
  const IorCase& c = GetParam();
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
  EXPECT_EQ(files[0].ref.carouselId, c.want.carouselId);
  EXPECT_EQ(files[1].ref, ref(5, {5}));  // the cursor continued behind the last profile
}

testsupport::TaggedProfileSpec other_profile() {
  testsupport::TaggedProfileSpec p;
  p.profileId_tag = testsupport::kTagLiteOptions;
  p.data = {1, 2, 3, 4, 5, 6, 7};
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, BindingIorTest,
    testing::Values(IorCase{"OneBiopProfile",
                            true,
                            {testsupport::biop_profile(location(0x20, 7, {0xA1}))},
                            ref(7, {0xA1}, 0x20)},
                    IorCase{"OtherTagFirst",
                            true,
                            {other_profile(), testsupport::biop_profile(location(0x20, 7, {0xA2}))},
                            ref(7, {0xA2}, 0x20)},
                    IorCase{"LastUsableWins",
                            true,
                            {testsupport::biop_profile(location(0x20, 7, {0xA1})),
                             testsupport::biop_profile(location(0x21, 8, {0xB1}))},
                            ref(8, {0xB1}, 0x21)},
                    IorCase{"ProfileWithoutLocationChangesNothing",
                            true,
                            {testsupport::biop_profile(location(0x20, 7, {0xA1})),
                             testsupport::biop_profile(no_location())},
                            ref(7, {0xA1}, 0x20)},
                    IorCase{"NoProfileKeepsZero", true, {}, ref(0, {}, 0)},
                    IorCase{"OnlyOtherTags", true, {other_profile()}, ref(0, {}, 0)},
                    IorCase{"LittleEndianBodyInBigEndianMessage",
                            true,
                            {testsupport::biop_profile(location(0x01020304, 0x0506, {0xC1}, 1))},
                            ref(0x0506, {0xC1}, 0x01020304)},
                    IorCase{"BigEndianBodyInLittleEndianMessage",
                            false,
                            {testsupport::biop_profile(location(0x01020304, 0x0506, {0xC2}, 0))},
                            ref(0x0506, {0xC2}, 0x01020304)}),
    [](const testing::TestParamInfo<IorCase>& p) { return std::string(p.param.name); });

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
