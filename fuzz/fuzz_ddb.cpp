// The DownloadDataBlock decoder on arbitrary message bytes.
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

using namespace dsmcc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);  // an exact-size buffer, so ASan sees any overrun
  DownloadDataBlock ddb;
  ddb.Parse(bytes::ByteView(copy));
  DsmccMessageHeader header;
  parse_download_data_header(bytes::ByteView(copy), header);
  return 0;
}
