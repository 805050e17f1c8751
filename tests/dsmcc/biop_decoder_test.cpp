// The ServiceGatewayInfo, IOR and BIOP profile body decoders.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "bytes/byte_reader.h"
#include "dsmcc/messages.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/helpers.h"

using namespace dsmcc;

namespace ts = testsupport;
using testsupport::LogCapture;

namespace {

// A profile with every part: object location, a ConnBinder of two taps and one further lite component.
ts::BiopProfileSpec full_profile(uint8_t byte_order = 0) {
  ts::BiopProfileSpec p = ts::gateway_profile(0x01020304, 0x0506, {0xAB, 0x01}, 0x0B0C, 0x80000004);
  p.byte_order = byte_order;
  p.taps[0].id = 0x0102;
  p.taps[0].timeout = 0x11223344;
  p.taps.push_back({.id = 0x0003, .use = 0x0017, .assocTag = 0x0D0E, .selector = {0x00, 0x01, 0xAA}});
  p.lite_components.push_back(ts::LiteComponentSpec{0x49534F10, {1, 2, 3}});
  return p;
}

// A tap's fields in their order, compared at once.
auto fields(const DSM::Tap& t) {
  return std::tuple(t.id, t.use, t.assocTag, t.selector_length, t.selector_type, t.transactionId, t.timeout,
                    t.selector);
}

}  // namespace

// ---- BIOP profile body -------------------------------------------------------------------------

TEST(BiopProfileBody, DecodesEveryPartInBothByteOrders) {
  for (uint8_t order : std::vector<uint8_t>{0x00, 0x01, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(order));
    const ts::BiopProfileSpec desc = full_profile(order);
    ObjectLocationRef location;
    BiopProfileBody b;
    parse_BIOP_ProfileBody(ts::build_biop_profile_body(desc), location, b);

    EXPECT_EQ(std::tuple(b.profile_data_byte_order, b.lite_component_count, b.location_componentId_tag,
                         b.location_component_data_length, b.carouselId, b.moduleId, b.version_major,
                         b.version_minor, b.objectKey_length, b.objectKey),
              std::tuple(uint32_t{order}, 3u, 0x49534F50u, 11u, 0x01020304u, 0x0506u, 1u, 0u, 2u,
                         bytes::Bytes{0xAB, 0x01}));
    EXPECT_EQ(std::tuple(b.binder_componentId_tag, b.binder_component_data_length, b.taps_count),
              std::tuple(0x49534F40u, 1u + 17u + 10u, 2u));
    ASSERT_EQ(b.taps.size(), 2u);
    EXPECT_EQ(fields(b.taps[0]),
              std::tuple(0x0102u, 0x0016u, 0x0B0Cu, 10u, 1u, 0x80000004u, 0x11223344u, bytes::Bytes{}));
    // A further tap's selector_type is its selector's first 16 bits, in the profile's byte order.
    const uint32_t type = order == 0 ? 0x0001u : 0x0100u;
    EXPECT_EQ(fields(b.taps[1]),
              std::tuple(3u, 0x0017u, 0x0D0Eu, 3u, type, 0u, 0u, bytes::Bytes{0x00, 0x01, 0xAA}));
    ASSERT_EQ(b.liteComponents.size(), 1u);
    const BIOP::LiteComponent& lite = b.liteComponents[0];
    EXPECT_EQ(std::tuple(lite.componentId_tag, lite.component_data_length, lite.data),
              std::tuple(0x49534F10u, 3u, bytes::Bytes{1, 2, 3}));
    EXPECT_EQ(std::tuple(location.carouselId, location.moduleId, location.objectKey),
              std::tuple(0x01020304u, 0x0506u, bytes::Bytes{0xAB, 0x01}));
  }
}

// lite_component_count counts the location and the binder: the rest are further components. A binder
// that declares no tap has none, so the component behind it is read whole.
TEST(BiopProfileBody, ReadsLiteComponentCountMinusTwoFurtherComponents) {
  struct Case {
    uint8_t lite_component_count;
    size_t components_written;
    size_t taps;
    size_t expected;
  };
  for (const Case& c :
       {Case{0, 0, 1, 0}, Case{2, 1, 1, 0}, Case{3, 1, 1, 1}, Case{4, 2, 1, 2}, Case{3, 1, 0, 1}}) {
    SCOPED_TRACE(int{c.lite_component_count});
    ts::BiopProfileSpec desc = ts::gateway_profile(1, 2, {3}, 4, 5);
    desc.taps.resize(c.taps);
    for (size_t i = 0; i < c.components_written; ++i)
      desc.lite_components.push_back(
          ts::LiteComponentSpec{static_cast<uint32_t>(0x49534F00 + i), std::vector<uint8_t>(17 + i, 0x5A)});
    desc.lite_component_count = c.lite_component_count;
    ObjectLocationRef location;
    BiopProfileBody body;
    parse_BIOP_ProfileBody(ts::build_biop_profile_body(desc), location, body);
    EXPECT_EQ(body.taps.size(), c.taps);
    ASSERT_EQ(body.liteComponents.size(), c.expected);
    for (size_t i = 0; i < c.expected; ++i)
      EXPECT_EQ(std::pair(body.liteComponents[i].componentId_tag, body.liteComponents[i].data.size()),
                std::pair(static_cast<uint32_t>(0x49534F00 + i), 17 + i));
  }
}

// ---- IOR ---------------------------------------------------------------------------------------

// The gap behind the type_id is stepped over whatever its length; its filler is not zero, so that reading
// it as a count shows. Profiles of other tags are skipped, the BIOP ones kept in IOR order.
TEST(Ior, StepsOverTheAlignmentGapAndKeepsOnlyBiopProfilesInOrder) {
  auto profile = [](uint32_t carouselId) { return ts::gateway_profile(carouselId, 3, {0x05, 0x06}, 7, 8); };
  const ts::TaggedProfileSpec lite_options{0x49534F05, {1, 2, 3, 4, 5}}, unknown{0x00000001, {}};
  struct Case {
    std::vector<uint8_t> type_id;
    std::vector<ts::TaggedProfileSpec> profiles;
    std::vector<uint32_t> carouselIds;
  };
  std::vector<Case> cases = {
      {{'x'},
       {lite_options, ts::biop_profile(profile(0x31)), unknown, ts::biop_profile(profile(0x32))},
       {0x31, 0x32}}};
  for (size_t n = 0; n < 8; ++n)
    cases.push_back({std::vector<uint8_t>(n, 'a'), {ts::biop_profile(profile(0x21))}, {0x21}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type_id.size());
    ts::ServiceGatewayInfoSpec desc;
    desc.ior = {.type_id = c.type_id, .gap_byte = 0xEE, .profiles = c.profiles};
    desc.user_info = {0x01};
    const auto bytes = ts::build_service_gateway_info(desc);
    CServiceGatewayInfo gateway;
    uint32_t length = static_cast<uint32_t>(bytes.size());
    EXPECT_TRUE(gateway.parse(bytes, length));
    EXPECT_EQ(length, bytes.size());
    ASSERT_EQ(gateway.profiles.size(), c.carouselIds.size());
    for (size_t i = 0; i < c.carouselIds.size(); ++i) {
      EXPECT_EQ(gateway.profiles[i].carouselId, c.carouselIds[i]);
      EXPECT_EQ(gateway.profiles[i].profileId_tag, 0x49534F06u);
      EXPECT_EQ(gateway.profiles[i].profile_data_length, ts::build_biop_profile_body(profile(0)).size());
      EXPECT_EQ(gateway.profiles[i].objectKey, (bytes::Bytes{0x05, 0x06}));
    }
    EXPECT_EQ(gateway.userInfoLength, 1u);
  }
}

TEST(Ior, ReadsBindingIorsInEitherByteOrderAndStopsBehindThem) {
  for (bool big_endian : {true, false}) {
    ts::BiopProfileSpec little = ts::gateway_profile(0x42, 0x0304, {0x0A}, 1, 2);
    little.byte_order = 1;
    const ts::BiopProfileSpec big = ts::gateway_profile(0x41, 0x0102, {0x09, 0x08, 0x07}, 1, 2);
    auto bytes = ts::build_ior(
        {big_endian, {'d', 'i', 'r', 0}, 0xFF, {ts::biop_profile(big), ts::biop_profile(little)}});
    const size_t ior_size = bytes.size();
    bytes.push_back(0x5C);  // whatever follows the IOR

    bytes::ByteReader reader(bytes);
    ObjectLocationRef location;
    std::vector<BiopProfileBody> profiles;
    EXPECT_TRUE(parse_IOR(reader, big_endian, location, &profiles));
    EXPECT_EQ(reader.position(), ior_size);
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0].moduleId, 0x0102u);
    EXPECT_EQ(profiles[1].moduleId, 0x0304u);
    EXPECT_EQ(std::tuple(location.carouselId, location.moduleId, location.objectKey),
              std::tuple(0x42u, 0x0304u, bytes::Bytes{0x0A}))
        << "the last object location decoded wins";
  }
}

// ---- ServiceGatewayInfo ------------------------------------------------------------------------

TEST(ServiceGatewayInfo, StopsAtEveryFieldBoundaryKeepingWhatItRead) {
  ts::ServiceGatewayInfoSpec desc = ts::gateway_info(full_profile());
  desc.download_taps.push_back({.selector = {0x01, 0x02}});
  desc.service_contexts.push_back({.context_id = 7, .data = {1, 2, 3, 4}});
  desc.user_info = {9, 9, 9};
  const auto bytes = ts::build_service_gateway_info(desc);
  // IOR: 0 type_id_length, 4 "srg", 8 count, 12 tag, 16 length, 20 profile data (59 bytes) up to 79;
  // 79 downloadTaps_count, 80 tap (9), 89 serviceContextList_count, 90 context (10), 100 userInfoLength,
  // 102 userInfo (3), 105 end.
  ASSERT_EQ(bytes.size(), 105u);
  struct Row {
    size_t length;
    size_t profiles;
    size_t taps;
    uint32_t downloadTaps_count;
    uint32_t serviceContextList_count;
    uint32_t userInfoLength;
    uint32_t occupied;
    size_t stop_lines;  // the IOR's, and the profile body's when the cut falls inside it
  };
  const std::vector<Row> rows = {
      {0, 0, 0, 0, 0, 0, 0, 1},     {3, 0, 0, 0, 0, 0, 0, 1},        {4, 0, 0, 0, 0, 0, 4, 1},
      {8, 0, 0, 0, 0, 0, 8, 1},     {12, 0, 0, 0, 0, 0, 12, 1},      {16, 0, 0, 0, 0, 0, 16, 1},
      {20, 1, 0, 0, 0, 0, 20, 2},   {20 + 41, 1, 1, 0, 0, 0, 20, 2}, {20 + 51, 1, 2, 0, 0, 0, 20, 2},
      {79, 1, 2, 0, 0, 0, 79, 1},   {80, 1, 2, 1, 0, 0, 80, 1},      {88, 1, 2, 1, 0, 0, 87, 1},
      {89, 1, 2, 1, 0, 0, 89, 1},   {90, 1, 2, 1, 1, 0, 90, 1},      {100, 1, 2, 1, 1, 0, 100, 1},
      {102, 1, 2, 1, 1, 3, 102, 1}, {104, 1, 2, 1, 1, 3, 102, 1},    {105, 1, 2, 1, 1, 3, 105, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.length);
    LogCapture log;
    const auto part = ts::head(bytes, row.length);
    CServiceGatewayInfo gateway;
    uint32_t length = static_cast<uint32_t>(part.size());
    EXPECT_TRUE(gateway.parse(part, length));
    EXPECT_EQ(length, row.occupied);
    ASSERT_EQ(gateway.profiles.size(), row.profiles);
    if (row.profiles) {
      EXPECT_EQ(gateway.profiles[0].taps.size(), row.taps);
    }
    EXPECT_EQ(gateway.downloadTaps_count, row.downloadTaps_count);
    EXPECT_EQ(gateway.serviceContextList_count, row.serviceContextList_count);
    EXPECT_EQ(gateway.userInfoLength, row.userInfoLength);
    EXPECT_EQ(log.count_containing("ends early"), row.stop_lines) << log.dump();
  }
}
