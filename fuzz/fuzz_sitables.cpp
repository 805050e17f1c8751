// The section table library on arbitrary bytes: every table class parses the same input, and so
// does a bare descriptor loop. The first input byte is a control byte: its low bit asks for a correct
// CRC_32 to be written into the section first, so that the table bodies behind the check are reached.
//
// Beyond "no crash": a parse either throws the library's error and leaves the object empty, or keeps
// exactly the announced section, with a CRC that holds when the syntax indicator asks for one, and
// loops whose entries account for every byte of the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tables/sitables.h"

namespace {

size_t announced_size(std::span<const uint8_t> section) {
  return 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]);
}

size_t descriptor_bytes(const sitables::DescriptorList& list) {
  size_t n = 0;
  for (const auto& d : list.all) n += 2 + d.data.size();
  return n;
}

void check_descriptors(const sitables::DescriptorList& list) {
  size_t broadcast = 0, broadcast_id = 0, carousel = 0;
  for (const auto& d : list.all) {
    FUZZ_CHECK(d.length == d.data.size());
    broadcast += d.tag == 0x64;
    broadcast_id += d.tag == 0x66;
    carousel += d.tag == 0x13;
  }
  // Every descriptor of the three decoded kinds is in its own list as well, in the same number.
  FUZZ_CHECK(list.data_broadcast.size() == broadcast);
  FUZZ_CHECK(list.data_broadcast_id.size() == broadcast_id);
  FUZZ_CHECK(list.carousel_id.size() == carousel);
}

// The common outcome of one Parse call on `table`.
template <typename Table>
bool parse_checked(Table& table, std::span<const uint8_t> section) {
  try {
    table.Parse(section, false);
  } catch (const sitables::error& e) {
    FUZZ_CHECK(e.text() != nullptr && e.text()[0] != '\0');
    FUZZ_CHECK(table.section_bytes().empty());
    FUZZ_CHECK(table.get_table_id() == 0);
    return false;
  }
  const auto& kept = table.section_bytes();
  FUZZ_CHECK(section.size() >= 3);
  FUZZ_CHECK(kept.size() == announced_size(section));
  FUZZ_CHECK(std::equal(kept.begin(), kept.end(), section.begin()));
  FUZZ_CHECK(table.get_table_id() == section[0]);
  FUZZ_CHECK(table.section_length + 3 == kept.size());
  if (table.section_syntax_indicator == 1) FUZZ_CHECK(sitables::crc32_mpeg2(kept) == 0);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  if (size < 1) return 0;
  std::vector<uint8_t> section(data + 1, data + size);
  if (data[0] & 1) fuzz::fix_section_crc(section);
  const std::span<const uint8_t> bytes(section);

  sitables::Pat pat;
  if (parse_checked(pat, bytes)) {
    FUZZ_CHECK(pat.section_length >= 9);
    FUZZ_CHECK(pat.get_program_info_size() * 4 == pat.section_length - 9);
    for (size_t i = 0; i < pat.get_program_info_size(); ++i) FUZZ_CHECK(pat.get_program_info(i).PID < 0x2000);
  }

  sitables::Cat cat;
  if (parse_checked(cat, bytes)) {
    check_descriptors(cat.descriptors);
    FUZZ_CHECK(descriptor_bytes(cat.descriptors) == cat.section_length - 9);
  }

  sitables::PmtDVB pmt(-1);
  if (parse_checked(pmt, bytes)) {
    check_descriptors(pmt.program_descriptors);
    size_t used = 4 + descriptor_bytes(pmt.program_descriptors);
    for (const auto& es : pmt.streams) {
      FUZZ_CHECK(es.elementary_PID < 0x2000);
      check_descriptors(es.descriptors);
      used += 5 + descriptor_bytes(es.descriptors);
    }
    FUZZ_CHECK(used == pmt.section_length - 9);
    // A copy is a whole table of its own.
    sitables::PmtDVB copy = pmt;
    FUZZ_CHECK(copy.streams.size() == pmt.streams.size());
    FUZZ_CHECK(copy.section_bytes() == pmt.section_bytes());
  }

  sitables::DsmCC dsmcc;
  if (parse_checked(dsmcc, bytes)) {
    const auto message = dsmcc.get_data();
    const auto& kept = dsmcc.section_bytes();
    FUZZ_CHECK(kept.size() >= 12);
    FUZZ_CHECK(message.size() == kept.size() - 12);
    FUZZ_CHECK(fuzz::view_inside(message, kept));
    FUZZ_CHECK(dsmcc.get_table_extension() == (static_cast<uint32_t>(kept[3]) << 8 | kept[4]));
  }

  try {
    const sitables::DescriptorList loop = sitables::parse_descriptor_loop(bytes);
    check_descriptors(loop);
    FUZZ_CHECK(descriptor_bytes(loop) == bytes.size());
  } catch (const sitables::error& e) {
    FUZZ_CHECK(e.text()[0] != '\0');
  }
  return 0;
}
