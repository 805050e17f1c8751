// Gathering PSI sub-tables: whole, in order, of one version, sound sections only.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/psi_collector.h"
#include "tests/host/capture_util.h"
#include "tests/support/psi_builder.h"

namespace {

using hosttest::take;
using testsupport::Bytes;

Bytes pat(uint8_t version, uint8_t number, uint8_t last, uint16_t first_programme) {
  return testsupport::pat_section(0x0042, {{first_programme, 0x0100}, {static_cast<uint16_t>(first_programme + 1), 0x0101}},
                                  version, number, last);
}

Bytes pmt(uint16_t programme) { return testsupport::pmt_section(programme, 0x0200, {}, {{0x0B, 0x0BB9, {}}}); }

TEST(PsiCollector, SubTableComesWholeAndInSectionNumberOrder) {
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
  host::PsiCollector c(requests);
  EXPECT_EQ(c.pids(), std::vector<uint16_t>{0});
  const Bytes s0 = pat(3, 0, 2, 1), s1 = pat(3, 1, 2, 10), s2 = pat(3, 2, 2, 20);
  EXPECT_TRUE(c.offer(0x0000, s2));
  EXPECT_TRUE(c.offer(0x0000, s0));
  EXPECT_FALSE(c.offer(0x0000, s0));  // already held
  EXPECT_FALSE(c.complete());
  EXPECT_TRUE(c.offer(0x0000, s1));
  EXPECT_TRUE(c.complete());
  SectionReply reply{};
  ASSERT_TRUE(c.fill_replies(&reply));
  EXPECT_EQ(take(reply), (std::vector<Bytes>{s0, s1, s2}));
}

TEST(PsiCollector, NewVersionStartsOver) {
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
  host::PsiCollector c(requests);
  c.offer(0x0000, pat(1, 0, 1, 1));
  const Bytes v2_1 = pat(2, 1, 1, 30), v2_0 = pat(2, 0, 1, 40);
  c.offer(0x0000, v2_1);
  EXPECT_FALSE(c.complete());
  c.offer(0x0000, v2_0);
  ASSERT_TRUE(c.complete());
  SectionReply reply{};
  ASSERT_TRUE(c.fill_replies(&reply));
  EXPECT_EQ(take(reply), (std::vector<Bytes>{v2_0, v2_1}));
}

TEST(PsiCollector, UnsoundSectionsAreIgnored) {
  struct Case {
    const char* name;
    Bytes section;
    uint64_t crc_failures;
  };
  Bytes bad_crc = pat(0, 0, 0, 1);
  bad_crc[8] ^= 0xFF;
  Bytes next_version = pat(0, 0, 0, 1);
  next_version[5] &= 0xFE;  // current_next_indicator 0
  testsupport::fix_crc(next_version);
  Bytes number_past_last = pat(0, 2, 1, 1);
  const Bytes short_form = testsupport::short_section(0x00, false, Bytes(20, 0x11));
  const Bytes other_table = testsupport::cat_section({});
  const std::vector<Case> cases = {
      {"bad_crc", bad_crc, 1},
      {"not_yet_current", next_version, 0},
      {"section_number_past_last", number_past_last, 0},
      {"short_syntax", short_form, 0},
      {"other_table", other_table, 0},
      {"too_short", Bytes{0x00, 0xB0, 0x01, 0x00}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
    host::PsiCollector c(requests);
    EXPECT_FALSE(c.offer(0x0000, k.section));
    EXPECT_EQ(c.crc_failures(), k.crc_failures);
    SectionReply reply{7, nullptr};
    ASSERT_TRUE(c.fill_replies(&reply));
    EXPECT_EQ(reply.count, 0);
  }
}

TEST(PsiCollector, PmtRequestsSelectByProgrammeNumber) {
  // Two programmes share one PMT PID; a third request names a programme that never comes.
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0100, 0x02, true, 7),
                                                SectionRequest::make(0x0100, 0x02, true, 8),
                                                SectionRequest::make(0x0101, 0x02, true, 9)};
  host::PsiCollector c(requests);
  EXPECT_EQ(c.pids(), (std::vector<uint16_t>{0x0100, 0x0101}));
  const Bytes p8 = pmt(8), p7 = pmt(7);
  EXPECT_FALSE(c.offer(0x0101, p8));  // right programme, wrong PID
  EXPECT_TRUE(c.offer(0x0100, p8));
  EXPECT_TRUE(c.offer(0x0100, p7));
  EXPECT_FALSE(c.complete());
  SectionReply replies[3] = {};
  ASSERT_TRUE(c.fill_replies(replies));
  EXPECT_EQ(take(replies[0]), std::vector<Bytes>{p7});
  EXPECT_EQ(take(replies[1]), std::vector<Bytes>{p8});
  EXPECT_EQ(replies[2].count, 0);
  EXPECT_EQ(replies[2].sections, nullptr);
}

TEST(PsiCollector, UnselectedRequestKeepsToTheFirstExtensionSeen) {
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
  host::PsiCollector c(requests);
  const Bytes first = testsupport::pat_section(0x0001, {{1, 0x100}}, 0, 0, 1);
  const Bytes other_stream = testsupport::pat_section(0x0002, {{1, 0x100}}, 0, 1, 1);
  EXPECT_TRUE(c.offer(0x0000, first));
  EXPECT_FALSE(c.offer(0x0000, other_stream));
  EXPECT_FALSE(c.complete());
}

TEST(PsiCollector, IncompleteSubTableGivesWhatItHas) {
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
  host::PsiCollector c(requests);
  const Bytes s1 = pat(0, 1, 2, 5);
  c.offer(0x0000, s1);
  SectionReply reply{};
  ASSERT_TRUE(c.fill_replies(&reply));
  EXPECT_EQ(take(reply), std::vector<Bytes>{s1});
}

}  // namespace
