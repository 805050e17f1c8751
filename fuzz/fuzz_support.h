// Shared pieces of the fuzz targets: an invariant check that stops the run loudly, the process log
// switched on (so every log line is formatted with its real arguments, which is where a wrong
// conversion or a dangling text would show), and helpers that steer random bytes past the CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "log/debug_log.h"
#include "tables/sitables.h"

// A broken invariant is a finding like a crash: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "fuzz invariant failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzz {

// Opens the process log once, on /dev/null, at the most detailed level and without prefixes, so
// that every line is formatted as it would be in a real run but nothing accumulates. DSMCC_FUZZ_LOG=0
// leaves the log closed, for quicker runs that skip the formatting; DSMCC_FUZZ_LOG=PATH writes it
// there, each line with its level (the replay's record of what each input logs).
inline void open_log_once() {
  static const bool opened = [] {
    const char* wanted = std::getenv("DSMCC_FUZZ_LOG");
    if (wanted && wanted[0] == '0') return false;
    if (wanted && wanted[0] == '/') {
      g_log.init(wanted, CDebugLog::OPT_FILE, CDebugLog::PFX_LEVEL, 4);
      return true;
    }
    g_log.init("/dev/null", CDebugLog::OPT_FILE, 0, 4);
    return true;
  }();
  (void)opened;
}

// True when `inner` lies wholly inside `outer` (an empty view anywhere counts as inside).
inline bool view_inside(std::span<const uint8_t> inner, std::span<const uint8_t> outer) {
  if (inner.empty()) return true;
  const auto in_begin = reinterpret_cast<uintptr_t>(inner.data());
  const auto out_begin = reinterpret_cast<uintptr_t>(outer.data());
  return in_begin >= out_begin && inner.size() <= outer.size() &&
         in_begin - out_begin <= outer.size() - inner.size();
}

// Writes a correct CRC_32 into the last four bytes of the section that the first three bytes of
// `section` announce, when the bytes hold it. Random bytes almost never carry a valid CRC, and
// without this the fuzzer would spend its time in front of the check instead of behind it.
inline void fix_section_crc(std::vector<uint8_t>& section) {
  if (section.size() < 3) return;
  const size_t total = 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]);
  if (total < 12 || total > section.size()) return;
  const uint32_t crc = sitables::crc32_mpeg2(std::span<const uint8_t>(section.data(), total - 4));
  for (size_t i = 0; i < 4; ++i) section[total - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

}  // namespace fuzz
