// The DownloadServerInitiate decoder with its ServiceGatewayInfo on arbitrary message bytes; the same
// bytes go straight into the ServiceGatewayInfo decoder, the IOR decoder in both byte orders and the
// BIOP profile body decoder, so that the fuzzer need not build a message header to reach them. A
// record of a body that stopped early holds no more than it announced.
#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"
#include "bytes/byte_reader.h"

using namespace dsmcc;

namespace {

void check_profiles(const std::vector<BiopProfileBody>& bodies) {
  for (const auto& body : bodies)
    FUZZ_CHECK(body.taps.size() <= body.taps_count && (body.objectKey.empty() || body.objectKey.size() == body.objectKey_length));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);
  const bytes::ByteView message(copy);
  CDownloadServerInitiate dsi;
  if (dsi.Parse(message)) FUZZ_CHECK(dsi.gatewayParsed && fuzz::view_inside(dsi.privateData, copy));
  check_profiles(dsi.gateway.profiles);
  CServiceGatewayInfo gateway;
  uint32_t occupied = static_cast<uint32_t>(size);
  FUZZ_CHECK(gateway.parse(message, occupied) && occupied <= size);
  check_profiles(gateway.profiles);
  for (bool big_endian : {true, false}) {
    bytes::ByteReader r(message);
    ObjectLocationRef location;
    std::vector<BiopProfileBody> profiles;
    parse_IOR(r, big_endian, location, &profiles, false);
    check_profiles(profiles);
  }
  ObjectLocationRef location;
  BiopProfileBody body;
  body.profileId_tag = BIOP::TAG_BIOP;
  parse_BIOP_ProfileBody(message, location, body, true);
  check_profiles({body});
  return 0;
}
