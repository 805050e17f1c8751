// Real carousel sections, fed through the section callback in stream order. The expected values were
// read with an outside decoder (DII module lists, section headers) and, for the DSI's private data, decoded
// by hand from its bytes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "store/section_intake.h"
#include "tests/dsmcc/log_capture.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace ts = testsupport;
using testlog::LogCapture;

namespace {

struct Capture {
  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};

  Capture(int32_t program, uint32_t pid) {
    store.capture_pairs.insert({static_cast<uint32_t>(program), pid});
    store.pid_map[program].insert(pid);
    intake.start_programs();
  }

  void feed(uint32_t pid, const std::vector<ts::Bytes>& sections) {
    FilterContext context{pid, 1, &intake};
    for (const auto& s : sections) section_callback(&context, static_cast<uint32_t>(s.size()), s.data());
  }
};

}  // namespace

TEST(StreamIntake, HbbtvStreamEventCarousel) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const auto stream = ts::read_file(path);
  const auto sections = ts::extract_sections(stream, 188, 0x138E);
  ASSERT_EQ(sections.size(), 57u + 57u + 56u);

  // One entry per distinct (downloadId, moduleId, section_number) among the download data sections.
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> distinct_blocks;
  for (const auto& s : sections) {
    if (s[0] != 0x3C || s.size() < 8 + 18) continue;
    const uint32_t download =
        (uint32_t{s[12]} << 24) | (uint32_t{s[13]} << 16) | (uint32_t{s[14]} << 8) | s[15];
    const uint32_t module = (uint32_t{s[20]} << 8) | s[21];
    distinct_blocks.insert({download, module, s[6]});
  }

  LogCapture log;
  Capture capture(1, 0x138E);
  capture.feed(0x138E, sections);

  EXPECT_EQ(capture.counters.dsi_count.load(), 1);
  EXPECT_EQ(capture.counters.dii_count.load(), 1);
  EXPECT_EQ(capture.counters.ddb_count.load(), static_cast<int32_t>(distinct_blocks.size()));
  EXPECT_EQ(distinct_blocks.size(), 2u);
  EXPECT_EQ(log.count_containing("Failed to parse"), 0u) << log.dump();
  EXPECT_EQ(log.count_containing("failed to parse"), 0u);
  EXPECT_EQ(log.count_containing("length mismatch"), 0u);
  EXPECT_EQ(log.count_containing("ends early"), 0u);
  EXPECT_EQ(log.count(4, "DII already in tree"), 56u);

  const PidRecord& record = *capture.store.programs.at(1).pids.at(0x138E);

  // DII: transaction 0x80010003 on table_id_extension 3, downloadId 0xC, one module of 6688 bytes.
  ASSERT_EQ(record.dii.size(), 1u);
  ASSERT_EQ(record.dii.at(0xC).size(), 1u);
  const CDownloadInfoIndication& dii = *record.dii.at(0xC).at(0x0003).dii();
  EXPECT_EQ(dii.header.transactionId, 0x80010003u);
  EXPECT_EQ(dii.header.messageLength, 62u);
  EXPECT_EQ(dii.downloadId, 0xCu);
  EXPECT_EQ(dii.blockSize, 4066u);
  EXPECT_EQ(dii.windowSize, 0u);
  EXPECT_EQ(dii.ackPeriod, 0u);
  EXPECT_EQ(dii.tcDownloadWindow, 0u);
  EXPECT_EQ(dii.tcDownloadScenario, 0u);
  EXPECT_EQ(dii.numberOfModules, 1u);
  ASSERT_EQ(dii.modules.size(), 1u);
  EXPECT_EQ(dii.modules[0].moduleId, 1u);
  EXPECT_EQ(dii.modules[0].moduleSize, 6688u);
  EXPECT_EQ(dii.modules[0].moduleVersion, 1u);
  EXPECT_EQ(dii.modules[0].moduleInfoLength, 32u);
  EXPECT_EQ(dii.privateDataLength, 0u);

  // DDB: the two blocks of module 1 (version 1), stored by section_number; together the whole module.
  const ModuleBlockMap& blocks = record.ddb.at(0xC).at(1);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks.at(0).ddb()->blockNumber, 0u);
  EXPECT_EQ(blocks.at(1).ddb()->blockNumber, 1u);
  EXPECT_EQ(blocks.at(0).ddb()->moduleVersion, 1u);
  EXPECT_EQ(blocks.at(0).ddb()->blockDataLength, 4066u);
  EXPECT_EQ(blocks.at(1).ddb()->blockDataLength, 2622u);
  EXPECT_EQ(blocks.at(1).ddb()->header.messageLength, 2628u);
  EXPECT_EQ(blocks.at(0).ddb()->blockDataLength + blocks.at(1).ddb()->blockDataLength,
            dii.modules[0].moduleSize);

  // DSI: private data of 64 bytes, one BIOP profile: the service gateway object in module 1 under key 01,
  // delivered by the DII of transaction 0x80000002 on association tag 0x17.
  ASSERT_EQ(record.dsi.size(), 1u);
  const CDownloadServerInitiate& dsi = *record.dsi.at(0).dsi();
  EXPECT_EQ(dsi.header.transactionId, 0x80000000u);
  EXPECT_EQ(dsi.privateDataLength, 64u);
  ASSERT_TRUE(dsi.gatewayParsed);
  ASSERT_EQ(dsi.gateway.profiles.size(), 1u);
  const BiopProfileBody& p = dsi.gateway.profiles[0];
  EXPECT_EQ(p.profileId_tag, 0x49534F06u);
  EXPECT_EQ(p.profile_data_length, 40u);
  EXPECT_EQ(p.profile_data_byte_order, 0u);
  EXPECT_EQ(p.lite_component_count, 2u);
  EXPECT_EQ(p.location_component_data_length, 10u);
  EXPECT_EQ(p.carouselId, 0xCu);
  EXPECT_EQ(p.moduleId, 1u);
  EXPECT_EQ(p.version_major, 1u);
  EXPECT_EQ(p.version_minor, 0u);
  EXPECT_EQ(p.objectKey, (Bytes{0x01}));
  EXPECT_EQ(p.binder_component_data_length, 18u);
  EXPECT_EQ(p.taps_count, 1u);
  ASSERT_EQ(p.taps.size(), 1u);
  EXPECT_EQ(p.taps[0].id, 0u);
  EXPECT_EQ(p.taps[0].use, 0x0016u);
  EXPECT_EQ(p.taps[0].assocTag, 0x0017u);
  EXPECT_EQ(p.taps[0].selector_length, 10u);
  EXPECT_EQ(p.taps[0].selector_type, 1u);
  EXPECT_EQ(p.taps[0].transactionId, 0x80000002u);
  EXPECT_EQ(p.taps[0].timeout, 0xFFFFFFFFu);
  EXPECT_TRUE(p.liteComponents.empty());
  EXPECT_EQ(dsi.gateway.downloadTaps_count, 0u);
  EXPECT_EQ(dsi.gateway.serviceContextList_count, 0u);
  EXPECT_EQ(dsi.gateway.userInfoLength, 0u);
  // Every copy of the DSI is decoded before the filing drops it.
  EXPECT_EQ(log.count(4, "carousel_id: 0xc (12)"), 57u);
  EXPECT_EQ(log.count(4, "01"), 57u) << "the gateway's object key";
}

TEST(StreamIntake, ControlSectionsOfAnotherVersionAreNotStoredButTheirBlocksAre) {
  REQUIRE_STREAM(path, "synthetic-oc-dsi-dii-ddb.ts");
  const auto stream = ts::read_file(path);
  const auto sections = ts::extract_sections(stream, 188, 0x00C8);
  ASSERT_EQ(sections.size(), 10u);

  LogCapture log;
  Capture capture(0x20, 0x00C8);
  capture.feed(0x00C8, sections);

  EXPECT_EQ(capture.counters.dsi_count.load(), 1);
  EXPECT_EQ(capture.counters.dii_count.load(), 0);
  EXPECT_EQ(capture.counters.ddb_count.load(), 8);
  EXPECT_EQ(log.count(2, "invalid dsm section, section=0 version=29 last_section=0"), 1u) << log.dump();

  const PidRecord& record = *capture.store.programs.at(0x20).pids.at(0x00C8);
  EXPECT_TRUE(record.dii.empty());
  const ModuleBlockMap& blocks = record.ddb.at(0xA).at(3);
  ASSERT_EQ(blocks.size(), 8u);
  uint32_t number = 0;
  for (const auto& [section_number, stored] : blocks) {
    EXPECT_EQ(static_cast<uint32_t>(section_number), number);
    EXPECT_EQ(stored.ddb()->blockNumber, number);
    EXPECT_EQ(stored.section->last_section_number, 7u);
    ++number;
  }

  // The dropped DII still decodes: its module list as the outside decoder shows it.
  sitables::DsmCC dii_section;
  dii_section.Parse(sections[1], false);
  ASSERT_EQ(dii_section.version_number, 29u);
  CDownloadInfoIndication dii;
  ASSERT_TRUE(dii.Parse(dii_section.get_data()));
  EXPECT_EQ(dii.header.transactionId, 0xA97D0003u);
  EXPECT_EQ(dii.blockSize, 4066u);
  ASSERT_EQ(dii.modules.size(), 3u);
  const uint32_t sizes[] = {133, 379138, 29806};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(dii.modules[i].moduleId, i + 1);
    EXPECT_EQ(dii.modules[i].moduleSize, sizes[i]);
    EXPECT_EQ(dii.modules[i].moduleVersion, 0x7Du);
    EXPECT_EQ(dii.modules[i].moduleInfoLength, 28u);
  }

  const CDownloadServerInitiate& dsi = *record.dsi.at(0).dsi();
  ASSERT_EQ(dsi.gateway.profiles.size(), 1u);
  EXPECT_EQ(dsi.gateway.profiles[0].carouselId, 0xAu);
  EXPECT_EQ(dsi.gateway.profiles[0].moduleId, 1u);
  EXPECT_EQ(dsi.gateway.profiles[0].objectKey, (Bytes{0x01}));
  ASSERT_EQ(dsi.gateway.profiles[0].taps.size(), 1u);
  EXPECT_EQ(dsi.gateway.profiles[0].taps[0].assocTag, 0x000Au);
  EXPECT_EQ(dsi.gateway.profiles[0].taps[0].timeout, 60000000u);
}
