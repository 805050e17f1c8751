#include "tables/sitables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bytes/byte_reader.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"

namespace {

using testsupport::Bytes;
namespace ts = testsupport;
using Make = std::function<std::unique_ptr<sitables::PsiTableBase>()>;

const Make kPat = [] { return std::make_unique<sitables::Pat>(); };
const Make kCat = [] { return std::make_unique<sitables::Cat>(); };
const Make kPmt = [] { return std::make_unique<sitables::PmtDVB>(-1); };
const Make kDsmcc = [] { return std::make_unique<sitables::DsmCC>(); };

// The text of the error that Parse throws, or "" when it parses.
std::string parse_error(sitables::PsiTableBase& table, const Bytes& section) {
  try {
    table.Parse(section, false);
  } catch (const sitables::error& e) {
    return e.text();
  }
  return "";
}

Bytes sample_pmt() {
  return ts::pmt_section(
      3401, 0x64, Bytes{0xC0, 0x01, 0x07},
      {{0x0B, 0xC8,
        ts::concat({ts::stream_identifier_descriptor(0x29), ts::carousel_id_descriptor(0x3D),
                    ts::data_broadcast_id_descriptor(0xF0)})},
       {0x05, 0x7D1, {}}},
      1);
}

const Bytes kMessage = {0x11, 0x03, 0x10, 0x06, 0x00, 0x00, 0x00, 0x02};

TEST(Crc32, CheckValueAndTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  const char* check = "123456789";
  EXPECT_EQ(sitables::crc32_mpeg2({reinterpret_cast<const uint8_t*>(check), std::strlen(check)}),
            0x0376E6E7u);
  EXPECT_EQ(sitables::crc32_mpeg2(sample_pmt()), 0u) << "a sealed section leaves no remainder";
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  for (size_t offset = 0; offset < 16; ++offset)
    for (size_t n = 0; n + offset <= data.size(); ++n)
      ASSERT_EQ(sitables::crc32_mpeg2({data.data() + offset, n}),
                ts::crc32_bitwise({data.data() + offset, n}))
          << "offset " << offset << " length " << n;
}

// The short form's CRC_32 is carried but not checked: the short-form row's is spoilt.
TEST(SectionHeader, FieldsComeBackAsBuiltAndTheDataLiesBetweenHeaderAndCrc) {
  struct Case {
    ts::SectionSpec header;
    Bytes message;
    const char* text;
  };
  const Case cases[] = {
      {{0x3C, 0xFFFF, true, true, 31, true, 255, 255}, kMessage, "DSM-CC download data section"},
      {{0x3B, 0xABCD, true, false, 21, true, 5, 7}, kMessage, "DSM-CC U-N message section"},
      {{0x3C, 0x1234, false, true, 10, false, 1, 2}, kMessage, "DSM-CC download data section"},
      {{0x3C, 1}, {}, "DSM-CC download data section"}};
  for (const Case& c : cases) {
    const ts::SectionSpec& h = c.header;
    SCOPED_TRACE(*h.table_id_extension);
    sitables::DsmCC s;
    Bytes section = ts::long_section(h, c.message);
    if (!h.section_syntax_indicator) section.back() ^= 0xFF;
    const size_t size = section.size();
    section.insert(section.end(), {0xFF, 0x3B});  // bytes behind the section are not part of it
    ASSERT_EQ(parse_error(s, section), "");
    EXPECT_EQ(
        std::tuple(s.get_table_id(), s.section_syntax_indicator, s.private_indicator, s.get_table_extension(),
                   s.version_number, s.current_next_indicator, s.section_number, s.last_section_number),
        std::tuple(*h.table_id, h.section_syntax_indicator, h.private_indicator, *h.table_id_extension,
                   h.version_number, h.current_next_indicator, h.section_number, h.last_section_number));
    EXPECT_EQ(s.get_table_id_text(), c.text);
    EXPECT_EQ(s.section_length, 5u + c.message.size() + 4u);
    EXPECT_EQ(s.section_bytes().size(), size);
    EXPECT_EQ(s.crc_32, bytes::ByteReader(section.data() + size - 4, 4).be32());
    EXPECT_EQ(Bytes(s.get_data().begin(), s.get_data().end()), c.message);
  }
}

// Bad headers and descriptors, each with its error; the rejected table is left empty even after an
// earlier good parse. The descriptors are the second of an ES_info loop, behind a stream_identifier
// (section offset 20).
TEST(SectionHeader, RejectedWithTheirErrorAndLeaveNothingBehind) {
  const Bytes pmt = sample_pmt();
  auto with = [](Bytes s, size_t at, uint8_t value) {
    s[at] = value;
    return s;
  };
  auto in_pmt = [](const Bytes& descriptor) {
    const Bytes loop = ts::concat({ts::stream_identifier_descriptor(1), descriptor});
    return ts::pmt_section(1, 0x100, {}, {{0x0B, 0x200, loop}, {0x06, 0x201, {}}});
  };
  const Bytes dsi = ts::long_section({.table_id = 0x3B, .table_id_extension = 2}, kMessage);
  struct Case {
    const Make& make;
    Bytes section;
    std::string error;
  };
  const Case cases[] = {
      {kPmt, ts::head(pmt, 0), "got 0 bytes, a section header needs 3"},
      {kPmt, ts::head(pmt, 2), "got 2 bytes, a section header needs 3"},
      {kPmt, ts::head(pmt, 3), "got 3 bytes, section_length needs 43"},
      {kPmt, ts::head(pmt, 42), "got 42 bytes, section_length needs 43"},
      {kDsmcc, with(dsi, 2, 0), "section_length 0 is shorter than the 9 bytes of the long header and CRC_32"},
      {kDsmcc, with(dsi, 2, 8), "section_length 8 is shorter than the 9 bytes of the long header and CRC_32"},
      {kPat, with(pmt, 0, 0x02), "table_id 0x02 is not a PAT"},
      {kCat, with(pmt, 0, 0x00), "table_id 0x00 is not a CAT"},
      {kPmt, with(pmt, 0, 0x01), "table_id 0x01 is not a PMT"},
      {kDsmcc, with(dsi, 0, 0x3A), "table_id 0x3a is not a DSM-CC section"},
      {kDsmcc, with(dsi, 0, 0x3D), "table_id 0x3d is not a DSM-CC section"},
      {kPat, ts::long_section({.section_syntax_indicator = false}, {}),
       "section_syntax_indicator 0 is not allowed in a PAT"},
      {kCat, ts::long_section({.table_id = 0x01, .section_syntax_indicator = false}, {}),
       "section_syntax_indicator 0 is not allowed in a CAT"},
      {kDsmcc, with(dsi, dsi.size() - 1, static_cast<uint8_t>(dsi.back() ^ 0x01)),
       "CRC-32 mismatch (computed 0x08091fbf, carried 0x08091fbe)"},
      {kPmt, with(pmt, 9, 0x65), "CRC-32 mismatch (computed 0x"},
      {kPmt, in_pmt({0x52}), "descriptor at offset 20 needs 2 header bytes, 1 left"},
      {kPmt, in_pmt({0x52, 0x05, 0x01}),
       "descriptor 0x52 at offset 20: descriptor_length 5 runs past its loop (1 bytes left)"},
      {kPmt, in_pmt({0x66, 0x01, 0x00}),
       "data_broadcast_id_descriptor (tag 0x66) runs past its descriptor_length 1"},
      {kPmt, in_pmt({0x13, 0x04, 0, 0, 0, 1}),
       "carousel_identifier_descriptor (tag 0x13) runs past its descriptor_length 4: a field at byte 4 of "
       "its "
       "body needs 1 bytes"},
      {kPmt, in_pmt({0x64, 0x06, 0x00, 0xF0, 0x29, 0x09, 0x00, 0x00}),
       "data_broadcast_descriptor (tag 0x64) runs past its descriptor_length 6: a field at byte 4 of its "
       "body "
       "needs 9 bytes"},
      {kPmt, in_pmt({0x64, 0x07, 0x00, 0xF0, 0x29, 0x00, 'e', 'n', 'g'}),
       "a field at byte 7 of its body needs 1 bytes"},
      {kPmt, in_pmt({0x64, 0x09, 0x00, 0xF0, 0x29, 0x00, 'e', 'n', 'g', 0x05, 'a'}),
       "a field at byte 8 of its body needs 5 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    auto table = c.make();
    if (&c.make == &kPmt) {
      ASSERT_EQ(parse_error(*table, pmt), "");
    }
    EXPECT_NE(parse_error(*table, c.section).find(c.error), std::string::npos);
    EXPECT_TRUE(table->section_bytes().empty());
    EXPECT_EQ(table->table_id_extension, 0u);
  }
}

TEST(Pat, EntriesInSectionOrderWithProgramZero) {
  sitables::Pat pat;
  const std::vector<ts::PatEntry> entries = {{0, 0x10}, {7, 0x1FFF}, {3, 0x102}, {65535, 0x20}};
  ASSERT_EQ(parse_error(pat, ts::pat_section(0x1234, entries)), "");
  EXPECT_EQ(pat.transport_stream_id(), 0x1234u);
  ASSERT_EQ(pat.get_program_info_size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(std::pair(pat.get_program_info(i).program_number, pat.get_program_info(i).PID),
              std::pair(uint32_t{entries[i].program_number}, uint32_t{entries[i].pid}));
}

// Loops cut short: the section is resealed (length and CRC) after its body is cut at every byte.
TEST(Loops, CutAtEveryByte) {
  struct Row {
    size_t from, to;    // body lengths, inclusive
    const char* error;  // part of the error, or null when the section parses
    size_t entries;
  };
  struct Case {
    const char* name;
    Bytes section;
    const Make& make;
    std::function<size_t(const sitables::PsiTableBase&)> entries;
    std::vector<Row> rows;
  };
  const Case cases[] = {
      {"PAT",
       ts::pat_section(1, {{1, 0x100}, {2, 0x200}, {3, 0x300}}),
       kPat,
       [](const sitables::PsiTableBase& t) {
         return static_cast<const sitables::Pat&>(t).get_program_info_size();
       },
       {{0, 0, nullptr, 0},
        {1, 3, "PAT entry at offset 8 needs 4 bytes", 0},
        {4, 4, nullptr, 1},
        {5, 7, "PAT entry at offset 12", 0},
        {8, 8, nullptr, 2},
        {9, 11, "needs 4 bytes", 0},
        {12, 12, nullptr, 3}}},
      {"CAT",
       ts::cat_section(ts::concat({ts::descriptor(0x09, Bytes{0x01, 0x00, 0xE1, 0x00}),
                                   ts::descriptor(0x09, Bytes{0x05, 0x00, 0xE2, 0x00})})),
       kCat,
       [](const sitables::PsiTableBase& t) {
         return static_cast<const sitables::Cat&>(t).descriptors.all.size();
       },
       {{0, 0, nullptr, 0},
        {1, 1, "descriptor at offset 8 needs 2 header bytes, 1 left", 0},
        {2, 5, "descriptor 0x09 at offset 8: descriptor_length 4 runs past its loop", 0},
        {6, 6, nullptr, 1},
        {7, 7, "descriptor at offset 14 needs 2 header bytes", 0},
        {8, 11, "at offset 14", 0},
        {12, 12, nullptr, 2}}},
      {"PMT",
       sample_pmt(),
       kPmt,
       [](const sitables::PsiTableBase& t) { return static_cast<const sitables::PmtDVB&>(t).streams.size(); },
       {{0, 3, "PCR_PID and program_info_length at offset 8 need 4 bytes", 0},
        {4, 6, "program_info_length 3 at offset 10 runs past the section", 0},
        {7, 7, nullptr, 0},
        {8, 11, "elementary stream entry at offset 15 needs 5 bytes", 0},
        {12, 25, "ES_info_length 14 of elementary_PID 0x00c8 at offset 18 runs past the section", 0},
        {26, 26, nullptr, 1},
        {27, 30, "elementary stream entry at offset 34 needs 5 bytes", 0},
        {31, 31, nullptr, 2}}},
  };
  for (const Case& c : cases) {
    size_t covered = 0;
    for (const Row& row : c.rows) {
      for (size_t length = row.from; length <= row.to; ++length, ++covered) {
        SCOPED_TRACE(std::string(c.name) + " body length " + std::to_string(length));
        Bytes s(c.section.begin(), c.section.begin() + static_cast<std::ptrdiff_t>(8 + length));
        s.insert(s.end(), 4, 0);
        ts::set_section_length(s, static_cast<uint16_t>(s.size() - 3));
        ts::fix_crc(s);
        auto table = c.make();
        const std::string text = parse_error(*table, s);
        if (row.error) {
          EXPECT_NE(text.find(row.error), std::string::npos) << text;
        } else {
          EXPECT_EQ(text, "");
          EXPECT_EQ(c.entries(*table), row.entries);
        }
      }
    }
    EXPECT_EQ(covered, c.section.size() - 11) << c.name << ": every cut from 0 to the whole body is listed";
  }
}

TEST(PmtDVB, StreamsAndDecodedDescriptors) {
  const Bytes selector = {0xDE, 0xAD};
  const Bytes id_selector = {0x01, 0x02, 0x03};
  const Bytes pmt_bytes =
      ts::pmt_section(0x0102, 0x1FFF, ts::carousel_id_descriptor(0x10, 0x01),
                      {{0x0B, 0x0BB9,
                        ts::concat({ts::stream_identifier_descriptor(0x29),
                                    ts::data_broadcast_descriptor(0x00F0, 0x29, selector, "deu", "MHP"),
                                    ts::carousel_id_descriptor(0x0000003D, 0x00, Bytes{0x77}),
                                    ts::data_broadcast_id_descriptor(0x00F0, id_selector)})},
                       {0x02, 0x0100, {}}},
                      5);
  // The short form carries its CRC_32 unchecked.
  Bytes short_form = pmt_bytes;
  short_form[1] &= 0x7F;
  short_form.back() ^= 0xFF;
  for (const Bytes& bytes : {pmt_bytes, short_form}) {
    sitables::PmtDVB pmt(-1);
    ASSERT_EQ(parse_error(pmt, bytes), "");
    EXPECT_EQ(std::tuple(pmt.section_syntax_indicator, pmt.program_number(), pmt.PCR_PID),
              std::tuple(static_cast<uint32_t>(bytes[1] >> 7), 0x0102u, 0x1FFFu));
    ASSERT_EQ(pmt.program_descriptors.carousel_id.size(), 1u);
    EXPECT_EQ(pmt.program_descriptors.carousel_id[0].FormatID, 1u);
    ASSERT_EQ(pmt.streams.size(), 2u);
    const sitables::DescriptorList& d = pmt.streams[0].descriptors;
    EXPECT_EQ(pmt.streams[0].elementary_PID, 0x0BB9u);
    ASSERT_EQ(
        std::tuple(d.all.size(), d.data_broadcast.size(), d.carousel_id.size(), d.data_broadcast_id.size()),
        std::tuple(4u, 1u, 1u, 1u));
    EXPECT_EQ(d.all[0].data, Bytes{0x29});
    const auto& db = d.data_broadcast[0];
    EXPECT_EQ(
        std::tuple(db.data_broadcast_id, db.component_tag, db.selector, db.ISO_639_language_code, db.text),
        std::tuple(0x00F0u, 0x29u, selector, "deu", "MHP"));
    EXPECT_EQ(std::tuple(d.carousel_id[0].carousel_id, d.carousel_id[0].private_data),
              std::tuple(0x3Du, Bytes{0x77}));
    EXPECT_EQ(d.data_broadcast_id[0].id_selector, id_selector);
    EXPECT_TRUE(pmt.streams[1].descriptors.all.empty());
  }
}

}  // namespace
