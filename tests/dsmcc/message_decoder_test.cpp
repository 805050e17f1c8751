// The download message decoders: header variants, DSI, DII and DDB, and their behaviour on messages
// cut short at every field boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "dsmcc/messages.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/helpers.h"

using namespace dsmcc;

namespace ts = testsupport;
using testsupport::LogCapture;

namespace {

ts::DsiSpec sample_dsi() {
  ts::DsiSpec dsi;
  dsi.header.transactionId = 0x80000002;
  for (size_t i = 0; i < dsi.serverId.size(); ++i) dsi.serverId[i] = static_cast<uint8_t>(0xA0 + i);
  dsi.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(0x10, 0x0001, {0x00, 0x01}, 0x0B, 0x80000004)));
  return dsi;
}

ts::DiiSpec sample_dii(size_t compatibility = 0) {
  return {.header = {.messageId = ts::kMsgDII, .transactionId = 0x80000004},
          .downloadId = 0x00000010,
          .blockSize = 4066,
          .windowSize = 3,
          .ackPeriod = 4,
          .tCDownloadWindow = 0x01020304,
          .tCDownloadScenario = 0x05060708,
          .compatibility_descriptor = std::vector<uint8_t>(compatibility, 0x11),
          .modules = {{1, 5000, 2, {0xAA, 0xBB, 0xCC}}, {2, 7, 0}},
          .private_data = {0x11, 0x22}};
}

// Each decoder on a message of its own: whether it decoded.
template <bool (*parse)(bytes::ByteView, DsmccMessageHeader&)>
bool header_decodes(bytes::ByteView m) {
  DsmccMessageHeader h;
  return parse(m, h);
}
template <typename Message>
bool decodes(bytes::ByteView m) {
  Message message;
  return message.Parse(m);
}
using Decode = bool (*)(bytes::ByteView);

}  // namespace

TEST(MessageHeader, BothVariantsDecodeTheSameLayout) {
  const size_t adaptations[] = {0, 4, 255};
  for (const size_t adaptation : adaptations) {
    SCOPED_TRACE(adaptation);
    LogCapture log;
    const auto message =
        ts::build_message({0x12, 0x04, 0x1002, 0x80010003, 0xFF, ts::adaptation_header(adaptation)},
                          std::vector<uint8_t>(3, 0x5A));
    for (bool data_variant : {false, true}) {
      DsmccMessageHeader h;
      ASSERT_TRUE(data_variant ? parse_download_data_header(message, h) : parse_message_header(message, h));
      EXPECT_EQ(std::tuple(h.protocolDiscriminator, h.dsmccType, h.messageId, h.transactionId,
                           h.adaptationLength, h.messageLength, h.body_offset),
                std::tuple(0x12u, 0x04u, 0x1002u, 0x80010003u, adaptation, adaptation + 3, 12 + adaptation));
      EXPECT_EQ(h.adaptation.data(), adaptation ? message.data() + 12 : h.adaptation.data());
      EXPECT_EQ(h.adaptation.size(), adaptation);
    }
    EXPECT_TRUE(log.lines().empty()) << log.dump();
  }
}

// A private data longer than its ServiceGatewayInfo is warned of. A data carousel sends a
// GroupInfoIndication there instead: NumberOfGroups 2 and the upper half of the first GroupId read as a
// type_id_length of 0x28000, far beyond the 82 bytes, and the gateway stops at once.
TEST(DownloadServerInitiate, DecodesFieldsAsViewsAndWarnsOfAPrivateDataItsGatewayDoesNotFill) {
  const std::vector<uint8_t> gateway = sample_dsi().private_data;
  std::vector<uint8_t> longer = gateway, group_info = {0x00, 0x02, 0x80, 0x00, 0x00, 0x02};
  longer.resize(gateway.size() + 6, 0x00);
  group_info.resize(82, 0x00);
  struct Case {
    std::vector<uint8_t> private_data;
    size_t profiles;
    std::string mismatch;  // the level-3 line, or ""
    size_t ior_stops;
  };
  const std::string sizes = std::to_string(longer.size()) + "/" + std::to_string(gateway.size());
  const Case cases[] = {{gateway, 1, "", 0},
                        {longer, 1, "ServiceGatewayInfo length mismatch (" + sizes + ")", 0},
                        {group_info, 0, "ServiceGatewayInfo length mismatch (82/4)", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.private_data.size());
    LogCapture log;
    ts::DsiSpec desc = sample_dsi();
    desc.private_data = c.private_data;
    const auto message = ts::build_dsi(desc);
    CDownloadServerInitiate dsi;
    ASSERT_TRUE(dsi.Parse(message));
    EXPECT_EQ(std::tuple(dsi.header.messageId, dsi.header.transactionId, dsi.serverId.data(),
                         dsi.privateDataLength, dsi.privateData.data(), dsi.gatewayParsed),
              std::tuple(0x1006u, 0x80000002u, message.data() + 12, c.private_data.size(),
                         message.data() + 36, true));
    EXPECT_EQ(std::vector<uint8_t>(dsi.serverId.begin(), dsi.serverId.end()), desc.serverId);
    ASSERT_EQ(dsi.gateway.profiles.size(), c.profiles);
    for (const auto& profile : dsi.gateway.profiles) EXPECT_EQ(profile.carouselId, 0x10u);
    EXPECT_EQ(log.count_containing("ServiceGatewayInfo length mismatch"), c.mismatch.empty() ? 0u : 1u);
    EXPECT_EQ(log.count(3, c.mismatch), c.mismatch.empty() ? 0u : 1u) << log.dump();
    EXPECT_EQ(log.count_containing("IOP::IOR ends early"), c.ior_stops) << log.dump();
  }
}

// A compatibilityDescriptor is stepped over whole, whatever it holds: the module loop starts behind it.
TEST(DownloadInfoIndication, DecodesFieldsModulesAndPrivateDataBehindAnyCompatibilityDescriptor) {
  for (const size_t compatibility : {size_t{0}, size_t{2}, size_t{40}}) {
    SCOPED_TRACE(compatibility);
    const auto message = ts::build_dii(sample_dii(compatibility));
    CDownloadInfoIndication dii;
    ASSERT_TRUE(dii.Parse(message));
    EXPECT_EQ(dii.header.transactionId, 0x80000004u);
    EXPECT_EQ(std::tuple(dii.downloadId, dii.blockSize, dii.windowSize, dii.ackPeriod, dii.tcDownloadWindow,
                         dii.tcDownloadScenario),
              std::tuple(0x10u, 4066u, 3u, 4u, 0x01020304u, 0x05060708u));
    ASSERT_EQ(dii.modules.size(), 2u);
    const auto& m = dii.modules;
    EXPECT_EQ(std::tuple(m[0].moduleId, m[0].moduleSize, m[0].moduleVersion, m[0].moduleInfo.data(),
                         m[0].moduleInfo.size(), m[1].moduleId, m[1].moduleInfo.size()),
              std::tuple(1u, 5000u, 2u, message.data() + 40 + compatibility, 3u, 2u, 0u));
    EXPECT_EQ(dii.privateData.data(), message.data() + message.size() - 2);
  }
}

// The block runs to the end of the message: a shorter message is a shorter block.
TEST(DownloadDataBlock, DecodesTheBlockBehindTheAdaptationHeader) {
  for (size_t adaptation : {0u, 4u}) {
    ts::DdbSpec desc = ts::block(0x80000010, 0x0102, 0x0304, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 6);
    desc.header.adaptation = ts::adaptation_header(adaptation);
    const auto message = ts::build_ddb(desc);
    for (size_t length = 18 + adaptation; length <= message.size(); ++length) {
      SCOPED_TRACE(length);
      DownloadDataBlock ddb;
      ASSERT_TRUE(ddb.Parse(ts::head(message, length)));
      EXPECT_EQ(std::tuple(ddb.header.transactionId, ddb.moduleId, ddb.moduleVersion, ddb.blockNumber,
                           ddb.blockDataLength),
                std::tuple(0x80000010u, 0x0102u, 6u, 0x0304u, length - 18 - adaptation));
    }
    DownloadDataBlock whole;
    ASSERT_TRUE(whole.Parse(message));
    EXPECT_EQ(whole.blockData.data(), message.data() + 18 + adaptation);
  }
}

// Bad reserved bytes: each decoder's answer and the exact lines it logs.
TEST(Messages, BadReservedBytesAreRejectedWithTheirLines) {
  auto ddb_with = [](size_t adaptation, uint8_t header_reserved, uint8_t block_reserved) {
    const ts::MessageHeaderSpec header{
        0x11, 0x03, ts::kMsgDDB, 7, header_reserved, ts::adaptation_header(adaptation)};
    return ts::build_ddb(
        {.header = header, .moduleId = 1, .reserved = block_reserved, .blockData = {1, 2, 3}});
  };
  ts::DsiSpec bad_dsi = sample_dsi();
  bad_dsi.header.reserved = 0x00;
  ts::DiiSpec bad_dii = sample_dii();
  bad_dii.header.reserved = 0x7F;
  const auto bad_message =
      ts::build_message({.messageId = 0x1003, .transactionId = 5, .reserved = 0xFE}, {1, 2, 3, 4, 5, 6});
  struct Case {
    Decode decode;
    std::vector<uint8_t> message;
    std::string log;
  };
  const Decode ddb = decodes<DownloadDataBlock>;
  const Case cases[] = {
      {header_decodes<parse_message_header>, bad_message, ""},
      {header_decodes<parse_download_data_header>, bad_message,
       "<1> DownloadDataHeader unexpected reserved value: 0xfe\n"},
      {decodes<CDownloadServerInitiate>, ts::build_dsi(bad_dsi), "<1> Failed to parse header\n"},
      {decodes<CDownloadInfoIndication>, ts::build_dii(bad_dii), "<4> CDownloadInfoIndication::Parse()\n"},
      {ddb, ddb_with(0, 0xFF, 0xFE), "<1> DownloadDataBlock unexpected reserved value: 0xfe, offset 12\n"},
      {ddb, ddb_with(4, 0xFF, 0x00), "<1> DownloadDataBlock unexpected reserved value: 0, offset 16\n"},
      {ddb, ddb_with(0, 0x80, 0xFF), "<1> DownloadDataHeader unexpected reserved value: 0x80\n"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_FALSE(c.decode(c.message));
    EXPECT_EQ(log.dump(), c.log);
  }
}

// Every decoder answers false for a message cut short at any byte, and its level-1 line names the start
// of the field it ran out in. The header's fields start at 0, 1, 2, 4, 8, 9 and 10.
TEST(Messages, CutShortAtEveryByte) {
  ts::DdbSpec ddb = ts::block(3, 4, 5, {9, 8, 7, 6});
  ddb.header.adaptation = ts::adaptation_header(2);
  struct Case {
    const char* what;
    std::vector<uint8_t> message;
    Decode decode;
    std::vector<size_t> fields;  // where each field, read as one, starts
  };
  const Case cases[] = {
      // 12 serverId, 32 compatibilityDescriptorLength, 34 privateDataLength, 36 privateData.
      {"DSI",
       ts::build_dsi(sample_dsi()),
       decodes<CDownloadServerInitiate>,
       {0, 1, 2, 4, 8, 9, 10, 12, 32, 34, 36}},
      // 12 downloadId, 16 blockSize, 18 windowSize, 19 ackPeriod, 20 and 24 the two times, 28
      // compatibilityDescriptorLength, 30 numberOfModules, 32 and 43 the entries, 51 privateDataLength.
      {"DII",
       ts::build_dii(sample_dii()),
       decodes<CDownloadInfoIndication>,
       {0, 1, 2, 4, 8, 9, 10, 12, 16, 18, 19, 20, 24, 28, 30, 32, 43, 51, 53}},
      // 12 the adaptation header, 14 moduleId, 16 moduleVersion, 17 reserved, 18 blockNumber, 20 the block.
      {"DDB",
       ts::head(ts::build_ddb(ddb), 20),
       decodes<DownloadDataBlock>,
       {0, 1, 2, 4, 8, 9, 10, 12, 14, 16, 17, 18}},
  };
  for (const Case& c : cases) {
    for (size_t length = 0; length < c.message.size(); ++length) {
      const size_t offset = *std::prev(std::upper_bound(c.fields.begin(), c.fields.end(), length));
      SCOPED_TRACE(std::string(c.what) + " cut at " + std::to_string(length));
      LogCapture log;
      const auto part = ts::head(c.message, length);
      EXPECT_FALSE(c.decode(part));
      const std::string where = "at offset " + std::to_string(offset);
      bool named = false;
      for (const auto& line : log.lines()) {
        const auto at = line.text.find(where);
        const size_t behind = at + where.size();
        named |= line.level == 1 && line.text.rfind(c.what, 0) == 0 && at != std::string::npos &&
                 (behind == line.text.size() || line.text[behind] == ',');
      }
      EXPECT_TRUE(named) << log.dump();
    }
  }
}
