#include "tests/support/dsmcc_builder.h"

namespace testsupport {

// ---- Message header ------------------------------------------------------------------------------

std::vector<uint8_t> build_message(const MessageHeaderSpec& header, const std::vector<uint8_t>& body) {
  ByteWriter w;
  w.u8(header.protocolDiscriminator).u8(header.dsmccType).be16(header.messageId).be32(header.transactionId);
  w.u8(header.reserved).u8(header.adaptation.size()).be16(header.adaptation.size() + body.size());
  return w.bytes(header.adaptation).bytes(body).take();
}

std::vector<uint8_t> adaptation_header(size_t length) {
  std::vector<uint8_t> a(length, 0xFF);
  if (!a.empty()) a[0] = 0x01;
  return a;
}

// ---- BIOP profile body, IOR, ServiceGatewayInfo --------------------------------------------------

namespace {

// The fixed form of a ConnBinder's first tap (17 bytes), or the plain form of every other tap.
void write_tap(ByteWriter& w, const TapSpec& t, bool be, bool first) {
  w.u16(t.id, be).u16(t.use, be).u16(t.assocTag, be);
  if (first) {
    w.u8(t.selector_length.value_or(10)).u16(t.selector_type, be).u32(t.transactionId, be).u32(t.timeout, be);
  } else {
    w.u8(t.selector_length.value_or(static_cast<uint8_t>(t.selector.size()))).bytes(t.selector);
  }
}

}  // namespace

std::vector<uint8_t> build_biop_profile_body(const BiopProfileSpec& s) {
  const bool be = s.byte_order == 0;
  ByteWriter w;
  w.u8(s.byte_order).u8(s.lite_component_count.value_or(static_cast<uint8_t>(2 + s.lite_components.size())));
  w.u32(kTagObjectLocation, be).u8(9 + s.objectKey.size());
  w.u32(s.carouselId, be).u16(s.moduleId, be).u8(1).u8(0).u8(s.objectKey.size()).bytes(s.objectKey);

  ByteWriter taps;
  for (size_t i = 0; i < s.taps.size(); ++i) write_tap(taps, s.taps[i], be, i == 0);
  w.u32(kTagConnBinder, be).u8(1 + taps.size()).u8(s.taps.size()).bytes(taps.data());

  for (const auto& lc : s.lite_components) w.u32(lc.componentId_tag, be).u8(lc.data.size()).bytes(lc.data);
  return w.take();
}

BiopProfileSpec gateway_profile(uint32_t carouselId, uint16_t moduleId, std::vector<uint8_t> objectKey,
                                uint16_t assocTag, uint32_t transactionId) {
  return {.carouselId = carouselId,
          .moduleId = moduleId,
          .objectKey = std::move(objectKey),
          .taps = {TapSpec{.assocTag = assocTag, .transactionId = transactionId}}};
}

TaggedProfileSpec biop_profile(const BiopProfileSpec& desc) {
  return {kTagBiop, build_biop_profile_body(desc)};
}

std::vector<uint8_t> build_ior(const IorSpec& s) {
  const bool be = s.big_endian;
  ByteWriter w;
  w.u32(s.type_id.size(), be).bytes(s.type_id);
  w.bytes(std::vector<uint8_t>((4 - s.type_id.size() % 4) % 4, s.gap_byte));  // the gap up to a multiple of 4
  w.u32(s.profiles.size(), be);
  for (const auto& p : s.profiles) w.u32(p.profileId_tag, be).u32(p.data.size(), be).bytes(p.data);
  return w.take();
}

ServiceGatewayInfoSpec gateway_info(const BiopProfileSpec& profile) {
  return {.ior = {.profiles = {biop_profile(profile)}}};
}

std::vector<uint8_t> build_service_gateway_info(const ServiceGatewayInfoSpec& s) {
  ByteWriter w;
  w.bytes(build_ior(s.ior)).u8(s.download_taps.size());
  for (const auto& t : s.download_taps) write_tap(w, t, true, false);
  w.u8(s.service_contexts.size());
  for (const auto& c : s.service_contexts) w.be32(c.context_id).be16(c.data.size()).bytes(c.data);
  return w.be16(s.user_info.size()).bytes(s.user_info).take();
}

// ---- DSI, DII, DDB -------------------------------------------------------------------------------

std::vector<uint8_t> build_dsi(const DsiSpec& s) {
  ByteWriter body;
  body.bytes(s.serverId).be16(s.compatibility_descriptor.size()).bytes(s.compatibility_descriptor);
  body.be16(s.private_data.size()).bytes(s.private_data);
  return build_message(s.header, body.data());
}

std::vector<uint8_t> build_dii(const DiiSpec& s) {
  ByteWriter body;
  body.be32(s.downloadId).be16(s.blockSize).u8(s.windowSize).u8(s.ackPeriod);
  body.be32(s.tCDownloadWindow).be32(s.tCDownloadScenario);
  body.be16(s.compatibility_descriptor.size()).bytes(s.compatibility_descriptor);
  body.be16(s.modules.size());
  for (const auto& m : s.modules)
    body.be16(m.moduleId).be32(m.moduleSize).u8(m.moduleVersion).u8(m.moduleInfo.size()).bytes(m.moduleInfo);
  body.be16(s.private_data.size()).bytes(s.private_data);
  return build_message(s.header, body.data());
}

std::vector<uint8_t> build_ddb(const DdbSpec& s) {
  ByteWriter body;
  body.be16(s.moduleId).u8(s.moduleVersion).u8(s.reserved).be16(s.blockNumber).bytes(s.blockData);
  return build_message(s.header, body.data());
}

DdbSpec block(uint32_t downloadId, uint16_t moduleId, uint16_t blockNumber, std::vector<uint8_t> data,
              uint8_t moduleVersion) {
  return {.header = {.messageId = kMsgDDB, .transactionId = downloadId},
          .moduleId = moduleId,
          .moduleVersion = moduleVersion,
          .blockNumber = blockNumber,
          .blockData = std::move(data)};
}

// ---- Sections ------------------------------------------------------------------------------------

std::vector<uint8_t> dsi_section(const DsiSpec& dsi, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3B;
  if (!section.table_id_extension)
    section.table_id_extension = static_cast<uint16_t>(dsi.header.transactionId);
  return long_section(section, build_dsi(dsi));
}

std::vector<uint8_t> dii_section(const DiiSpec& dii, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3B;
  if (!section.table_id_extension)
    section.table_id_extension = static_cast<uint16_t>(dii.header.transactionId);
  return long_section(section, build_dii(dii));
}

std::vector<uint8_t> ddb_section(const DdbSpec& ddb, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3C;
  if (!section.table_id_extension) section.table_id_extension = ddb.moduleId;
  return long_section(section, build_ddb(ddb));
}

}  // namespace testsupport
