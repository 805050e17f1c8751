// The DownloadInfoIndication decoder on arbitrary message bytes.
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

using namespace dsmcc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);  // an exact-size buffer, so ASan sees any overrun
  CDownloadInfoIndication dii;
  dii.Parse(bytes::ByteView(copy));
  return 0;
}
