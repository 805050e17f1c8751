// The section intake driven through the section callback, as the host drives it: routing, the
// validity check, the filing, duplicate and counter rules, and the log lines of each step.
#include "store/section_intake.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/dsmcc/log_capture.h"
#include "tests/support/dsmcc_builder.h"

namespace ts = testsupport;
using testlog::LogCapture;

namespace {

constexpr uint32_t kPid = 0x0100;

ts::DsiSpec gateway_dsi(uint32_t carouselId = 0x10) {
  ts::DsiSpec dsi;
  dsi.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(carouselId, 1, {0x01}, 0x0B, 0x80000002)));
  return dsi;
}

ts::DiiSpec dii_of(uint32_t downloadId, uint32_t transactionId = 0x80000002) {
  ts::DiiSpec dii;
  dii.header.transactionId = transactionId;
  dii.downloadId = downloadId;
  dii.modules = {ts::module_entry(1, 100, 1)};
  return dii;
}

std::vector<uint8_t> ddb_section_of(uint32_t downloadId, uint16_t moduleId, uint8_t section_number,
                                    uint16_t blockNumber, std::vector<uint8_t> data = {1, 2, 3}) {
  ts::SectionSpec s;
  s.section_number = section_number;
  s.last_section_number = 9;
  s.version_number = 1;  // download data sections are not checked
  return ts::ddb_section(ts::block(downloadId, moduleId, blockNumber, std::move(data)), s);
}

// A capture of programme/PID pairs, with the intake and the contexts the host would hold.
class IntakeTest : public ::testing::Test {
 protected:
  void capture(const std::vector<std::pair<int32_t, uint32_t>>& pairs) {
    for (const auto& [program, pid] : pairs) {
      store.capture_pairs.insert({static_cast<uint32_t>(program), pid});
      store.pid_map[program].insert(pid);
    }
    intake.clear_store();
    intake.start_programs();
    counters.reset();
  }

  void deliver(uint32_t pid, const std::vector<uint8_t>& section) {
    FilterContext context{pid, 7, &intake};
    // A copy of the host's buffer that dies with the call, as the contract says.
    std::vector<uint8_t> buffer(section);
    section_callback(&context, static_cast<uint32_t>(buffer.size()), buffer.data());
  }

  PidRecord* pid_record(int32_t program, uint32_t pid) {
    auto p = store.programs.find(program);
    if (p == store.programs.end()) return nullptr;
    auto r = p->second.pids.find(static_cast<int32_t>(pid));
    return r == p->second.pids.end() ? nullptr : r->second.get();
  }

  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};
};

}  // namespace

// ---- Start ---------------------------------------------------------------------------------------

TEST_F(IntakeTest, StartGivesEveryProgrammeOfThePidMapAnEmptyRecordInOrder) {
  store.pid_map[12].insert(0x100);
  store.pid_map[3].insert(0x200);
  store.pid_map[-2].insert(0x300);  // 0xFFFFFFFE as a signed key sorts first
  // A record left from an earlier capture is replaced by an empty one.
  store.programs[12].pids[5] = std::make_unique<PidRecord>();
  LogCapture log;
  intake.start_programs();
  ASSERT_EQ(store.programs.size(), 3u);
  EXPECT_TRUE(store.programs[12].pids.empty());
  const std::vector<std::string> expected = {"Adding PRG (-2)", "Adding PRG (3)", "Adding PRG (12)"};
  EXPECT_EQ(log.texts(), expected);
  for (const auto& line : log.lines()) EXPECT_EQ(line.level, 4);
}

TEST_F(IntakeTest, EmptyCaptureListRoutesNothing) {
  capture({});
  LogCapture log;
  deliver(kPid, ts::dsi_section(gateway_dsi()));
  EXPECT_TRUE(store.programs.empty());
  EXPECT_EQ(counters.dsi_count.load(), 0);
  EXPECT_TRUE(log.lines().empty()) << log.dump();
}

TEST_F(IntakeTest, ClearStoreEmptiesProgrammesButKeepsTheCaptureList) {
  capture({{1, kPid}});
  deliver(kPid, ts::dsi_section(gateway_dsi()));
  deliver(kPid, ts::dii_section(dii_of(5)));
  deliver(kPid, ddb_section_of(5, 1, 0, 0));
  ASSERT_NE(pid_record(1, kPid), nullptr);
  intake.clear_store();
  EXPECT_TRUE(store.programs.empty());
  EXPECT_EQ(store.capture_pairs.size(), 1u);
  EXPECT_EQ(store.pid_map.size(), 1u);
}

// ---- Filing --------------------------------------------------------------------------------------

TEST_F(IntakeTest, DsiIsFiledByTableIdExtensionWithViewsIntoItsOwnSection) {
  capture({{1, kPid}});
  LogCapture log;
  deliver(kPid, ts::dsi_section(gateway_dsi(0x22)));
  ASSERT_EQ(counters.dsi_count.load(), 1);
  PidRecord* record = pid_record(1, kPid);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->dsi.count(0x0000), 1u);
  const StoredMessage& stored = record->dsi.at(0x0000);
  ASSERT_NE(stored.section, nullptr);
  const auto& bytes = stored.section->section_bytes();
  const CDownloadServerInitiate* dsi = stored.dsi();
  // The delivery buffer is gone: the views must point into the section object's own bytes.
  EXPECT_GE(dsi->serverId.data(), bytes.data());
  EXPECT_LE(dsi->privateData.data() + dsi->privateData.size(), bytes.data() + bytes.size());
  ASSERT_EQ(dsi->gateway.profiles.size(), 1u);
  EXPECT_EQ(dsi->gateway.profiles[0].carouselId, 0x22u);

  const std::vector<std::string> head = {"CDSMCCDlg::_OnUserNetworkMessage() pid=0x100",
                                         "table_id_extension: 0",
                                         "version_number: 0",
                                         "section_number: 0",
                                         "last_section_number: 0",
                                         "current_next_indicator: 0x1"};
  const auto texts = log.texts();
  ASSERT_GE(texts.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 6), head);
}

TEST_F(IntakeTest, SameDsiTwiceIsStoredOnceWithoutALine) {
  capture({{1, kPid}});
  const auto section = ts::dsi_section(gateway_dsi());
  deliver(kPid, section);
  const StoredMessage first = pid_record(1, kPid)->dsi.at(0);
  LogCapture log;
  deliver(kPid, section);
  EXPECT_EQ(counters.dsi_count.load(), 1);
  ASSERT_EQ(pid_record(1, kPid)->dsi.size(), 1u);
  EXPECT_EQ(pid_record(1, kPid)->dsi.at(0).section, first.section) << "the first copy stays";
  EXPECT_EQ(log.count_containing("already"), 0u);
  for (const auto& line : log.lines()) EXPECT_EQ(line.level, 4) << line.text;
}

// Repeats of a stored section may skip their decoding while the trace is off; every line that their
// decoding writes at the threshold in force must still be written, once per repeat.
TEST_F(IntakeTest, ARepeatWritesEveryLineOfItsDecodingAtTheThresholdInForce) {
  capture({{1, kPid}});
  auto dsi = gateway_dsi();
  dsi.private_data.insert(dsi.private_data.end(), {0xAA, 0xBB});  // past the gateway info: a level-3 line
  const auto section = ts::dsi_section(dsi);
  LogCapture log;
  auto mismatches = [&] { return log.count_containing("ServiceGatewayInfo length mismatch"); };
  g_log.set_level(2);
  deliver(kPid, section);
  deliver(kPid, section);
  EXPECT_EQ(mismatches(), 0u);
  g_log.set_level(3);
  deliver(kPid, section);
  deliver(kPid, section);
  EXPECT_EQ(mismatches(), 2u) << log.dump();
  const auto clean = ts::dsi_section(gateway_dsi(0x20));
  deliver(kPid, clean);
  deliver(kPid, clean);
  g_log.set_level(4);
  deliver(kPid, clean);
  EXPECT_EQ(log.count_containing("CDSMCCDlg::_OnUserNetworkMessage() pid=0x100"), 1u) << "the trace is back";
  EXPECT_EQ(mismatches(), 2u);
  EXPECT_EQ(counters.dsi_count.load(), 1);
  EXPECT_EQ(pid_record(1, kPid)->dsi.size(), 1u);
}

TEST_F(IntakeTest, DsisOfOtherTableIdExtensionsAreEachCounted) {
  capture({{1, kPid}});
  ts::SectionSpec other;
  other.table_id_extension = 0x0001;
  deliver(kPid, ts::dsi_section(gateway_dsi()));
  deliver(kPid, ts::dsi_section(gateway_dsi(0x30), other));
  EXPECT_EQ(counters.dsi_count.load(), 2);
  EXPECT_EQ(pid_record(1, kPid)->dsi.size(), 2u);
}

TEST_F(IntakeTest, DiiDuplicateAndCounterRules) {
  capture({{1, kPid}});
  LogCapture log;
  deliver(kPid, ts::dii_section(dii_of(0x10, 0x80000002)));
  deliver(kPid, ts::dii_section(dii_of(0x10, 0x80000004)));  // same downloadId, table_id_extension 4
  EXPECT_EQ(counters.dii_count.load(), 1) << "a known downloadId is not counted again";
  const PidRecord* record = pid_record(1, kPid);
  ASSERT_EQ(record->dii.count(0x10), 1u);
  EXPECT_EQ(record->dii.at(0x10).size(), 2u);
  EXPECT_EQ(log.count_containing("DII already in tree"), 0u);

  deliver(kPid, ts::dii_section(dii_of(0x10, 0x80000002)));
  EXPECT_EQ(log.count(4, "DII already in tree"), 1u) << log.dump();
  EXPECT_EQ(record->dii.at(0x10).size(), 2u);
  EXPECT_EQ(counters.dii_count.load(), 1);

  deliver(kPid, ts::dii_section(dii_of(0x11, 0x80000002)));
  EXPECT_EQ(counters.dii_count.load(), 2) << "a new downloadId is counted";
  EXPECT_EQ(record->dii.size(), 2u);
}

TEST_F(IntakeTest, DownloadIdsWithTheTopBitSetSortFirst) {
  capture({{1, kPid}});
  deliver(kPid, ts::dii_section(dii_of(0x00000005)));
  deliver(kPid, ts::dii_section(dii_of(0x80000001)));
  deliver(kPid, ddb_section_of(0x00000005, 1, 0, 0));
  deliver(kPid, ddb_section_of(0xFFFFFFFF, 1, 0, 0));
  const PidRecord* record = pid_record(1, kPid);
  ASSERT_EQ(record->dii.size(), 2u);
  EXPECT_EQ(static_cast<uint32_t>(record->dii.begin()->first), 0x80000001u);
  EXPECT_EQ(record->dii.begin()->second.begin()->second.dii()->downloadId, 0x80000001u);
  ASSERT_EQ(record->ddb.size(), 2u);
  EXPECT_EQ(static_cast<uint32_t>(record->ddb.begin()->first), 0xFFFFFFFFu);
}

TEST_F(IntakeTest, BlocksAreFiledBySectionNumberAndDuplicatesDropped) {
  capture({{1, kPid}});
  LogCapture log;
  deliver(kPid, ddb_section_of(0x20, 3, 5, 7, {0xA1}));
  deliver(kPid, ddb_section_of(0x20, 3, 2, 7, {0xA2}));
  deliver(kPid, ddb_section_of(0x20, 4, 5, 0, {0xA3}));
  deliver(kPid, ddb_section_of(0x20, 3, 5, 7, {0xFF}));  // a second copy of section 5 of module 3
  EXPECT_EQ(counters.ddb_count.load(), 3);
  const PidRecord* record = pid_record(1, kPid);
  ASSERT_EQ(record->ddb.count(0x20), 1u);
  const auto& modules = record->ddb.at(0x20);
  ASSERT_EQ(modules.size(), 2u);
  const ModuleBlockMap& blocks = modules.at(3);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks.begin()->first, 2) << "keyed by section_number, not blockNumber";
  EXPECT_EQ(blocks.at(5).ddb()->blockData[0], 0xA1) << "the block first received stays";
  EXPECT_EQ(blocks.at(5).ddb()->blockNumber, 7u);
  EXPECT_EQ(modules.at(4).at(5).ddb()->blockData[0], 0xA3);
  EXPECT_EQ(log.count_containing("DDD"), 0u);
  EXPECT_EQ(log.count_containing("already"), 0u);
  EXPECT_TRUE(log.lines().empty()) << "download data is filed without trace: " << log.dump();
}

TEST_F(IntakeTest, PidSharedByTwoProgrammesIsStoredAndCountedForEach) {
  capture({{1, kPid}, {2, kPid}, {2, 0x200}});
  deliver(kPid, ts::dsi_section(gateway_dsi()));
  deliver(kPid, ts::dii_section(dii_of(9)));
  deliver(kPid, ddb_section_of(9, 1, 0, 0));
  deliver(0x200, ddb_section_of(9, 1, 1, 1));
  EXPECT_EQ(counters.dsi_count.load(), 2);
  EXPECT_EQ(counters.dii_count.load(), 2);
  EXPECT_EQ(counters.ddb_count.load(), 3);
  PidRecord* a = pid_record(1, kPid);
  PidRecord* b = pid_record(2, kPid);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a->dsi.at(0).section, b->dsi.at(0).section) << "each programme has its own section object";
  EXPECT_NE(a->dsi.at(0).message, b->dsi.at(0).message);
  EXPECT_EQ(pid_record(1, 0x200), nullptr);
  ASSERT_NE(pid_record(2, 0x200), nullptr);
  EXPECT_EQ(pid_record(2, 0x200)->ddb.at(9).at(1).size(), 1u);
}

TEST_F(IntakeTest, SectionOfAnUncapturedPidIsIgnored) {
  capture({{1, kPid}});
  LogCapture log;
  deliver(0x101, ts::dsi_section(gateway_dsi()));
  EXPECT_EQ(pid_record(1, 0x101), nullptr);
  EXPECT_EQ(counters.dsi_count.load(), 0);
  EXPECT_TRUE(log.lines().empty()) << log.dump();
}

TEST_F(IntakeTest, ProgrammeMissingFromThePidMapIsReportedAndSkipped) {
  capture({{1, kPid}, {4, kPid}});
  store.pid_map.erase(1);
  LogCapture log;
  deliver(kPid, ts::dsi_section(gateway_dsi()));
  EXPECT_EQ(log.count(2, "Unexpected PRG not in PID map (0x1)"), 1u) << log.dump();
  EXPECT_EQ(pid_record(1, kPid), nullptr);
  ASSERT_NE(pid_record(4, kPid), nullptr) << "the other programmes are still served";
  EXPECT_EQ(counters.dsi_count.load(), 1);
}

// ---- Rejections ----------------------------------------------------------------------------------

struct InvalidCase {
  const char* name;
  bool dii;
  uint8_t section_number;
  uint8_t version_number;
  uint8_t last_section_number;
  const char* line;
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
  *os << c.name;
}

class InvalidControlSectionTest : public IntakeTest, public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidControlSectionTest, IsDroppedWithItsLine) {
  const auto& c = GetParam();
  capture({{1, kPid}});
  ts::SectionSpec s;
  s.section_number = c.section_number;
  s.version_number = c.version_number;
  s.last_section_number = c.last_section_number;
  LogCapture log;
  deliver(kPid, c.dii ? ts::dii_section(dii_of(3), s) : ts::dsi_section(gateway_dsi(), s));
  EXPECT_EQ(log.count(2, c.line), 1u) << log.dump();
  EXPECT_EQ(pid_record(1, kPid), nullptr);
  EXPECT_EQ(counters.dsi_count.load() + counters.dii_count.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderFields, InvalidControlSectionTest,
    ::testing::Values(InvalidCase{"dsi_version_1", false, 0, 1, 0,
                                  "invalid dsm section, section=0 version=1 last_section=0"},
                      InvalidCase{"dii_version_31", true, 0, 31, 0,
                                  "invalid dsm section, section=0 version=31 last_section=0"},
                      InvalidCase{"dsi_second_section", false, 1, 0, 1,
                                  "invalid dsm section, section=1 version=0 last_section=1"},
                      InvalidCase{"dii_last_section_2", true, 0, 0, 2,
                                  "invalid dsm section, section=0 version=0 last_section=2"}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST_F(IntakeTest, CurrentNextIndicatorIsNotChecked) {
  capture({{1, kPid}});
  ts::SectionSpec s;
  s.current_next_indicator = false;
  LogCapture log;
  deliver(kPid, ts::dsi_section(gateway_dsi(), s));
  EXPECT_EQ(counters.dsi_count.load(), 1);
  EXPECT_TRUE(log.has(4, "current_next_indicator: 0"));
}

TEST_F(IntakeTest, OtherTablesAreUnsupported) {
  capture({{1, kPid}});
  LogCapture log;
  ts::SectionSpec s;
  s.table_id = 0x3D;
  deliver(kPid, ts::build_section(ts::build_dsi(gateway_dsi()), s));
  EXPECT_EQ(log.texts(), std::vector<std::string>{"unsupported message"});
  EXPECT_TRUE(log.has(4, "unsupported message"));
  EXPECT_EQ(pid_record(1, kPid), nullptr);
}

TEST_F(IntakeTest, OtherControlMessagesAreUnknown) {
  capture({{1, kPid}});
  LogCapture log;
  ts::DsiSpec not_a_dsi = gateway_dsi();
  not_a_dsi.header.messageId = 0x1003;
  deliver(kPid, ts::dsi_section(not_a_dsi));
  EXPECT_EQ(log.count(4, "Unknown msg: 0x1003"), 1u) << log.dump();
  EXPECT_EQ(pid_record(1, kPid), nullptr);
}

TEST_F(IntakeTest, MessageTooShortForAMessageIdIsDropped) {
  capture({{1, kPid}});
  for (size_t length : {0u, 3u}) {
    LogCapture log;
    deliver(kPid, ts::build_section(std::vector<uint8_t>(length, 0x10)));
    EXPECT_EQ(log.count_containing("Unknown msg: message part of " + std::to_string(length) + " bytes"), 1u)
        << log.dump();
  }
  EXPECT_EQ(pid_record(1, kPid), nullptr);
}

TEST_F(IntakeTest, SectionsTheLibraryRejectsAreLoggedWithItsText) {
  capture({{1, kPid}});
  ts::SectionSpec bad_crc;
  bad_crc.bad_crc = true;
  auto ddb_without_crc = ddb_section_of(1, 2, 0, 0, {0});
  ddb_without_crc.resize(ddb_without_crc.size() - 4);  // shorter than its section_length says
  const std::vector<std::vector<uint8_t>> sections = {
      ts::dsi_section(gateway_dsi(), bad_crc), ts::dii_section(dii_of(1), bad_crc),
      ts::ddb_section(ts::block(1, 1, 0, {0}), bad_crc), ddb_without_crc};
  const std::string prefix = "failed to parse dsm section: ";
  for (const auto& section : sections) {
    LogCapture log;
    deliver(kPid, section);
    size_t failures = 0;
    for (const auto& line : log.lines())
      if (line.level == 2 && line.text.rfind(prefix, 0) == 0 && line.text.size() > prefix.size()) ++failures;
    EXPECT_EQ(failures, 1u) << log.dump();
    EXPECT_EQ(log.count_containing("Failed to parse"), 0u) << "no decoder runs on a rejected section";
  }
  EXPECT_EQ(pid_record(1, kPid), nullptr);
}

TEST_F(IntakeTest, TheSizeHandedOverBoundsTheSection) {
  capture({{1, kPid}});
  auto section = ts::dsi_section(gateway_dsi());
  std::vector<uint8_t> buffer(section);
  FilterContext context{kPid, 0, &intake};
  LogCapture log;
  section_callback(&context, static_cast<uint32_t>(buffer.size() - 1), buffer.data());
  EXPECT_EQ(counters.dsi_count.load(), 0);
  EXPECT_EQ(log.count_containing("failed to parse dsm section: "), 1u) << log.dump();
}

TEST_F(IntakeTest, NoContextOrNoBytesIsLoggedNotFollowed) {
  capture({{1, kPid}});
  LogCapture log;
  const auto section = ts::dsi_section(gateway_dsi());
  section_callback(nullptr, static_cast<uint32_t>(section.size()), section.data());
  FilterContext orphan{kPid, 0, nullptr};
  section_callback(&orphan, static_cast<uint32_t>(section.size()), section.data());
  FilterContext context{kPid, 0, &intake};
  section_callback(&context, 0, section.data());
  section_callback(&context, 10, nullptr);
  EXPECT_EQ(log.lines().size(), 4u) << log.dump();
  EXPECT_EQ(pid_record(1, kPid), nullptr);
}

struct DecoderRejectCase {
  const char* name;
  std::vector<uint8_t> (*section)();
  std::vector<std::string> lines;  // the last lines of the log, in order
};

void PrintTo(const DecoderRejectCase& c, std::ostream* os) {
  *os << c.name;
}

class DecoderRejectTest : public IntakeTest, public ::testing::WithParamInterface<DecoderRejectCase> {};

TEST_P(DecoderRejectTest, ReservedBytesRejectWithTheirLines) {
  const auto& c = GetParam();
  capture({{1, kPid}});
  LogCapture log;
  deliver(kPid, c.section());
  const auto lines = log.lines();
  ASSERT_GE(lines.size(), c.lines.size()) << log.dump();
  for (size_t i = 0; i < c.lines.size(); ++i) {
    const auto& line = lines[lines.size() - c.lines.size() + i];
    EXPECT_EQ(line.text, c.lines[i]) << log.dump();
    EXPECT_EQ(line.level, 1);
  }
  EXPECT_EQ(pid_record(1, kPid), nullptr);
  EXPECT_EQ(counters.dsi_count.load() + counters.dii_count.load() + counters.ddb_count.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DecoderRejectTest,
    ::testing::Values(DecoderRejectCase{"dsi_header",
                                        [] {
                                          auto dsi = gateway_dsi();
                                          dsi.header.reserved = 0x00;
                                          return ts::dsi_section(dsi);
                                        },
                                        {"Failed to parse header", "Failed to parse DSI"}},
                      DecoderRejectCase{"dii_header",
                                        [] {
                                          auto dii = dii_of(1);
                                          dii.header.reserved = 0x00;
                                          return ts::dii_section(dii);
                                        },
                                        {"Failed to parse DII"}},
                      DecoderRejectCase{
                          "ddb_header",
                          [] {
                            auto ddb = ts::block(1, 1, 0, {1});
                            ddb.header.reserved = 0xFE;
                            return ts::ddb_section(ddb);
                          },
                          {"DownloadDataHeader unexpected reserved value: 0xfe", "Failed to parse DDD"}},
                      DecoderRejectCase{"ddb_block",
                                        [] {
                                          auto ddb = ts::block(1, 1, 0, {1});
                                          ddb.reserved = 0xFE;
                                          return ts::ddb_section(ddb);
                                        },
                                        {"DownloadDataBlock unexpected reserved value: 0xfe, offset 12",
                                         "Failed to parse DDD"}},
                      DecoderRejectCase{"dii_count_past_end",
                                        [] {
                                          auto dii = dii_of(1);
                                          dii.numberOfModules = 3;
                                          return ts::dii_section(dii);
                                        },
                                        {"Failed to parse DII"}}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

// ---- Threads -------------------------------------------------------------------------------------

TEST_F(IntakeTest, DeliveriesFromTwoThreadsAreSerialised) {
  capture({{1, kPid}, {2, kPid}});
  std::vector<std::vector<uint8_t>> sections;
  for (int module = 0; module < 4; ++module)
    for (int number = 0; number < 50; ++number)
      sections.push_back(
          ddb_section_of(0x40, static_cast<uint16_t>(module), static_cast<uint8_t>(number), 0));
  LogCapture log;
  // Both threads deliver every section: each block is filed once per programme, the copies are dropped.
  auto run = [&]() {
    for (const auto& s : sections) deliver(kPid, s);
  };
  std::thread a(run), b(run);
  a.join();
  b.join();
  EXPECT_EQ(counters.ddb_count.load(), 2 * 200);
  for (int32_t program : {1, 2}) {
    const auto& modules = pid_record(program, kPid)->ddb.at(0x40);
    ASSERT_EQ(modules.size(), 4u);
    for (const auto& [module, blocks] : modules) EXPECT_EQ(blocks.size(), 50u);
  }
}
