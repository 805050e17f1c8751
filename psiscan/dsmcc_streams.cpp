#include "psiscan/dsmcc_streams.h"

namespace psiscan {

bool is_candidate_stream_type(uint32_t stream_type) {
  return stream_type == 0x0B || stream_type == 0x0D || stream_type >= 0x80;
}

bool is_carousel_data_broadcast_id(uint32_t data_broadcast_id) {
  return data_broadcast_id == 0x00F0 || data_broadcast_id == 0x0006 || data_broadcast_id == 0x0009;
}

bool is_dsmcc_stream(const sitables::ElementaryStream& stream) {
  if (!is_candidate_stream_type(stream.stream_type)) return false;
  const sitables::DescriptorList& d = stream.descriptors;
  // Only the first descriptor of each data broadcast kind counts: a later one that happens to name a
  // carousel does not make the stream one.
  if (!d.data_broadcast.empty() && is_carousel_data_broadcast_id(d.data_broadcast.front().data_broadcast_id))
    return true;
  if (!d.data_broadcast_id.empty() &&
      is_carousel_data_broadcast_id(d.data_broadcast_id.front().data_broadcast_id))
    return true;
  return !d.carousel_id.empty();
}

std::vector<DsmccStream> select_dsmcc_streams(const PsiScanResult& result) {
  std::vector<DsmccStream> streams;
  for (const auto& [program_number, pmt] : result.pmts) {
    for (const sitables::ElementaryStream& es : pmt.streams) {
      if (is_dsmcc_stream(es)) streams.push_back({static_cast<uint32_t>(program_number), es.elementary_PID});
    }
  }
  return streams;
}

}  // namespace psiscan
