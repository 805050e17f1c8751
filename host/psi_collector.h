// Gathers the sub-tables that one RequestSections call asks for.
//
// A request names a PID and a table_id, and for a PMT the table_id_extension (the programme number).
// It is satisfied by one complete sub-table: every section, from 0 to last_section_number, of the
// current version, in section_number order. Only sections that are whole and sound count: long
// syntax, a good CRC-32, current_next_indicator set. A new version seen before the sub-table is
// complete starts the gathering again, since the sections of two versions do not belong together.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "contract/host_contract.h"

namespace host {

// The CRC-32 of MPEG-2 sections; a whole section with its CRC_32 field gives 0.
uint32_t section_crc32(std::span<const uint8_t> bytes) noexcept;

class PsiCollector {
 public:
  explicit PsiCollector(std::span<const SectionRequest> requests);

  // The distinct PIDs that the requests name (those outside 0..0x1FFF are left out).
  std::vector<uint16_t> pids() const;
  // Offers a whole section that arrived on `pid`. Returns true when it was taken.
  bool offer(uint16_t pid, std::span<const uint8_t> section);
  // Every request has its whole sub-table.
  bool complete() const noexcept;
  // At least one section of a requested sub-table was taken.
  bool took_any() const noexcept { return took_any_; }
  // Sections offered on a requested PID and table that failed their CRC-32.
  uint64_t crc_failures() const noexcept { return crc_failures_; }

  // Writes one reply per request: the sections gathered, in section_number order (a sub-table not
  // complete at the end gives what it has). Sections and pointer arrays come from task_alloc. When
  // memory runs out nothing stays allocated, every count is 0 and false is returned.
  bool fill_replies(SectionReply* replies) const;
  // Sets every reply to count 0.
  static void clear_replies(uint32_t count, SectionReply* replies);

 private:
  struct Pending {
    uint32_t pid = 0;
    uint8_t table_id = 0;
    bool by_extension = false;
    uint16_t extension = 0;
    bool extension_known = false;  // without selection, the first good section fixes it
    int version = -1;
    uint8_t last_section_number = 0;
    std::vector<std::vector<uint8_t>> sections;  // by section_number; empty while missing
    size_t received = 0;
    bool done = false;
  };

  std::vector<Pending> pending_;
  size_t open_ = 0;
  bool took_any_ = false;
  uint64_t crc_failures_ = 0;
};

}  // namespace host
