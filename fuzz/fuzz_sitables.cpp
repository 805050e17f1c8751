// The section table library on arbitrary bytes: every table class parses the same input, and so
// does a bare descriptor loop. The first input byte's low bit asks for a correct CRC_32 to be written
// into the section first, so that the table bodies behind the check are reached.
#include "fuzz/fuzz_support.h"
#include "tables/sitables.h"

namespace {

// The library's errors are its answer to bad input; anything else escapes and is a finding.
template <typename Parse>
void tolerating_errors(Parse parse) {
  try {
    parse();
  } catch (const sitables::error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  if (size < 1) return 0;
  std::vector<uint8_t> section(data + 1, data + size);
  if (data[0] & 1) fuzz::fix_section_crc(section);
  const std::span<const uint8_t> bytes(section);
  sitables::Pat pat;
  sitables::Cat cat;
  sitables::PmtDVB pmt(-1);
  sitables::DsmCC dsmcc;
  tolerating_errors([&] { pat.Parse(bytes, false); });
  tolerating_errors([&] { cat.Parse(bytes, false); });
  tolerating_errors([&] { pmt.Parse(bytes, false); });
  tolerating_errors([&] { dsmcc.Parse(bytes, false); });
  tolerating_errors([&] { sitables::parse_descriptor_loop(bytes); });
  return 0;
}
