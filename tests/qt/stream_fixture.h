// A small multiplex written to a temporary file for the window tests: a PAT with two programmes, their
// PMTs with one DSM-CC stream each (and one stream that is not), and on one of them a complete object
// carousel with a directory and three files, repeated a few times as a playout would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qttest {

struct SyntheticMultiplex {
  static constexpr uint16_t kCarouselPid = 0x200;  // programme 1, carousel_id_descriptor
  static constexpr uint16_t kSecondPid = 0x201;    // programme 2, data_broadcast_id_descriptor
  static constexpr uint32_t kCarouselId = 0x10;

  std::string path;  // the file
  std::string index_html, readme;
  std::vector<uint8_t> logo;
  // The texts the MUX list shows for it, in order.
  std::vector<std::string> mux_entries;
};

// Writes the multiplex into `dir` (which must exist).
SyntheticMultiplex write_synthetic_multiplex(const std::string& dir);

}  // namespace qttest
