// The section intake as the host drives it through the section callback: routing, the validity
// checks, filing, duplicates, counters, kept block copies and the log lines of each step.
#include "store/section_intake.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/dsmcc_builder.h"
#include "tests/support/helpers.h"
#include "tests/support/store_capture.h"
#include "tests/support/trust_builder.h"

using namespace store;

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kPid = 0x100;

// `trailing` follows the gateway info inside the private data.
Bytes dsi(uint32_t carouselId = 0x10, ts::SectionSpec s = {}, uint16_t messageId = 0x1006,
          uint8_t reserved = 0xFF, Bytes trailing = {}) {
  ts::DsiSpec d;
  d.header.messageId = messageId;
  d.header.reserved = reserved;
  d.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(carouselId, 1, {1}, 0x0B, 0x80000002)));
  d.private_data.insert(d.private_data.end(), trailing.begin(), trailing.end());
  return ts::dsi_section(d, s);
}

Bytes dii(uint32_t downloadId, uint16_t extension = 2, ts::SectionSpec s = {}, uint8_t reserved = 0xFF) {
  ts::DiiSpec d;
  d.header.transactionId = 0x80000000u | extension;
  d.header.reserved = reserved;
  d.downloadId = downloadId;
  d.modules = {{1, 100, 1}};
  s.table_id_extension = extension;
  return ts::dii_section(d, s);
}

// Of version 1: the version of a download data section is not checked.
Bytes ddb(uint32_t downloadId, uint16_t moduleId, uint8_t section_number, Bytes data = {1, 2, 3},
          uint8_t version = 0) {
  return ts::ddb_section(ts::block(downloadId, moduleId, section_number, std::move(data), version),
                         {.version_number = 1, .section_number = section_number, .last_section_number = 9});
}

struct IntakeCase {
  std::vector<Bytes> sections;  // delivered in turn on kPid, the PID of the one programme captured
  std::array<int, 3> counts;    // DSI, DII, DDB
  int level;                    // of a line the log must hold
  std::string line;             // part of that line, which names the case too
};

}  // namespace

TEST(Intake, FilesCountsAndDropsAsEachCaseSays) {
  const std::string invalid = "invalid dsm section, section=";
  const std::vector<IntakeCase> cases = {
      // A repeated DSI is stored once, DSIs of two table_id_extensions both; a DII counts once for its
      // downloadId, and current_next_indicator is not checked.
      {{dsi(), dsi()}, {1, 0, 0}, 4, "current_next_indicator: 0x1"},
      {{dsi(), dsi(0x30, {.table_id_extension = 1})}, {2, 0, 0}, 4, "table_id_extension: 0"},
      {{dii(0x10, 2), dii(0x10, 4), dii(0x10, 2)}, {0, 1, 0}, 4, "DII already in tree"},
      {{dii(0x10), dii(0x11)}, {0, 2, 0}, 4, "version_number: 0"},
      {{dsi(0x10, {.current_next_indicator = false})}, {1, 0, 0}, 4, "current_next_indicator: 0"},
      // Control sections other than the first of version 0 are dropped, as is what does not decode.
      {{dsi(0x10, {.version_number = 1})}, {0, 0, 0}, 2, invalid + "0 version=1 last_section=0"},
      {{dii(3, 2, {.version_number = 31})}, {0, 0, 0}, 2, invalid + "0 version=31 last_section=0"},
      {{dsi(0x10, {.section_number = 1, .last_section_number = 1})},
       {0, 0, 0},
       2,
       invalid + "1 version=0 last_section=1"},
      {{dii(3, 2, {.last_section_number = 2})}, {0, 0, 0}, 2, invalid + "0 version=0 last_section=2"},
      {{dsi(0x10, {}, 0x1003)}, {0, 0, 0}, 4, "Unknown msg: 0x1003"},
      {{ts::long_section({.table_id = 0x3B}, Bytes(3, 0x10))}, {0, 0, 0}, 2, "3 bytes holds no messageId"},
      {{dsi(0x10, {.bad_crc = true})}, {0, 0, 0}, 2, "failed to parse dsm section: "},
      {{ts::head(ddb(1, 2, 0), 20)},
       {0, 0, 0},
       2,
       "failed to parse dsm section: "},  // shorter than its length
      {{dsi(0x10, {}, 0x1006, 0)}, {0, 0, 0}, 1, "Failed to parse DSI"},
      {{dii(1, 2, {}, 0)}, {0, 0, 0}, 1, "Failed to parse DII"},
  };
  for (const IntakeCase& c : cases) {
    SCOPED_TRACE(c.line);
    ts::StoreCapture capture;
    ts::LogCapture log;
    for (const Bytes& section : c.sections) capture.deliver(kPid, section);
    EXPECT_EQ(capture.counts(), c.counts);
    size_t found = 0;
    for (const auto& line : log.lines())
      found += line.level == c.level && line.text.find(c.line) != std::string::npos;
    // A trace line may come for each section; any other line comes once.
    EXPECT_TRUE(found == 1 || (c.level == 4 && found > 1)) << log.dump();
  }
}

// A PID shared by two programmes files under each; each record owns its section and keeps the first
// copy of a block; a PID outside the capture list is ignored without a line.
TEST(Intake, RecordsOfASharedPidOwnTheirSectionsAndKeepTheFirstCopy) {
  ts::StoreCapture capture({{1, kPid}, {2, kPid}, {2, 0x200}});
  ts::LogCapture log;
  // Blocks are filed by section_number, their repeats dropped, without a line at the trace level.
  for (const Bytes& section :
       {ddb(0x20, 3, 5, {0xA1}), ddb(0x20, 3, 2), ddb(0x20, 4, 5), ddb(0x20, 3, 5, {0xFF})})
    capture.deliver(kPid, section);
  capture.deliver(0x200, ddb(0x20, 3, 6));
  EXPECT_TRUE(log.lines().empty()) << log.dump();
  capture.deliver(kPid, dsi(0x22));
  capture.deliver(kPid, dii(0x20));
  EXPECT_EQ(capture.counts(), (std::array<int, 3>{2, 2, 7}));
  EXPECT_TRUE(log.has(4, "CDSMCCDlg::_OnUserNetworkMessage() pid=0x100")) << log.dump();
  const size_t lines = log.lines().size();
  capture.deliver(0x101, dsi());
  EXPECT_EQ(capture.counts(), (std::array<int, 3>{2, 2, 7}));
  EXPECT_EQ(log.lines().size(), lines) << log.dump();
  const PidRecord* a = capture.record(1, kPid);
  const PidRecord* b = capture.record(2, kPid);
  ASSERT_TRUE(a && b);
  const StoredMessage& stored = a->dsi.at(0);
  const auto& bytes = stored.section->section_bytes();
  // The delivery buffer is gone: the message views its own section's bytes.
  EXPECT_GE(stored.dsi()->privateData.data(), bytes.data());
  EXPECT_LE(stored.dsi()->privateData.data() + stored.dsi()->privateData.size(), bytes.data() + bytes.size());
  EXPECT_NE(stored.section, b->dsi.at(0).section) << "each programme has its own section object";
  EXPECT_EQ(a->ddb.at(0x20).at(3).at(5).ddb()->blockData[0], 0xA1) << "the block first received stays";
}

TEST(Intake, BlockCopiesKeepWhatASaveNeedsAndMarkConflicts) {
  struct Copy {
    bool verified;
    uint8_t version;
    uint8_t byte;
  };
  struct Case {
    const char* name;
    std::vector<Copy> copies;
    size_t kept;
    bool conflict;
  };
  const std::vector<Case> cases = {
      {"verified repeat dropped", {{true, 1, 7}, {true, 1, 7}}, 1, false},
      {"verified copies that differ", {{true, 1, 7}, {true, 1, 8}}, 1, true},
      {"unverified then verified", {{false, 1, 8}, {true, 1, 7}, {true, 1, 7}}, 2, false},
      {"unverified copy that differs", {{true, 1, 7}, {false, 1, 8}}, 1, false},
      {"each version kept", {{true, 1, 7}, {true, 2, 8}}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ts::StoreCapture capture;
    for (const Copy& copy : c.copies) {
      Bytes section = ddb(0x20, 1, 0, {copy.byte, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, copy.version);
      capture.deliver(kPid, copy.verified ? section : ts::unverifiable_copy(section, section.size() - 6));
    }
    const BlockCopies& block = capture.record(1, kPid)->block_copies.at(0x20).at(1).at(0);
    EXPECT_EQ(block.copies.size(), c.kept);
    EXPECT_EQ(block.conflict, c.conflict);
    ASSERT_NE(block.verified(1), nullptr);
    EXPECT_TRUE(block.verified(1)->crc_verified);
  }
}

// Repeats of a stored section may skip their decoding while the trace is off; every line that their
// decoding writes at the threshold in force is still written, once per repeat.
TEST(Intake, ARepeatWritesEveryLineOfItsDecodingAtTheThresholdInForce) {
  ts::StoreCapture capture;
  const Bytes section = dsi(0x10, {}, 0x1006, 0xFF, {0xAA, 0xBB});  // past the gateway info: a level-3 line
  ts::LogCapture log;
  auto mismatches = [&] { return log.count_containing("ServiceGatewayInfo length mismatch"); };
  logio::g_log.set_level(2);
  capture.deliver(kPid, section);
  capture.deliver(kPid, section);
  EXPECT_EQ(mismatches(), 0u);
  logio::g_log.set_level(3);
  capture.deliver(kPid, section);
  capture.deliver(kPid, section);
  EXPECT_EQ(mismatches(), 2u) << log.dump();
  logio::g_log.set_level(4);
  capture.deliver(kPid, dsi(0x20));
  capture.deliver(kPid, dsi(0x20));
  EXPECT_EQ(log.count_containing("CDSMCCDlg::_OnUserNetworkMessage() pid=0x100"), 2u) << "the trace is back";
  EXPECT_EQ(capture.counts(), (std::array<int, 3>{1, 0, 0}));
}

TEST(Intake, DeliveriesFromTwoThreadsAreSerialised) {
  ts::StoreCapture capture({{1, kPid}, {2, kPid}});
  std::vector<Bytes> sections;
  for (uint16_t module = 0; module < 4; ++module)
    for (uint8_t number = 0; number < 50; ++number) sections.push_back(ddb(0x40, module, number));
  ts::LogCapture log;
  auto run = [&] {
    for (const auto& s : sections) capture.deliver(kPid, s);
  };
  std::thread a(run), b(run);
  a.join();
  b.join();
  EXPECT_EQ(capture.counters.ddb_count.load(), 2 * 200);
  for (int32_t program : {1, 2})
    for (const auto& [module, blocks] : capture.record(program, kPid)->ddb.at(0x40))
      EXPECT_EQ(blocks.size(), 50u);
}
