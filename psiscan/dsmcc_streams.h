// Which elementary streams of a scanned multiplex carry DSM-CC: the streams offered in the
// "MUX DSMCC streams" list.
#pragma once

#include <cstdint>
#include <vector>

#include "psiscan/psi_scan_result.h"

namespace psiscan {

struct DsmccStream {
  uint32_t program_number = 0;
  uint32_t pid = 0;
  friend bool operator==(const DsmccStream&, const DsmccStream&) = default;
};

// stream_type 0x0B, 0x0D, or 0x80 and above (user private); 0x0C (stream descriptors) carries no carousel.
bool is_candidate_stream_type(uint32_t stream_type);

// data_broadcast_id values of DVB data and object carousels.
bool is_carousel_data_broadcast_id(uint32_t data_broadcast_id);

// A candidate stream whose first data_broadcast_descriptor, or else whose first
// data_broadcast_id_descriptor, names a carousel, or which has a carousel_identifier_descriptor.
bool is_dsmcc_stream(const sitables::ElementaryStream& stream);

// The DSM-CC streams by ascending programme number, each programme's streams in PMT order. A PID that
// serves two programmes is listed once per programme.
std::vector<DsmccStream> select_dsmcc_streams(const PsiScanResult& result);

}  // namespace psiscan
