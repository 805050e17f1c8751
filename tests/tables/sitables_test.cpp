#include "tables/sitables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/psi_builder.h"

namespace {

using testsupport::Bytes;
namespace ts = testsupport;

// The text of the error that Parse throws, or "" when it parses.
std::string parse_error(sitables::PsiTableBase& table, const Bytes& section) {
  try {
    table.Parse(section, false);
  } catch (const sitables::error& e) {
    return e.text();
  }
  return "";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// clang-format off
// A PMT written out by hand, field by field.
const Bytes kPmt = {
    0x02,              // table_id
    0xB0, 0x28,        // section_syntax_indicator 1, section_length 40
    0x0D, 0x49,        // program_number 3401
    0xC3,              // version_number 1, current_next_indicator 1
    0x00, 0x00,        // section_number, last_section_number
    0xE0, 0x64,        // PCR_PID 0x0064
    0xF0, 0x03,        // program_info_length 3
    0xC0, 0x01, 0x07,  //   private descriptor 0xC0
    0x0B, 0xE0, 0xC8,  // stream_type 0x0B, elementary_PID 0x00C8
    0xF0, 0x0E,        // ES_info_length 14
    0x52, 0x01, 0x29,  //   stream_identifier_descriptor, component_tag 0x29
    0x13, 0x05, 0x00, 0x00, 0x00, 0x3D, 0x00,  // carousel_identifier_descriptor 0x3D, FormatID 0
    0x66, 0x02, 0x00, 0xF0,                    // data_broadcast_id_descriptor 0x00F0
    0x05, 0xE7, 0xD1,  // stream_type 0x05, elementary_PID 0x07D1
    0xF0, 0x00,        // ES_info_length 0
    0x15, 0x23, 0x8A, 0x7D,  // CRC_32
};

// A DSM-CC control section written out by hand.
const Bytes kDsi = {
    0x3B,                    // table_id
    0xB0, 0x11,              // section_syntax_indicator 1, private_indicator 0, section_length 17
    0x00, 0x02,              // table_id_extension
    0xC1,                    // version_number 0, current_next_indicator 1
    0x00, 0x00,              // section_number, last_section_number
    0x11, 0x03, 0x10, 0x06,  // message: protocolDiscriminator, dsmccType, messageId 0x1006
    0x00, 0x00, 0x00, 0x02,  //   transactionId
    0x08, 0x09, 0x1F, 0xBF,  // CRC_32
};

// The first PAT of the multi-service sample stream.
const Bytes kRealPat = {
    0x00, 0xB0, 0x29, 0x48, 0x00, 0xC1, 0x00, 0x00,  // PAT, section_length 41, transport_stream_id 0x4800
    0x0D, 0x49, 0xE1, 0x02, 0x0D, 0x4A, 0xE1, 0x01, 0x0D, 0x4B, 0xE1, 0x00, 0x0D, 0x4C, 0xE1, 0x03,
    0x0D, 0x4D, 0xE1, 0x04, 0x0D, 0x4E, 0xE1, 0x05, 0x0D, 0x53, 0xE1, 0x18, 0x0D, 0x52, 0xE1, 0x2C,
    0x68, 0x9E, 0x0F, 0xA5,  // CRC_32
};
// clang-format on

// ---- CRC-32 ----

TEST(Crc32, MatchesTheCheckValueAndLeavesZeroOverAWholeSection) {
  const char* check = "123456789";
  EXPECT_EQ(sitables::crc32_mpeg2({reinterpret_cast<const uint8_t*>(check), std::strlen(check)}),
            0x0376E6E7u);
  EXPECT_EQ(sitables::crc32_mpeg2({}), 0xFFFFFFFFu);
  EXPECT_EQ(sitables::crc32_mpeg2(kPmt), 0u);
  EXPECT_EQ(sitables::crc32_mpeg2(kRealPat), 0u);
  EXPECT_EQ(sitables::crc32_mpeg2(kDsi), 0u);
}

// The vectorised CRC handles heads and tails of a buffer apart from its body: every length and
// alignment around its fold widths must agree with the plain bitwise definition.
TEST(Crc32, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  auto bitwise = [](const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
      crc ^= uint32_t{p[i]} << 24;
      for (int b = 0; b < 8; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
  };
  for (size_t offset = 0; offset < 16; ++offset)
    for (size_t n = 0; n + offset <= 300; ++n)
      ASSERT_EQ(sitables::crc32_mpeg2({data.data() + offset, n}), bitwise(data.data() + offset, n))
          << "offset " << offset << " length " << n;
  ASSERT_EQ(sitables::crc32_mpeg2(data), bitwise(data.data(), data.size()));
}

TEST(Builder, WritesTheSameBytesAsTheHandWrittenSections) {
  const Bytes pmt =
      ts::pmt_section(3401, 0x64, Bytes{0xC0, 0x01, 0x07},
                      {{0x0B, 0xC8,
                        ts::concat({ts::stream_identifier_descriptor(0x29), ts::carousel_id_descriptor(0x3D),
                                    ts::data_broadcast_id_descriptor(0xF0)})},
                       {0x05, 0x7D1, {}}},
                      1);
  EXPECT_EQ(pmt, kPmt);
  const Bytes message = {0x11, 0x03, 0x10, 0x06, 0x00, 0x00, 0x00, 0x02};
  EXPECT_EQ(ts::dsmcc_section(0x3B, 2, message), kDsi);
  // clang-format off
  EXPECT_EQ(ts::pat_section(0x4800, {{3401, 0x102}, {3402, 0x101}, {3403, 0x100}, {3404, 0x103},
                                     {3405, 0x104}, {3406, 0x105}, {3411, 0x118}, {3410, 0x12C}}),
            kRealPat);
  // clang-format on
}

// ---- Section header ----

TEST(SectionHeader, DsmccHeaderFieldsComeBackAsBuilt) {
  const ts::SectionHeader headers[] = {{0x3C, true, true, 0xFFFF, 31, true, 255, 255},
                                       {0x3B, true, false, 0xABCD, 21, true, 5, 7},
                                       {0x3C, false, true, 0x1234, 10, false, 1, 2}};
  const Bytes message = {0xAA, 0xBB, 0xCC};
  for (const ts::SectionHeader& h : headers) {
    SCOPED_TRACE(h.table_id_extension);
    sitables::DsmCC s;
    ASSERT_EQ(parse_error(s, ts::long_section(h, message)), "");
    EXPECT_EQ(s.get_table_id(), h.table_id);
    EXPECT_EQ(s.section_syntax_indicator, h.section_syntax_indicator ? 1u : 0u);
    EXPECT_EQ(s.private_indicator, h.private_indicator ? 1u : 0u);
    EXPECT_EQ(s.section_length, 5u + 3u + 4u);
    EXPECT_EQ(s.get_table_extension(), h.table_id_extension);
    EXPECT_EQ(s.version_number, h.version_number);
    EXPECT_EQ(s.current_next_indicator, h.current_next_indicator ? 1u : 0u);
    EXPECT_EQ(s.section_number, h.section_number);
    EXPECT_EQ(s.last_section_number, h.last_section_number);
    EXPECT_EQ(Bytes(s.get_data().begin(), s.get_data().end()), message);
  }
}

TEST(SectionHeader, TooShortForTheHeaderOrForSectionLength) {
  for (size_t n = 0; n < kPmt.size(); ++n) {
    SCOPED_TRACE(n);
    sitables::PmtDVB pmt;
    const Bytes cut(kPmt.begin(), kPmt.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string text = parse_error(pmt, cut);
    if (n < 3) {
      EXPECT_EQ(text, "got " + std::to_string(n) + " bytes, a section header needs 3");
    } else {
      EXPECT_EQ(text, "got " + std::to_string(n) + " bytes, section_length needs 43");
    }
    EXPECT_TRUE(pmt.section_bytes().empty());
    EXPECT_TRUE(pmt.streams.empty());
  }
}

TEST(SectionHeader, LongFormShorterThanHeaderAndCrcIsRejected) {
  for (uint16_t length = 0; length < 9; ++length) {
    SCOPED_TRACE(length);
    Bytes s = kDsi;
    ts::set_section_length(s, length);
    sitables::DsmCC dsm;
    EXPECT_EQ(parse_error(dsm, s), "section_length " + std::to_string(length) +
                                       " is shorter than the 9 bytes of the long header and CRC_32");
  }
  Bytes nine = ts::dsmcc_section(0x3C, 1, {});
  sitables::DsmCC dsm;
  EXPECT_EQ(parse_error(dsm, nine), "");
  EXPECT_TRUE(dsm.get_data().empty());
}

TEST(SectionHeader, WrongTableIdNamesTheTable) {
  struct Case {
    std::function<std::unique_ptr<sitables::PsiTableBase>()> make;
    uint8_t table_id;
    const char* text;
  };
  const Case cases[] = {
      {[] { return std::make_unique<sitables::Pat>(); }, 0x02, "table_id 0x02 is not a PAT"},
      {[] { return std::make_unique<sitables::Cat>(); }, 0x00, "table_id 0x00 is not a CAT"},
      {[] { return std::make_unique<sitables::PmtDVB>(-1); }, 0x01, "table_id 0x01 is not a PMT"},
      {[] { return std::make_unique<sitables::DsmCC>(); }, 0x3A, "table_id 0x3a is not a DSM-CC section"},
      {[] { return std::make_unique<sitables::DsmCC>(); }, 0x3D, "table_id 0x3d is not a DSM-CC section"},
  };
  for (const Case& c : cases) {
    ts::SectionHeader h;
    h.table_id = c.table_id;
    auto table = c.make();
    EXPECT_EQ(parse_error(*table, ts::long_section(h, Bytes{0, 0, 0, 0})), c.text);
  }
}

TEST(SectionHeader, SyntaxIndicatorRules) {
  // PAT and CAT need the long form; PMT and DSM-CC take either, and check no CRC when it is 0.
  ts::SectionHeader h;
  h.section_syntax_indicator = false;
  h.table_id = 0x00;
  sitables::Pat pat;
  EXPECT_EQ(parse_error(pat, ts::long_section(h, Bytes{})),
            "section_syntax_indicator 0 is not allowed in a PAT");
  h.table_id = 0x01;
  sitables::Cat cat;
  EXPECT_EQ(parse_error(cat, ts::long_section(h, Bytes{})),
            "section_syntax_indicator 0 is not allowed in a CAT");

  Bytes pmt_bytes = kPmt;
  pmt_bytes[1] &= 0x7F;
  pmt_bytes.back() ^= 0xFF;  // no CRC is checked without the indicator
  sitables::PmtDVB pmt(-1);
  ASSERT_EQ(parse_error(pmt, pmt_bytes), "");
  EXPECT_EQ(pmt.section_syntax_indicator, 0u);
  EXPECT_EQ(pmt.program_number(), 3401u);
  EXPECT_EQ(pmt.streams.size(), 2u);

  const Bytes message = {1, 2, 3, 4, 5};
  sitables::DsmCC dsm;
  ASSERT_EQ(parse_error(dsm, ts::dsmcc_section(0x3C, 7, message, 0, 0, 0, false, 0xDEADBEEF)), "");
  EXPECT_EQ(dsm.section_syntax_indicator, 0u);
  EXPECT_EQ(dsm.private_indicator, 1u);
  EXPECT_EQ(dsm.crc_32, 0xDEADBEEFu);
  EXPECT_EQ(Bytes(dsm.get_data().begin(), dsm.get_data().end()), message);
}

TEST(SectionHeader, CrcMismatchGivesBothValues) {
  Bytes bad = kDsi;
  bad.back() ^= 0x01;
  sitables::DsmCC dsm;
  EXPECT_EQ(parse_error(dsm, bad), "CRC-32 mismatch (computed 0x08091fbf, carried 0x08091fbe)");
  Bytes body_changed = kPmt;
  body_changed[9] = 0x65;  // PCR_PID, CRC left as it was
  sitables::PmtDVB pmt;
  EXPECT_TRUE(contains(parse_error(pmt, body_changed), "carried 0x15238a7d)"));
}

// Every single-bit error in a long-form section with the indicator 1 is caught. Flipping the indicator
// itself is the one exception for tables that also take the checksum form.
TEST(SectionHeader, EveryBitFlipIsRejectedNeverACrash) {
  struct Case {
    const char* name;
    Bytes section;
    std::function<std::unique_ptr<sitables::PsiTableBase>()> make;
    bool takes_checksum_form;
  };
  const Case cases[] = {
      {"PAT", kRealPat, [] { return std::make_unique<sitables::Pat>(); }, false},
      {"CAT", ts::cat_section(ts::concat({ts::descriptor(0x09, Bytes{0x01, 0x00, 0xE1, 0x00})})),
       [] { return std::make_unique<sitables::Cat>(); }, false},
      {"PMT", kPmt, [] { return std::make_unique<sitables::PmtDVB>(-1); }, true},
      {"DSM-CC", kDsi, [] { return std::make_unique<sitables::DsmCC>(); }, true},
  };
  for (const Case& c : cases) {
    for (size_t i = 0; i < c.section.size(); ++i) {
      for (int bit = 0; bit < 8; ++bit) {
        if (c.takes_checksum_form && i == 1 && bit == 7) continue;
        Bytes s = c.section;
        s[i] = static_cast<uint8_t>(s[i] ^ (1u << bit));
        auto table = c.make();
        EXPECT_NE(parse_error(*table, s), "") << c.name << " byte " << i << " bit " << bit;
        EXPECT_TRUE(table->section_bytes().empty());
      }
    }
  }
}

TEST(SectionHeader, BytesBehindTheSectionAreIgnored) {
  Bytes buffer = kDsi;
  buffer.insert(buffer.end(), {0xFF, 0xFF, 0x3B, 0x00});
  sitables::DsmCC dsm;
  ASSERT_EQ(parse_error(dsm, buffer), "");
  EXPECT_EQ(dsm.section_bytes(), kDsi);
}

TEST(SectionHeader, RejectedSectionEmptiesTheObject) {
  sitables::PmtDVB pmt;
  ASSERT_EQ(parse_error(pmt, kPmt), "");
  ASSERT_EQ(pmt.streams.size(), 2u);
  Bytes bad = kPmt;
  bad.back() ^= 0x80;
  EXPECT_NE(parse_error(pmt, bad), "");
  EXPECT_EQ(pmt.program_number(), 0u);
  EXPECT_TRUE(pmt.streams.empty());
  EXPECT_TRUE(pmt.program_descriptors.all.empty());
  EXPECT_TRUE(pmt.section_bytes().empty());
}

// ---- DSM-CC ----

TEST(DsmCC, DataIsTheMessageBetweenHeaderAndCrc) {
  sitables::DsmCC dsm;
  EXPECT_TRUE(dsm.get_data().empty());  // nothing parsed yet
  ASSERT_EQ(parse_error(dsm, kDsi), "");
  EXPECT_EQ(dsm.get_table_id_text(), "DSM-CC U-N message section");
  const Bytes expected(kDsi.begin() + 8, kDsi.end() - 4);
  EXPECT_EQ(Bytes(dsm.get_data().begin(), dsm.get_data().end()), expected);
  EXPECT_EQ(dsm.get_table_extension(), 2u);

  Bytes message(4084);  // the largest message a section holds
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 7);
  sitables::DsmCC ddb;
  ASSERT_EQ(parse_error(ddb, ts::dsmcc_section(0x3C, 9, message)), "");
  EXPECT_EQ(ddb.get_table_id_text(), "DSM-CC download data section");
  EXPECT_EQ(Bytes(ddb.get_data().begin(), ddb.get_data().end()), message);
}

TEST(DsmCC, CopiesOwnTheirBytes) {
  auto original = std::make_unique<sitables::DsmCC>();
  ASSERT_EQ(parse_error(*original, kDsi), "");
  sitables::DsmCC copy = *original;
  sitables::DsmCC assigned;
  assigned = *original;
  original.reset();
  const Bytes expected(kDsi.begin() + 8, kDsi.end() - 4);
  EXPECT_EQ(Bytes(copy.get_data().begin(), copy.get_data().end()), expected);
  EXPECT_EQ(Bytes(assigned.get_data().begin(), assigned.get_data().end()), expected);
  EXPECT_EQ(copy.get_data().data(), copy.section_bytes().data() + 8);
}

// ---- PAT ----

TEST(Pat, EntriesInSectionOrderWithProgramZero) {
  sitables::Pat pat;
  ASSERT_EQ(parse_error(pat, ts::pat_section(0x1234, {{0, 0x10}, {7, 0x1FFF}, {3, 0x100}, {65535, 0x20}})),
            "");
  EXPECT_EQ(pat.transport_stream_id(), 0x1234u);
  ASSERT_EQ(pat.get_program_info_size(), 4u);  // program 0 (the network PID) is an entry like any other
  const uint32_t expected[4][2] = {{0, 0x10}, {7, 0x1FFF}, {3, 0x100}, {65535, 0x20}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(pat.get_program_info(i).program_number, expected[i][0]);
    EXPECT_EQ(pat.get_program_info(i).PID, expected[i][1]);
  }
  EXPECT_THROW(pat.get_program_info(4), std::out_of_range);
}

// ---- Loops cut short: the section is resealed (length and CRC) after the body is cut at each byte ----

Bytes resealed_with_body(const Bytes& section, size_t body_length) {
  Bytes s(section.begin(), section.begin() + static_cast<std::ptrdiff_t>(8 + body_length));
  s.insert(s.end(), 4, 0);
  ts::set_section_length(s, static_cast<uint16_t>(s.size() - 3));
  ts::fix_crc(s);
  return s;
}

struct CutRow {
  size_t from, to;    // body lengths, inclusive
  const char* error;  // substring of the error, or null when the section parses
  size_t entries;     // entries parsed when it does
};

void check_cuts(const Bytes& section, const std::vector<CutRow>& rows,
                const std::function<std::unique_ptr<sitables::PsiTableBase>()>& make,
                const std::function<size_t(const sitables::PsiTableBase&)>& entries) {
  const size_t body = section.size() - 12;
  size_t covered = 0;
  for (const CutRow& row : rows) {
    for (size_t length = row.from; length <= row.to; ++length, ++covered) {
      SCOPED_TRACE("body length " + std::to_string(length));
      auto table = make();
      const std::string text = parse_error(*table, resealed_with_body(section, length));
      if (row.error) {
        EXPECT_TRUE(contains(text, row.error)) << text;
      } else {
        EXPECT_EQ(text, "");
        EXPECT_EQ(entries(*table), row.entries);
      }
    }
  }
  EXPECT_EQ(covered, body + 1) << "every cut from 0 to the whole body is listed";
}

TEST(Pat, CutAtEveryByte) {
  const Bytes pat = ts::pat_section(1, {{1, 0x100}, {2, 0x200}, {3, 0x300}});
  check_cuts(
      pat,
      {{0, 0, nullptr, 0},
       {1, 3, "needs 4 bytes", 0},
       {4, 4, nullptr, 1},
       {5, 7, "PAT entry at offset 12", 0},
       {8, 8, nullptr, 2},
       {9, 11, "needs 4 bytes", 0},
       {12, 12, nullptr, 3}},
      [] { return std::make_unique<sitables::Pat>(); },
      [](const sitables::PsiTableBase& t) {
        return static_cast<const sitables::Pat&>(t).get_program_info_size();
      });
}

TEST(Cat, CutAtEveryByte) {
  const Bytes cat = ts::cat_section(ts::concat({ts::descriptor(0x09, Bytes{0x01, 0x00, 0xE1, 0x00}),
                                                ts::descriptor(0x09, Bytes{0x05, 0x00, 0xE2, 0x00})}));
  check_cuts(
      cat,
      {{0, 0, nullptr, 0},
       {1, 1, "descriptor at offset 8 needs 2 header bytes, 1 left", 0},
       {2, 5, "descriptor 0x09 at offset 8: descriptor_length 4 runs past its loop", 0},
       {6, 6, nullptr, 1},
       {7, 7, "descriptor at offset 14 needs 2 header bytes", 0},
       {8, 11, "at offset 14", 0},
       {12, 12, nullptr, 2}},
      [] { return std::make_unique<sitables::Cat>(); },
      [](const sitables::PsiTableBase& t) {
        return static_cast<const sitables::Cat&>(t).descriptors.all.size();
      });
}

TEST(PmtDVB, CutAtEveryByte) {
  check_cuts(
      kPmt,
      {{0, 3, "PCR_PID and program_info_length at offset 8 need 4 bytes", 0},
       {4, 6, "program_info_length 3 at offset 10 runs past the section", 0},
       {7, 7, nullptr, 0},
       {8, 11, "elementary stream entry at offset 15 needs 5 bytes", 0},
       {12, 25, "ES_info_length 14 of elementary_PID 0x00c8 at offset 18 runs past the section", 0},
       {26, 26, nullptr, 1},
       {27, 30, "elementary stream entry at offset 34 needs 5 bytes", 0},
       {31, 31, nullptr, 2}},
      [] { return std::make_unique<sitables::PmtDVB>(-1); },
      [](const sitables::PsiTableBase& t) { return static_cast<const sitables::PmtDVB&>(t).streams.size(); });
}

// ---- Descriptors ----

TEST(PmtDVB, StreamsAndDecodedDescriptors) {
  const Bytes selector = {0xDE, 0xAD};
  const Bytes id_selector = {0x01, 0x02, 0x03};
  const Bytes carousel_private = {0x77};
  const Bytes pmt_bytes =
      ts::pmt_section(0x0102, 0x1FFF, ts::carousel_id_descriptor(0x10, 0x01),
                      {{0x0B, 0x0BB9,
                        ts::concat({ts::stream_identifier_descriptor(0x29),
                                    ts::data_broadcast_descriptor(0x00F0, 0x29, selector, "deu", "MHP"),
                                    ts::carousel_id_descriptor(0x0000003D, 0x00, carousel_private),
                                    ts::data_broadcast_id_descriptor(0x00F0, id_selector),
                                    ts::data_broadcast_id_descriptor(0x0123)})},
                       {0x02, 0x0100, {}},
                       {0x0C, 0x0C1D, ts::association_tag_descriptor(0x32, 0x0100)}},
                      5);
  sitables::PmtDVB pmt(-1);
  ASSERT_EQ(parse_error(pmt, pmt_bytes), "");
  EXPECT_EQ(pmt.PCR_PID, 0x1FFFu);
  ASSERT_EQ(pmt.program_descriptors.carousel_id.size(), 1u);
  EXPECT_EQ(pmt.program_descriptors.carousel_id[0].carousel_id, 0x10u);
  EXPECT_EQ(pmt.program_descriptors.carousel_id[0].FormatID, 1u);

  ASSERT_EQ(pmt.streams.size(), 3u);
  const auto& es = pmt.streams[0];
  EXPECT_EQ(es.elementary_PID, 0x0BB9u);
  ASSERT_EQ(es.descriptors.all.size(), 5u);
  EXPECT_EQ(es.descriptors.all[0].data, Bytes{0x29});

  ASSERT_EQ(es.descriptors.data_broadcast.size(), 1u);
  const auto& db = es.descriptors.data_broadcast[0];
  EXPECT_EQ(db.data_broadcast_id, 0x00F0u);
  EXPECT_EQ(db.component_tag, 0x29u);
  EXPECT_EQ(db.selector, selector);
  EXPECT_EQ(db.ISO_639_language_code, "deu");
  EXPECT_EQ(db.text, "MHP");

  ASSERT_EQ(es.descriptors.carousel_id.size(), 1u);
  EXPECT_EQ(es.descriptors.carousel_id[0].carousel_id, 0x3Du);
  EXPECT_EQ(es.descriptors.carousel_id[0].FormatID, 0u);
  EXPECT_EQ(es.descriptors.carousel_id[0].private_data, carousel_private);

  ASSERT_EQ(es.descriptors.data_broadcast_id.size(), 2u);
  EXPECT_EQ(es.descriptors.data_broadcast_id[0].data_broadcast_id, 0x00F0u);
  EXPECT_EQ(es.descriptors.data_broadcast_id[0].id_selector, id_selector);
  EXPECT_EQ(es.descriptors.data_broadcast_id[1].data_broadcast_id, 0x0123u);
  EXPECT_TRUE(es.descriptors.data_broadcast_id[1].id_selector.empty());

  EXPECT_TRUE(pmt.streams[1].descriptors.all.empty());
  ASSERT_EQ(pmt.streams[2].descriptors.all.size(), 1u);
  EXPECT_EQ(pmt.streams[2].descriptors.all[0].tag, 0x14u);

  sitables::PmtDVB copy = pmt;  // table objects copy whole
  EXPECT_EQ(copy.streams[0].descriptors.data_broadcast[0].text, "MHP");
}

// Each descriptor is the second one of an ES_info loop, behind a stream_identifier (section offset 20).
TEST(PmtDVB, BadDescriptorIsRejectedWithItsPlace) {
  struct Case {
    const char* name;
    Bytes descriptor;
    const char* error;
  };
  const Case cases[] = {
      {"lone_tag", {0x52}, "descriptor at offset 20 needs 2 header bytes, 1 left"},
      {"length_past_loop", {0x52, 0x05, 0x01},
       "descriptor 0x52 at offset 20: descriptor_length 5 runs past its loop (1 bytes left)"},
      {"data_broadcast_id_short", {0x66, 0x01, 0x00},
       "data_broadcast_id_descriptor (tag 0x66) runs past its descriptor_length 1"},
      {"carousel_id_short", {0x13, 0x04, 0, 0, 0, 1},
       "carousel_identifier_descriptor (tag 0x13) runs past its descriptor_length 4: a field at byte 4 of its "
       "body needs 1 bytes"},
      {"data_broadcast_selector_past_end", {0x64, 0x06, 0x00, 0xF0, 0x29, 0x09, 0x00, 0x00},
       "data_broadcast_descriptor (tag 0x64) runs past its descriptor_length 6: a field at byte 4 of its body "
       "needs 9 bytes"},
      {"data_broadcast_no_text_length", {0x64, 0x07, 0x00, 0xF0, 0x29, 0x00, 'e', 'n', 'g'},
       "a field at byte 7 of its body needs 1 bytes"},
      {"data_broadcast_text_past_end", {0x64, 0x09, 0x00, 0xF0, 0x29, 0x00, 'e', 'n', 'g', 0x05, 'a'},
       "a field at byte 8 of its body needs 5 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes loop = ts::concat({ts::stream_identifier_descriptor(1), c.descriptor});
    sitables::PmtDVB pmt(-1);
    const std::string text =
        parse_error(pmt, ts::pmt_section(1, 0x100, {}, {{0x0B, 0x200, loop}, {0x06, 0x201, {}}}));
    EXPECT_TRUE(contains(text, c.error)) << text;
    EXPECT_TRUE(pmt.streams.empty());
  }
}

}  // namespace
