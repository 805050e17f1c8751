// Which PIDs of a file carry DSM-CC sections (tables 0x3B and 0x3C), for captures whose PSI lists no
// DSM-CC stream: many carousel captures hold the carousel PID alone, without PAT or PMT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

struct PidFinding {
  bool searched = false;       // false for a live source, which cannot be read a second time
  std::string error;           // the source could not be read again
  std::vector<uint32_t> pids;  // ascending
};

// Reads the source once more, through a host of its own, with a section filter on every PID that
// may carry data (0x0020 to 0x1FFE).
PidFinding find_dsmcc_pids(const std::string& source);

}  // namespace app
