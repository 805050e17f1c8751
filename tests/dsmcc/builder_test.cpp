// The fixture builder against a real broadcaster: built from the field values alone, the sections come
// out byte for byte as they were sent, CRC included. Every other test leans on the builder's layouts.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/dsmcc_builder.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace ts = testsupport;

TEST(DsmccBuilder, RebuildsTheControlSectionsOfARealCarousel) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const auto sections = ts::extract_sections(ts::read_file(path), 188, 0x138E);
  ASSERT_GE(sections.size(), 2u);
  const auto& real_dsi = sections[0];
  const auto& real_dii = sections[1];
  ASSERT_EQ(real_dsi.size(), 112u);
  ASSERT_EQ(real_dii.size(), 86u);

  ts::DsiSpec dsi;
  dsi.header.transactionId = 0x80000000;
  dsi.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(0xC, 0x0001, {0x01}, 0x0017, 0x80000002)));
  EXPECT_EQ(ts::dsi_section(dsi), real_dsi);

  // The module's BIOP ModuleInfo is taken as sent; everything around it is built.
  const std::vector<uint8_t> module_info(real_dii.begin() + 48, real_dii.begin() + 80);
  ts::DiiSpec dii;
  dii.header.transactionId = 0x80010003;
  dii.downloadId = 0xC;
  dii.blockSize = 4066;
  dii.modules = {ts::module_entry(1, 6688, 1, module_info)};
  EXPECT_EQ(ts::dii_section(dii), real_dii);
}

TEST(DsmccBuilder, RebuildsARealDownloadDataSection) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const auto sections = ts::extract_sections(ts::read_file(path), 188, 0x138E);
  for (const auto& real : sections) {
    if (real[0] != 0x3C || real[6] != 1) continue;
    // The second block of module 1: version 1, 2622 bytes of data between the headers and the CRC.
    const std::vector<uint8_t> data(real.begin() + 8 + 18, real.end() - 4);
    ASSERT_EQ(data.size(), 2622u);
    ts::SectionSpec s;
    s.version_number = 1;
    s.section_number = 1;
    s.last_section_number = 1;
    EXPECT_EQ(ts::ddb_section(ts::block(0xC, 1, 1, data, 1), s), real);
    return;
  }
  FAIL() << "no second block in the stream";
}
