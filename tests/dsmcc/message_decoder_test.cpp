// The download message decoders: header variants, DSI, DII and DDB, and their behaviour on messages
// cut short at every field boundary.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dsmcc/messages.h"
#include "tests/dsmcc/log_capture.h"
#include "tests/support/dsmcc_builder.h"

namespace ts = testsupport;
using testlog::LogCapture;

namespace {

ByteView view(const std::vector<uint8_t>& v) {
  return ByteView(v.data(), v.size());
}

std::vector<uint8_t> cut(const std::vector<uint8_t>& v, size_t n) {
  return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

// True when `part` lies inside `whole` (a view into the message rather than a copy).
bool inside(ByteView part, const std::vector<uint8_t>& whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

ts::DsiSpec sample_dsi() {
  ts::DsiSpec dsi;
  dsi.header.transactionId = 0x80000002;
  for (size_t i = 0; i < dsi.serverId.size(); ++i) dsi.serverId[i] = static_cast<uint8_t>(0xA0 + i);
  dsi.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(0x10, 0x0001, {0x00, 0x01}, 0x0B, 0x80000004)));
  return dsi;
}

ts::DiiSpec sample_dii() {
  ts::DiiSpec dii;
  dii.header.transactionId = 0x80000004;
  dii.downloadId = 0x00000010;
  dii.blockSize = 4066;
  dii.windowSize = 3;
  dii.ackPeriod = 4;
  dii.tCDownloadWindow = 0x01020304;
  dii.tCDownloadScenario = 0x05060708;
  dii.modules = {ts::module_entry(1, 5000, 2, {0xAA, 0xBB, 0xCC}), ts::module_entry(2, 7, 0)};
  dii.private_data = {0x11, 0x22};
  return dii;
}

}  // namespace

// ---- Header ------------------------------------------------------------------------------------

TEST(MessageHeader, BothVariantsDecodeTheSameLayout) {
  struct Case {
    uint16_t messageId;
    uint32_t transactionId;
    size_t adaptation;
    size_t body;
  };
  for (const Case& c : {Case{0x1006, 0x80000000, 0, 10}, Case{0x1002, 0x80010003, 4, 3},
                        Case{0x1003, 0xFFFFFFFE, 0, 0}, Case{0x1006, 0x00000001, 255, 1}}) {
    SCOPED_TRACE(c.adaptation);
    LogCapture log;
    ts::MessageHeaderSpec desc = ts::message_header(c.messageId, c.transactionId);
    desc.protocolDiscriminator = 0x11;
    desc.dsmccType = 0x03;
    desc.adaptation = ts::adaptation_header(c.adaptation);
    const auto message = ts::build_message(desc, std::vector<uint8_t>(c.body, 0x5A));
    for (bool data_variant : {false, true}) {
      DsmccMessageHeader h;
      const bool ok = data_variant ? parse_download_data_header(view(message), h)
                                   : parse_message_header(view(message), h);
      ASSERT_TRUE(ok);
      EXPECT_EQ(h.protocolDiscriminator, 0x11u);
      EXPECT_EQ(h.dsmccType, 0x03u);
      EXPECT_EQ(h.messageId, c.messageId);
      EXPECT_EQ(h.transactionId, c.transactionId);
      EXPECT_EQ(h.adaptationLength, c.adaptation);
      EXPECT_EQ(h.messageLength, c.adaptation + c.body);
      EXPECT_EQ(h.body_offset, 12 + c.adaptation);
      EXPECT_EQ(h.adaptation.size(), c.adaptation);
      if (c.adaptation > 0) {
        EXPECT_EQ(h.adaptation.data(), message.data() + 12) << "the adaptation header is a view, not a copy";
        EXPECT_EQ(h.adaptation[0], 0x01);
      }
    }
    EXPECT_TRUE(log.lines().empty()) << log.dump();
  }
}

TEST(MessageHeader, ReservedByteOtherThanFFIsRejectedQuietlyOrLoudly) {
  for (uint8_t reserved : std::vector<uint8_t>{0x00, 0xFE, 0x7F}) {
    LogCapture log;
    ts::MessageHeaderSpec desc = ts::message_header(0x1003, 5);
    desc.reserved = reserved;
    const auto message = ts::build_message(desc, {1, 2, 3, 4, 5, 6});
    DsmccMessageHeader h;
    EXPECT_FALSE(parse_message_header(view(message), h));
    EXPECT_TRUE(log.lines().empty()) << "the message-header variant is silent";

    EXPECT_FALSE(parse_download_data_header(view(message), h));
    char expected[80];
    std::snprintf(expected, sizeof expected, "DownloadDataHeader unexpected reserved value: %#x", reserved);
    EXPECT_EQ(log.count(1, expected), 1u) << log.dump();
  }
}

// ---- DSI ---------------------------------------------------------------------------------------

TEST(DownloadServerInitiate, DecodesFieldsAsViewsIntoTheMessage) {
  LogCapture log;
  const ts::DsiSpec desc = sample_dsi();
  const auto message = ts::build_dsi(desc);
  CDownloadServerInitiate dsi;
  ASSERT_TRUE(dsi.Parse(view(message)));

  EXPECT_EQ(dsi.header.messageId, 0x1006u);
  EXPECT_EQ(dsi.header.transactionId, 0x80000002u);
  ASSERT_EQ(dsi.serverId.size(), 20u);
  EXPECT_EQ(dsi.serverId.data(), message.data() + 12);
  EXPECT_EQ(dsi.serverId[19], 0xA0 + 19);
  EXPECT_EQ(dsi.compatibilityDescriptorLength, 0u);
  EXPECT_EQ(dsi.privateDataLength, desc.private_data.size());
  EXPECT_EQ(dsi.privateData.data(), message.data() + 36);
  EXPECT_TRUE(inside(dsi.privateData, message));
  EXPECT_TRUE(dsi.gatewayParsed);
  ASSERT_EQ(dsi.gateway.profiles.size(), 1u);
  EXPECT_EQ(dsi.gateway.profiles[0].carouselId, 0x10u);
  EXPECT_EQ(log.count_containing("length mismatch"), 0u) << log.dump();
}

TEST(DownloadServerInitiate, HeaderReservedByteRejectsWithItsLine) {
  LogCapture log;
  ts::DsiSpec desc = sample_dsi();
  desc.header.reserved = 0x00;
  CDownloadServerInitiate dsi;
  EXPECT_FALSE(dsi.Parse(view(ts::build_dsi(desc))));
  EXPECT_EQ(log.count(1, "Failed to parse header"), 1u) << log.dump();
}

TEST(DownloadServerInitiate, LongerPrivateDataIsKeptWithAWarningInArgumentOrder) {
  LogCapture log;
  ts::DsiSpec desc = sample_dsi();
  const size_t gateway_size = desc.private_data.size();
  desc.private_data.insert(desc.private_data.end(), 6, 0x00);  // six bytes behind the userInfo
  CDownloadServerInitiate dsi;
  ASSERT_TRUE(dsi.Parse(view(ts::build_dsi(desc))));
  EXPECT_TRUE(dsi.gatewayParsed);
  EXPECT_EQ(dsi.privateDataLength, gateway_size + 6);
  char expected[80];
  std::snprintf(expected, sizeof expected, "ServiceGatewayInfo length mismatch (%d/%d)",
                static_cast<int>(gateway_size + 6), static_cast<int>(gateway_size));
  EXPECT_EQ(log.count(3, expected), 1u) << log.dump();
}

// ---- DII ---------------------------------------------------------------------------------------

TEST(DownloadInfoIndication, DecodesFieldsModulesAndPrivateData) {
  LogCapture log;
  const auto message = ts::build_dii(sample_dii());
  CDownloadInfoIndication dii;
  ASSERT_TRUE(dii.Parse(view(message)));

  EXPECT_EQ(dii.header.transactionId, 0x80000004u);
  EXPECT_EQ(dii.downloadId, 0x10u);
  EXPECT_EQ(dii.blockSize, 4066u);
  EXPECT_EQ(dii.windowSize, 3u);
  EXPECT_EQ(dii.ackPeriod, 4u);
  EXPECT_EQ(dii.tcDownloadWindow, 0x01020304u);
  EXPECT_EQ(dii.tcDownloadScenario, 0x05060708u);
  EXPECT_EQ(dii.numberOfModules, 2u);
  ASSERT_EQ(dii.modules.size(), 2u);
  EXPECT_EQ(dii.modules[0].moduleId, 1u);
  EXPECT_EQ(dii.modules[0].moduleSize, 5000u);
  EXPECT_EQ(dii.modules[0].moduleVersion, 2u);
  EXPECT_EQ(dii.modules[0].moduleInfoLength, 3u);
  EXPECT_EQ(dii.modules[0].moduleInfo.data(), message.data() + 12 + 20 + 8);
  EXPECT_EQ(dii.modules[1].moduleId, 2u);
  EXPECT_EQ(dii.modules[1].moduleInfoLength, 0u);
  EXPECT_TRUE(dii.modules[1].moduleInfo.empty());
  EXPECT_EQ(dii.privateDataLength, 2u);
  ASSERT_EQ(dii.privateData.size(), 2u);
  EXPECT_EQ(dii.privateData.data(), message.data() + message.size() - 2);

  const std::vector<std::string> expected = {"CDownloadInfoIndication::Parse()", "download_id: 0x10",
                                             "Module::Parse module_id: 0x1", "Module::Parse module_id: 0x2"};
  EXPECT_EQ(log.texts(), expected);
  for (const auto& line : log.lines()) EXPECT_EQ(line.level, 4);
}

// A compatibilityDescriptor is stepped over whole, whatever it holds: the module loop starts behind it.
TEST(DownloadInfoIndication, ModulesFollowACompatibilityDescriptorOfAnyLength) {
  for (const size_t length : {size_t{2}, size_t{7}, size_t{40}}) {
    SCOPED_TRACE(length);
    ts::DiiSpec desc = sample_dii();
    desc.compatibility_descriptor.assign(length, 0x11);
    const auto message = ts::build_dii(desc);
    CDownloadInfoIndication dii;
    ASSERT_TRUE(dii.Parse(view(message)));
    ASSERT_EQ(dii.modules.size(), 2u);
    EXPECT_EQ(dii.modules[0].moduleId, 1u);
    EXPECT_EQ(dii.modules[0].moduleSize, 5000u);
    EXPECT_EQ(dii.modules[1].moduleId, 2u);
    EXPECT_EQ(dii.privateData.data(), message.data() + message.size() - 2);
  }
}

TEST(DownloadInfoIndication, HeaderReservedByteRejectsWithoutALineOfItsOwn) {
  LogCapture log;
  ts::DiiSpec desc = sample_dii();
  desc.header.reserved = 0x00;
  CDownloadInfoIndication dii;
  EXPECT_FALSE(dii.Parse(view(ts::build_dii(desc))));
  EXPECT_EQ(log.texts(), std::vector<std::string>{"CDownloadInfoIndication::Parse()"});
}

// ---- DDB ---------------------------------------------------------------------------------------

TEST(DownloadDataBlock, DecodesTheBlockBehindTheAdaptationHeader) {
  for (size_t adaptation : {0u, 4u}) {
    ts::DdbSpec desc = ts::block(0x80000010, 0x0102, 0x0304, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 6);
    desc.header.adaptation = ts::adaptation_header(adaptation);
    const auto message = ts::build_ddb(desc);
    DownloadDataBlock ddb;
    ASSERT_TRUE(ddb.Parse(view(message))) << adaptation;
    EXPECT_EQ(ddb.header.transactionId, 0x80000010u) << "the downloadId";
    EXPECT_EQ(ddb.header.messageId, 0x1003u);
    EXPECT_EQ(ddb.moduleId, 0x0102u);
    EXPECT_EQ(ddb.moduleVersion, 6u);
    EXPECT_EQ(ddb.blockNumber, 0x0304u);
    EXPECT_EQ(ddb.blockDataLength, message.size() - 18 - adaptation);
    EXPECT_EQ(ddb.blockData.size(), 9u);
    EXPECT_EQ(ddb.blockData.data(), message.data() + 18 + adaptation);
  }
}

TEST(DownloadDataBlock, ReservedBytesAreRejectedWithTheirLineAndOffset) {
  struct Case {
    size_t adaptation;
    uint8_t header_reserved;
    uint8_t block_reserved;
    const char* line;
  };
  for (const Case& c : {Case{0, 0xFF, 0xFE, "DownloadDataBlock unexpected reserved value: 0xfe, offset 12"},
                        Case{4, 0xFF, 0x00, "DownloadDataBlock unexpected reserved value: 0, offset 16"},
                        Case{0, 0x00, 0xFF, "DownloadDataHeader unexpected reserved value: 0"},
                        Case{0, 0x80, 0x00, "DownloadDataHeader unexpected reserved value: 0x80"}}) {
    LogCapture log;
    ts::DdbSpec desc = ts::block(7, 1, 0, {1, 2, 3});
    desc.header.adaptation = ts::adaptation_header(c.adaptation);
    desc.header.reserved = c.header_reserved;
    desc.reserved = c.block_reserved;
    DownloadDataBlock ddb;
    EXPECT_FALSE(ddb.Parse(view(ts::build_ddb(desc))));
    EXPECT_EQ(log.texts(), std::vector<std::string>{c.line});
    EXPECT_TRUE(log.has(1, c.line));
  }
}

// ---- Truncation --------------------------------------------------------------------------------

// A message cut at `length`: the read that fails starts at `offset`.
struct Cut {
  size_t length;
  size_t offset;
};

// Every decoder answers false for a message cut short, and a failure line names where it ran out.
void expect_rejected_at_every_cut(const char* what, const std::vector<uint8_t>& message,
                                  const std::vector<Cut>& cuts, bool (*decode)(ByteView)) {
  for (const Cut& c : cuts) {
    SCOPED_TRACE(std::string(what) + " cut at " + std::to_string(c.length));
    ASSERT_LT(c.length, message.size());
    LogCapture log;
    const auto part = cut(message, c.length);
    EXPECT_FALSE(decode(view(part)));
    const std::string where = "at offset " + std::to_string(c.offset);
    bool named = false;
    for (const auto& line : log.lines()) {
      if (line.level != 1 || line.text.rfind(what, 0) != 0) continue;
      const auto at = line.text.find(where);
      if (at == std::string::npos) continue;
      const size_t behind = at + where.size();
      if (behind == line.text.size() || line.text[behind] == ',') named = true;
    }
    EXPECT_TRUE(named) << log.dump();
  }
}

TEST(Truncation, DsiIsRejectedAtEveryFieldBoundary) {
  const ts::DsiSpec desc = sample_dsi();
  const auto message = ts::build_dsi(desc);
  const size_t p = desc.private_data.size();
  ASSERT_EQ(message.size(), 36 + p);
  const std::vector<Cut> cuts = {{0, 0},   {1, 1},   {2, 2},   {3, 2},   {4, 4},          {7, 4},
                                 {8, 8},   {9, 9},   {10, 10}, {11, 10}, {12, 12},        {31, 12},
                                 {32, 32}, {33, 32}, {34, 34}, {36, 36}, {36 + p - 1, 36}};
  expect_rejected_at_every_cut("DSI", message, cuts, [](ByteView m) {
    CDownloadServerInitiate dsi;
    return dsi.Parse(m);
  });
}

TEST(Truncation, DiiIsRejectedAtEveryFieldBoundary) {
  const auto message = ts::build_dii(sample_dii());
  // body 12: downloadId, 16 blockSize, 18 windowSize, 19 ackPeriod, 20 tCDownloadWindow, 24
  // tCDownloadScenario, 28 compatibilityDescriptorLength, 30 numberOfModules, 32 first entry (11 bytes), 43
  // second entry (8 bytes), 51 privateDataLength, 53 privateData (2 bytes).
  ASSERT_EQ(message.size(), 55u);
  const std::vector<Cut> cuts = {{0, 0},   {8, 8},   {12, 12}, {14, 12}, {16, 16}, {18, 18}, {19, 19},
                                 {20, 20}, {24, 24}, {28, 28}, {30, 30}, {32, 32}, {34, 32}, {38, 32},
                                 {40, 32}, {42, 32}, {43, 43}, {50, 43}, {51, 51}, {53, 53}, {54, 53}};
  expect_rejected_at_every_cut("DII", message, cuts, [](ByteView m) {
    CDownloadInfoIndication dii;
    return dii.Parse(m);
  });
}

TEST(Truncation, DdbIsRejectedInsideItsHeadersAndAcceptsAShorterBlock) {
  ts::DdbSpec desc = ts::block(3, 4, 5, {9, 8, 7, 6});
  desc.header.adaptation = ts::adaptation_header(2);
  const auto message = ts::build_ddb(desc);
  ASSERT_EQ(message.size(), 24u);
  const std::vector<Cut> cuts = {{0, 0},   {4, 4},   {8, 8},   {9, 9},   {10, 10}, {12, 12},
                                 {13, 12}, {14, 14}, {16, 16}, {17, 17}, {18, 18}, {19, 18}};
  expect_rejected_at_every_cut("DDB", message, cuts, [](ByteView m) {
    DownloadDataBlock ddb;
    return ddb.Parse(m);
  });
  for (size_t length = 20; length <= message.size(); ++length) {
    DownloadDataBlock ddb;
    const auto part = cut(message, length);
    ASSERT_TRUE(ddb.Parse(view(part))) << length;
    EXPECT_EQ(ddb.blockDataLength, length - 20);
    EXPECT_EQ(ddb.blockNumber, 5u);
  }
}
