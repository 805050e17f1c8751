// The DownloadServerInitiate decoder with its ServiceGatewayInfo, on arbitrary message bytes; the
// same bytes also go straight into the ServiceGatewayInfo decoder and into the IOR decoder in both
// byte orders (the form in which a directory binding's IOR is read), so that the fuzzer need not
// build a valid message header before it reaches them.
//
// Beyond "no crash": every view the decoders keep lies inside the bytes they were given, lengths
// agree with the views, and a record of a body that stopped early holds no more than it announced.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dsmcc/messages.h"
#include "fuzz/fuzz_support.h"
#include "bytes/byte_reader.h"

namespace {

void check_profile(const BiopProfileBody& body) {
  FUZZ_CHECK(body.profileId_tag == BIOP::TAG_BIOP);
  // A key is either whole or absent (the body stopped inside it).
  FUZZ_CHECK(body.objectKey.size() == body.objectKey_length || body.objectKey.empty());
  FUZZ_CHECK(body.objectKey.size() <= 255);
  FUZZ_CHECK(body.taps.size() <= body.taps_count);
  const size_t further = body.lite_component_count > 2 ? body.lite_component_count - 2 : 0;
  FUZZ_CHECK(body.liteComponents.size() <= further);
  for (const auto& component : body.liteComponents) FUZZ_CHECK(component.data.size() == component.component_data_length);
  for (size_t i = 1; i < body.taps.size(); ++i) FUZZ_CHECK(body.taps[i].selector.size() == body.taps[i].selector_length);
  if (!body.taps.empty()) FUZZ_CHECK(body.taps[0].selector.empty());
}

void check_gateway(const CServiceGatewayInfo& gateway, uint32_t occupied, size_t available) {
  FUZZ_CHECK(occupied <= available);
  for (const auto& profile : gateway.profiles) check_profile(profile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<uint8_t> copy(data, data + size);  // an exact-size buffer, so ASan sees any overrun
  const ByteView message(copy);

  CDownloadServerInitiate dsi;
  if (dsi.Parse(message)) {
    const DsmccMessageHeader& h = dsi.header;
    FUZZ_CHECK(h.body_offset == 12 + h.adaptationLength);
    FUZZ_CHECK(h.adaptation.size() == h.adaptationLength);
    FUZZ_CHECK(fuzz::view_inside(h.adaptation, message));
    FUZZ_CHECK(dsi.serverId.size() == 20);
    FUZZ_CHECK(fuzz::view_inside(dsi.serverId, message));
    FUZZ_CHECK(dsi.privateData.size() == dsi.privateDataLength);
    FUZZ_CHECK(fuzz::view_inside(dsi.privateData, message));
    FUZZ_CHECK(h.body_offset + 24 + dsi.compatibilityDescriptorLength + dsi.privateDataLength <= message.size());
    FUZZ_CHECK(dsi.gatewayParsed);  // the gateway decoder reports success whatever it met
    for (const auto& profile : dsi.gateway.profiles) check_profile(profile);
  }

  CServiceGatewayInfo gateway;
  uint32_t occupied = static_cast<uint32_t>(size);
  FUZZ_CHECK(gateway.parse(message, occupied));
  check_gateway(gateway, occupied, size);

  for (bool big_endian : {true, false}) {
    ByteReader r(message);
    ObjectLocationRef location;
    std::vector<BiopProfileBody> profiles;
    const bool whole = parse_IOR(r, big_endian, location, &profiles, false);
    FUZZ_CHECK(r.position() <= size);
    if (whole) FUZZ_CHECK(r.ok());
    for (const auto& profile : profiles) check_profile(profile);
    FUZZ_CHECK(location.objectKey.size() <= 255);
  }

  ObjectLocationRef location;
  BiopProfileBody body;
  body.profileId_tag = BIOP::TAG_BIOP;
  parse_BIOP_ProfileBody(message, location, body, true);
  check_profile(body);
  // The location is copied only once a whole object location was read.
  if (!location.objectKey.empty()) FUZZ_CHECK(location.objectKey == body.objectKey);
  return 0;
}
