// Shared pieces of the fuzz targets: the process log switched on (so every log line is formatted with
// its real arguments, which is where a wrong conversion or a dangling text would show), and a helper
// that steers random bytes past the CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "log/debug_log.h"
#include "tables/sitables.h"

namespace fuzz {

// The log on /dev/null at the most detailed level; DSMCC_FUZZ_LOG=0 leaves it closed (quicker runs),
// DSMCC_FUZZ_LOG=PATH writes it there with each line's level (the replay's record of each input).
inline void open_log_once() {
  static const bool opened = [] {
    const char* wanted = std::getenv("DSMCC_FUZZ_LOG");
    if (wanted && wanted[0] == '0') return false;
    const bool to_file = wanted && wanted[0] == '/';
    logio::g_log.init(to_file ? wanted : "/dev/null", logio::CDebugLog::OPT_FILE,
               to_file ? uint32_t{logio::CDebugLog::PFX_LEVEL} : 0u, 4);
    return true;
  }();
  (void)opened;
}

// Writes a correct CRC_32 at the end of the section the first three bytes announce, when the bytes
// hold it: random bytes almost never carry one, and the fuzzer would stay in front of the check.
inline void fix_section_crc(std::vector<uint8_t>& section) {
  if (section.size() < 3) return;
  const size_t total = 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]);
  if (total < 12 || total > section.size()) return;
  const uint32_t crc = sitables::crc32_mpeg2(std::span<const uint8_t>(section.data(), total - 4));
  for (size_t i = 0; i < 4; ++i) section[total - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

}  // namespace fuzz
