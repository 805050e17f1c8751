// The section table library on arbitrary bytes: every table class parses the same input, and so
// does a bare descriptor loop. The first input byte's low bit asks for a correct CRC_32 to be written
// into the section first, so that the table bodies behind the check are reached. Loops account for
// every byte of the body.
#include "fuzz/fuzz_support.h"
#include "tables/sitables.h"

namespace {

size_t descriptor_bytes(const sitables::DescriptorList& list) {
  size_t n = 0;
  for (const auto& d : list.all) n += 2 + d.data.size();
  return n;
}

// Either the library's error and an empty table, or exactly the announced section, with a CRC that
// holds when the syntax asks for one.
template <typename Table>
bool parse_checked(Table& table, std::span<const uint8_t> section) {
  try {
    table.Parse(section, false);
  } catch (const sitables::error& e) {
    FUZZ_CHECK(e.text()[0] != '\0' && table.section_bytes().empty());
    return false;
  }
  const auto& kept = table.section_bytes();
  FUZZ_CHECK(kept.size() == table.section_length + 3u && std::equal(kept.begin(), kept.end(), section.begin()));
  FUZZ_CHECK(table.section_syntax_indicator == 0 || sitables::crc32_mpeg2(kept) == 0);
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
  if (parse_checked(pat, bytes)) FUZZ_CHECK(pat.get_program_info_size() * 4 + 9 == pat.section_length);
  sitables::Cat cat;
  if (parse_checked(cat, bytes)) FUZZ_CHECK(descriptor_bytes(cat.descriptors) + 9 == cat.section_length);
  sitables::PmtDVB pmt(-1);
  parse_checked(pmt, bytes);
  sitables::DsmCC dsmcc;
  if (parse_checked(dsmcc, bytes)) FUZZ_CHECK(dsmcc.get_data().size() + 12 == dsmcc.section_bytes().size());
  try {
    FUZZ_CHECK(descriptor_bytes(sitables::parse_descriptor_loop(bytes)) == bytes.size());
  } catch (const sitables::error& e) {
    FUZZ_CHECK(e.text()[0] != '\0');
  }
  return 0;
}
