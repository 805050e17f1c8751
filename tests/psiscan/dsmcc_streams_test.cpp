// Which PMT streams the "MUX DSMCC streams" list offers: built PMT sections, parsed by the section
// table library, then selected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psiscan/dsmcc_streams.h"
#include "tests/support/psi_builder.h"

namespace {

using testsupport::Bytes;
using testsupport::carousel_id_descriptor;
using testsupport::concat;
using testsupport::data_broadcast_descriptor;
using testsupport::data_broadcast_id_descriptor;
using testsupport::stream_identifier_descriptor;

sitables::PmtDVB parse_pmt(uint16_t program_number, const std::vector<testsupport::PmtStream>& streams) {
  const Bytes section = testsupport::pmt_section(program_number, 0x100, {}, streams);
  sitables::PmtDVB pmt(-1);
  pmt.Parse(section, false);
  return pmt;
}

struct SelectionCase {
  const char* name;
  uint8_t stream_type;
  Bytes descriptors;
  bool listed;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class StreamSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(StreamSelection, ListsOnlyCarouselStreams) {
  const SelectionCase& c = GetParam();
  PsiScanResult result;
  result.pmts.emplace(7, parse_pmt(7, {{c.stream_type, 0x0bb9, c.descriptors}}));
  const std::vector<DsmccStream> streams = select_dsmcc_streams(result);
  if (c.listed) {
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0], (DsmccStream{7, 0x0bb9}));
  } else {
    EXPECT_TRUE(streams.empty());
  }
}

const SelectionCase kSelectionCases[] = {
    {"type06_never_even_with_carousel", 0x06,
     concat({data_broadcast_id_descriptor(0x00F0), carousel_id_descriptor(1)}), false},
    {"type0C_stream_descriptors_not_a_candidate", 0x0C, carousel_id_descriptor(1), false},
    {"type0B_without_descriptors", 0x0B, {}, false},
    {"type0B_only_id_0007", 0x0B, data_broadcast_id_descriptor(0x0007), false},
    {"type0B_id_0007_with_carousel_id", 0x0B,
     concat({data_broadcast_id_descriptor(0x0007), carousel_id_descriptor(0x3d)}), true},
    {"type0B_data_broadcast_00F0", 0x0B, data_broadcast_descriptor(0x00F0, 0x29), true},
    {"type0D_data_broadcast_0006", 0x0D, data_broadcast_descriptor(0x0006, 1), true},
    {"type0D_broadcast_id_0009", 0x0D, data_broadcast_id_descriptor(0x0009), true},
    {"type80_broadcast_id_0006", 0x80, data_broadcast_id_descriptor(0x0006), true},
    {"typeFF_carousel_id", 0xFF, carousel_id_descriptor(2), true},
    {"type7F_carousel_id_not_a_candidate", 0x7F, carousel_id_descriptor(2), false},
    {"type0B_hbbtv_id_0123_only", 0x0B,
     concat({stream_identifier_descriptor(0x2a), data_broadcast_id_descriptor(0x0123)}), false},
    {"second_data_broadcast_not_looked_at", 0x0B,
     concat({data_broadcast_descriptor(0x0005, 1), data_broadcast_descriptor(0x0006, 2)}), false},
    {"second_broadcast_id_not_looked_at", 0x0B,
     concat({data_broadcast_id_descriptor(0x0005), data_broadcast_id_descriptor(0x00F0)}), false},
    {"first_data_broadcast_fails_broadcast_id_matches", 0x0B,
     concat({data_broadcast_descriptor(0x0005, 1), data_broadcast_id_descriptor(0x00F0)}), true},
    {"second_data_broadcast_ignored_but_carousel_id_lists", 0x0B,
     concat({data_broadcast_descriptor(0x0005, 1), data_broadcast_descriptor(0x0006, 2), carousel_id_descriptor(9)}),
     true},
};

INSTANTIATE_TEST_SUITE_P(Cases, StreamSelection, ::testing::ValuesIn(kSelectionCases),
                         [](const ::testing::TestParamInfo<SelectionCase>& p) { return std::string(p.param.name); });

TEST(StreamSelectionOrder, ProgrammesAscendingStreamsInPmtOrderSharedPidOncePerProgramme) {
  const Bytes carousel = carousel_id_descriptor(0x3d);
  PsiScanResult result;
  // Inserted out of order: the list follows the programme number, not the order of arrival.
  result.pmts.emplace(0x0d53, parse_pmt(0x0d53, {{0x0B, 0x0bba, carousel}, {0x0B, 0x0bb9, carousel}}));
  result.pmts.emplace(0x0d49, parse_pmt(0x0d49, {{0x04, 0x028a, {}}, {0x0B, 0x0bb9, carousel},
                                                 {0x0C, 0x0c1d, {}}, {0x0B, 0x0bba, carousel}}));
  const std::vector<DsmccStream> expected = {
      {0x0d49, 0x0bb9}, {0x0d49, 0x0bba}, {0x0d53, 0x0bba}, {0x0d53, 0x0bb9}};
  EXPECT_EQ(select_dsmcc_streams(result), expected);
}

TEST(StreamSelectionOrder, EmptyResultListsNothing) {
  EXPECT_TRUE(select_dsmcc_streams(PsiScanResult{}).empty());
}

}  // namespace
