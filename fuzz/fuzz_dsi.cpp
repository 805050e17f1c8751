// The DownloadServerInitiate decoder with its ServiceGatewayInfo on arbitrary message bytes; the same
// bytes go straight into the ServiceGatewayInfo decoder, the IOR decoder in both byte orders and the
// BIOP profile body decoder, so that the fuzzer need not build a message header to reach them.
#include "bytes/byte_reader.h"
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"

using namespace dsmcc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);
  const bytes::ByteView message(copy);
  CDownloadServerInitiate dsi;
  dsi.Parse(message);
  CServiceGatewayInfo gateway;
  uint32_t occupied = static_cast<uint32_t>(size);
  gateway.parse(message, occupied);
  for (bool big_endian : {true, false}) {
    bytes::ByteReader r(message);
    ObjectLocationRef location;
    std::vector<BiopProfileBody> profiles;
    parse_IOR(r, big_endian, location, &profiles, false);
  }
  ObjectLocationRef location;
  BiopProfileBody body;
  body.profileId_tag = BIOP::TAG_BIOP;
  parse_BIOP_ProfileBody(message, location, body, true);
  return 0;
}
