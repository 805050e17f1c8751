// The DownloadDataBlock decoder on arbitrary message bytes.
//
// Beyond "no crash": an accepted block's data is every byte behind its 6-byte block header up to the
// end of the message, as a view inside the message, and its length says so.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);
  const ByteView message(copy);

  DownloadDataBlock ddb;
  const bool accepted = ddb.Parse(message);
  DsmccMessageHeader header;
  const bool header_ok = parse_download_data_header(message, header);
  if (!accepted) {
    // Rejected: a bad or short header, a short block header, or a reserved byte other than 0xFF.
    FUZZ_CHECK(!header_ok || size < header.body_offset + 6 || copy[header.body_offset + 3] != 0xFF);
    return 0;
  }
  FUZZ_CHECK(header_ok);
  const DsmccMessageHeader& h = ddb.header;
  FUZZ_CHECK(h.body_offset == header.body_offset);
  FUZZ_CHECK(h.transactionId == header.transactionId);
  FUZZ_CHECK(h.body_offset == 12 + h.adaptationLength);
  FUZZ_CHECK(size >= 18 + h.adaptationLength);
  FUZZ_CHECK(ddb.blockDataLength == size - 18 - h.adaptationLength);
  FUZZ_CHECK(ddb.blockData.size() == ddb.blockDataLength);
  FUZZ_CHECK(fuzz::view_inside(ddb.blockData, message));
  FUZZ_CHECK(ddb.blockData.empty() || ddb.blockData.data() == copy.data() + h.body_offset + 6);
  FUZZ_CHECK(ddb.moduleId == (static_cast<uint32_t>(copy[h.body_offset]) << 8 | copy[h.body_offset + 1]));
  return 0;
}
