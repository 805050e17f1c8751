// The DownloadDataBlock decoder on arbitrary message bytes. An accepted block's data is every byte
// behind its 6-byte block header, as a view inside the message.
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

using namespace dsmcc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);  // an exact-size buffer, so ASan sees any overrun
  DownloadDataBlock ddb;
  const bool accepted = ddb.Parse(bytes::ByteView(copy));
  DsmccMessageHeader header;
  const bool header_ok = parse_download_data_header(bytes::ByteView(copy), header);
  FUZZ_CHECK(!accepted || (header_ok && ddb.blockData.size() == size - header.body_offset - 6 &&
                           fuzz::view_inside(ddb.blockData, copy)));
  return 0;
}
