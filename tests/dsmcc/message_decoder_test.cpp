// The download message decoders: header variants, DSI, DII and DDB, and their behaviour on messages
// cut short at every field boundary.
#include <gtest/gtest.h>

#include <functional>
#include <string>
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
  ts::DiiSpec dii;
  dii.header.transactionId = 0x80000004;
  dii.downloadId = 0x00000010;
  dii.blockSize = 4066;
  dii.windowSize = 3;
  dii.ackPeriod = 4;
  dii.tCDownloadWindow = 0x01020304;
  dii.tCDownloadScenario = 0x05060708;
  dii.compatibility_descriptor.assign(compatibility, 0x11);
  dii.modules = {{1, 5000, 2, {0xAA, 0xBB, 0xCC}}, {2, 7, 0}};
  dii.private_data = {0x11, 0x22};
  return dii;
}

}  // namespace

TEST(MessageHeader, BothVariantsDecodeTheSameLayout) {
  const size_t adaptations[] = {0, 4, 255};
  for (const size_t adaptation : adaptations) {
    SCOPED_TRACE(adaptation);
    LogCapture log;
    ts::MessageHeaderSpec desc = ts::message_header(0x1002, 0x80010003);
    desc.protocolDiscriminator = 0x12;
    desc.dsmccType = 0x04;
    desc.adaptation = ts::adaptation_header(adaptation);
    const auto message = ts::build_message(desc, std::vector<uint8_t>(3, 0x5A));
    for (bool data_variant : {false, true}) {
      DsmccMessageHeader h;
      ASSERT_TRUE(data_variant ? parse_download_data_header(message, h)
                               : parse_message_header(message, h));
      EXPECT_EQ(h.protocolDiscriminator, 0x12u);
      EXPECT_EQ(h.dsmccType, 0x04u);
      EXPECT_EQ(h.messageId, 0x1002u);
      EXPECT_EQ(h.transactionId, 0x80010003u);
      EXPECT_EQ(h.adaptationLength, adaptation);
      EXPECT_EQ(h.messageLength, adaptation + 3);
      EXPECT_EQ(h.body_offset, 12 + adaptation);
      EXPECT_EQ(h.adaptation.data(), adaptation ? message.data() + 12 : h.adaptation.data());
      EXPECT_EQ(h.adaptation.size(), adaptation);
    }
    EXPECT_TRUE(log.lines().empty()) << log.dump();
  }
}

TEST(DownloadServerInitiate, DecodesFieldsAsViewsAndWarnsOfALongerPrivateData) {
  for (const size_t extra : {size_t{0}, size_t{6}}) {
    LogCapture log;
    ts::DsiSpec desc = sample_dsi();
    const size_t gateway_size = desc.private_data.size();
    desc.private_data.insert(desc.private_data.end(), extra, 0x00);
    const auto message = ts::build_dsi(desc);
    CDownloadServerInitiate dsi;
    ASSERT_TRUE(dsi.Parse(message));
    EXPECT_EQ(dsi.header.messageId, 0x1006u);
    EXPECT_EQ(dsi.header.transactionId, 0x80000002u);
    ASSERT_EQ(dsi.serverId.size(), 20u);
    EXPECT_EQ(dsi.serverId.data(), message.data() + 12);
    EXPECT_EQ(dsi.serverId[19], 0xA0 + 19);
    EXPECT_EQ(dsi.privateDataLength, gateway_size + extra);
    EXPECT_EQ(dsi.privateData.data(), message.data() + 36);
    EXPECT_TRUE(dsi.gatewayParsed);
    ASSERT_EQ(dsi.gateway.profiles.size(), 1u);
    EXPECT_EQ(dsi.gateway.profiles[0].carouselId, 0x10u);
    const std::string mismatch = "ServiceGatewayInfo length mismatch (" + std::to_string(gateway_size + extra) + "/" +
                                 std::to_string(gateway_size) + ")";
    EXPECT_EQ(log.count(3, mismatch), extra ? 1u : 0u) << log.dump();
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
    EXPECT_EQ(dii.downloadId, 0x10u);
    EXPECT_EQ(dii.blockSize, 4066u);
    EXPECT_EQ(dii.windowSize, 3u);
    EXPECT_EQ(dii.ackPeriod, 4u);
    EXPECT_EQ(dii.tcDownloadWindow, 0x01020304u);
    EXPECT_EQ(dii.tcDownloadScenario, 0x05060708u);
    ASSERT_EQ(dii.modules.size(), 2u);
    EXPECT_EQ(dii.modules[0].moduleId, 1u);
    EXPECT_EQ(dii.modules[0].moduleSize, 5000u);
    EXPECT_EQ(dii.modules[0].moduleVersion, 2u);
    EXPECT_EQ(dii.modules[0].moduleInfo.data(), message.data() + 40 + compatibility);
    EXPECT_EQ(dii.modules[0].moduleInfo.size(), 3u);
    EXPECT_EQ(dii.modules[1].moduleId, 2u);
    EXPECT_TRUE(dii.modules[1].moduleInfo.empty());
    EXPECT_EQ(dii.privateData.data(), message.data() + message.size() - 2);
  }
}

TEST(DownloadDataBlock, DecodesTheBlockBehindTheAdaptationHeader) {
  for (size_t adaptation : {0u, 4u}) {
    ts::DdbSpec desc = ts::block(0x80000010, 0x0102, 0x0304, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 6);
    desc.header.adaptation = ts::adaptation_header(adaptation);
    const auto message = ts::build_ddb(desc);
    DownloadDataBlock ddb;
    ASSERT_TRUE(ddb.Parse(message)) << adaptation;
    EXPECT_EQ(ddb.header.transactionId, 0x80000010u);
    EXPECT_EQ(ddb.moduleId, 0x0102u);
    EXPECT_EQ(ddb.moduleVersion, 6u);
    EXPECT_EQ(ddb.blockNumber, 0x0304u);
    EXPECT_EQ(ddb.blockDataLength, 9u);
    EXPECT_EQ(ddb.blockData.data(), message.data() + 18 + adaptation);
  }
}

// Bad reserved bytes: each decoder's answer and the exact lines it logs.
TEST(Messages, BadReservedBytesAreRejectedWithTheirLines) {
  using Decode = std::function<bool(bytes::ByteView)>;
  const Decode header = [](bytes::ByteView m) { DsmccMessageHeader h; return parse_message_header(m, h); };
  const Decode data_header = [](bytes::ByteView m) {
    DsmccMessageHeader h;
    return parse_download_data_header(m, h);
  };
  const Decode dsi = [](bytes::ByteView m) { CDownloadServerInitiate d; return d.Parse(m); };
  const Decode dii = [](bytes::ByteView m) { CDownloadInfoIndication d; return d.Parse(m); };
  const Decode ddb = [](bytes::ByteView m) { DownloadDataBlock d; return d.Parse(m); };
  auto ddb_with = [](size_t adaptation, uint8_t header_reserved, uint8_t block_reserved) {
    ts::DdbSpec desc = ts::block(7, 1, 0, {1, 2, 3});
    desc.header.adaptation = ts::adaptation_header(adaptation);
    desc.header.reserved = header_reserved;
    desc.reserved = block_reserved;
    return ts::build_ddb(desc);
  };
  ts::DsiSpec bad_dsi = sample_dsi();
  bad_dsi.header.reserved = 0x00;
  ts::DiiSpec bad_dii = sample_dii();
  bad_dii.header.reserved = 0x7F;
  ts::MessageHeaderSpec bad_header = ts::message_header(0x1003, 5);
  bad_header.reserved = 0xFE;
  const auto bad_message = ts::build_message(bad_header, {1, 2, 3, 4, 5, 6});
  struct Case {
    const Decode& decode;
    std::vector<uint8_t> message;
    std::vector<std::string> lines;  // all at level 1 but the DII's trace line
  };
  const Case cases[] = {
      {header, bad_message, {}},
      {data_header, bad_message, {"DownloadDataHeader unexpected reserved value: 0xfe"}},
      {dsi, ts::build_dsi(bad_dsi), {"Failed to parse header"}},
      {dii, ts::build_dii(bad_dii), {"CDownloadInfoIndication::Parse()"}},
      {ddb, ddb_with(0, 0xFF, 0xFE), {"DownloadDataBlock unexpected reserved value: 0xfe, offset 12"}},
      {ddb, ddb_with(4, 0xFF, 0x00), {"DownloadDataBlock unexpected reserved value: 0, offset 16"}},
      {ddb, ddb_with(0, 0x80, 0xFF), {"DownloadDataHeader unexpected reserved value: 0x80"}},
  };
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_FALSE(c.decode(c.message));
    EXPECT_EQ(log.texts(), c.lines);
    for (const auto& line : log.lines()) EXPECT_EQ(line.level, line.text.rfind("CDownload", 0) == 0 ? 4 : 1);
  }
}

// Every decoder answers false for a message cut short, and its level-1 line names where it ran out.
TEST(Messages, CutShortAtEveryFieldBoundary) {
  struct Cut {
    size_t length;
    size_t offset;  // where the read that fails starts
  };
  ts::DdbSpec ddb_desc = ts::block(3, 4, 5, {9, 8, 7, 6});
  ddb_desc.header.adaptation = ts::adaptation_header(2);
  const auto dsi = ts::build_dsi(sample_dsi());
  const size_t p = dsi.size() - 36;
  struct Case {
    const char* what;
    std::vector<uint8_t> message;
    std::function<bool(bytes::ByteView)> decode;
    std::vector<Cut> cuts;
  };
  const Case cases[] = {
      {"DSI",
       dsi,
       [](bytes::ByteView m) {
         CDownloadServerInitiate d;
         return d.Parse(m);
       },
       {{0, 0},
        {1, 1},
        {3, 2},
        {4, 4},
        {8, 8},
        {9, 9},
        {10, 10},
        {11, 10},
        {12, 12},
        {31, 12},
        {32, 32},
        {33, 32},
        {34, 34},
        {36, 36},
        {36 + p - 1, 36}}},
      // body 12 downloadId, 16 blockSize, 18 windowSize, 19 ackPeriod, 20 and 24 the two times, 28
      // compatibilityDescriptorLength, 30 numberOfModules, 32 and 43 the entries, 51 privateDataLength.
      {"DII",
       ts::build_dii(sample_dii()),
       [](bytes::ByteView m) {
         CDownloadInfoIndication d;
         return d.Parse(m);
       },
       {{0, 0},   {8, 8},   {12, 12}, {14, 12}, {16, 16}, {18, 18}, {19, 19}, {20, 20}, {24, 24}, {28, 28},
        {30, 30}, {32, 32}, {34, 32}, {40, 32}, {42, 32}, {43, 43}, {50, 43}, {51, 51}, {53, 53}, {54, 53}}},
      {"DDB",
       ts::build_ddb(ddb_desc),
       [](bytes::ByteView m) {
         DownloadDataBlock d;
         return d.Parse(m);
       },
       {{0, 0},
        {4, 4},
        {8, 8},
        {9, 9},
        {10, 10},
        {12, 12},
        {13, 12},
        {14, 14},
        {16, 16},
        {17, 17},
        {18, 18},
        {19, 18}}},
  };
  for (const Case& c : cases) {
    for (const Cut& cut : c.cuts) {
      SCOPED_TRACE(std::string(c.what) + " cut at " + std::to_string(cut.length));
      ASSERT_LT(cut.length, c.message.size());
      LogCapture log;
      const auto part = ts::head(c.message, cut.length);
      EXPECT_FALSE(c.decode(part));
      const std::string where = "at offset " + std::to_string(cut.offset);
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
  // A DDB's block runs to the end of the message: a shorter one is a shorter block.
  const auto ddb = ts::build_ddb(ddb_desc);
  for (size_t length = 20; length <= ddb.size(); ++length) {
    DownloadDataBlock block;
    ASSERT_TRUE(block.Parse(bytes::ByteView(ddb.data(), length))) << length;
    EXPECT_EQ(block.blockDataLength, length - 20);
  }
}
