#include "tests/support/dsmcc_builder.h"

#include "tests/support/psi_builder.h"

namespace testsupport {

namespace {

uint8_t u8_of(size_t v) {
  return static_cast<uint8_t>(v & 0xFF);
}
uint16_t u16_of(size_t v) {
  return static_cast<uint16_t>(v & 0xFFFF);
}

}  // namespace

// ---- ByteWriter ----------------------------------------------------------------------------------

ByteWriter& ByteWriter::u8(uint32_t v) {
  out_.push_back(static_cast<uint8_t>(v & 0xFF));
  return *this;
}

ByteWriter& ByteWriter::be16(uint32_t v) {
  return u8(v >> 8).u8(v);
}
ByteWriter& ByteWriter::be24(uint32_t v) {
  return u8(v >> 16).u8(v >> 8).u8(v);
}
ByteWriter& ByteWriter::be32(uint32_t v) {
  return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v);
}
ByteWriter& ByteWriter::le16(uint32_t v) {
  return u8(v).u8(v >> 8);
}
ByteWriter& ByteWriter::le32(uint32_t v) {
  return u8(v).u8(v >> 8).u8(v >> 16).u8(v >> 24);
}

ByteWriter& ByteWriter::bytes(const std::vector<uint8_t>& b) {
  out_.insert(out_.end(), b.begin(), b.end());
  return *this;
}

ByteWriter& ByteWriter::text(std::string_view s) {
  for (char c : s) out_.push_back(static_cast<uint8_t>(c));
  return *this;
}

ByteWriter& ByteWriter::fill(size_t count, uint8_t value) {
  out_.insert(out_.end(), count, value);
  return *this;
}

// ---- Message header ------------------------------------------------------------------------------

std::vector<uint8_t> build_message(const MessageHeaderSpec& header, const std::vector<uint8_t>& body) {
  ByteWriter w;
  w.u8(header.protocolDiscriminator).u8(header.dsmccType).be16(header.messageId).be32(header.transactionId);
  w.u8(header.reserved);
  w.u8(u8_of(header.adaptation.size()));
  w.be16(u16_of(header.adaptation.size() + body.size()));
  w.bytes(header.adaptation).bytes(body);
  return w.take();
}

std::vector<uint8_t> adaptation_header(size_t length) {
  std::vector<uint8_t> a(length, 0xFF);
  if (!a.empty()) a[0] = 0x01;
  return a;
}

// ---- BIOP profile body, IOR, ServiceGatewayInfo --------------------------------------------------

namespace {

// The fixed form of a ConnBinder's first tap: 17 bytes.
void write_first_tap(ByteWriter& w, const TapSpec& t, bool be) {
  w.u16(t.id, be).u16(t.use, be).u16(t.assocTag, be);
  w.u8(t.selector_length.value_or(10));
  w.u16(t.selector_type, be).u32(t.transactionId, be).u32(t.timeout, be);
}

void write_plain_tap(ByteWriter& w, const TapSpec& t, bool be) {
  w.u16(t.id, be).u16(t.use, be).u16(t.assocTag, be);
  w.u8(t.selector_length.value_or(u8_of(t.selector.size())));
  w.bytes(t.selector);
}

}  // namespace

std::vector<uint8_t> build_biop_profile_body(const BiopProfileSpec& s) {
  const bool be = s.byte_order == 0;
  ByteWriter w;
  w.u8(s.byte_order);
  w.u8(s.lite_component_count.value_or(u8_of(2 + s.lite_components.size())));

  w.u32(kTagObjectLocation, be);
  w.u8(u8_of(9 + s.objectKey.size()));
  w.u32(s.carouselId, be).u16(s.moduleId, be).u8(s.version_major).u8(s.version_minor);
  w.u8(u8_of(s.objectKey.size()));
  w.bytes(s.objectKey);

  ByteWriter taps;
  for (size_t i = 0; i < s.taps.size(); ++i) {
    if (i == 0)
      write_first_tap(taps, s.taps[i], be);
    else
      write_plain_tap(taps, s.taps[i], be);
  }
  w.u32(kTagConnBinder, be);
  w.u8(u8_of(1 + taps.size()));
  w.u8(u8_of(s.taps.size()));
  w.bytes(taps.data());

  for (const auto& lc : s.lite_components) {
    w.u32(lc.componentId_tag, be);
    w.u8(lc.component_data_length.value_or(u8_of(lc.data.size())));
    w.bytes(lc.data);
  }
  return w.take();
}

BiopProfileSpec gateway_profile(uint32_t carouselId, uint16_t moduleId, std::vector<uint8_t> objectKey,
                                uint16_t assocTag, uint32_t transactionId) {
  BiopProfileSpec p;
  p.carouselId = carouselId;
  p.moduleId = moduleId;
  p.objectKey = std::move(objectKey);
  TapSpec tap;
  tap.id = 0;
  tap.use = 0x0016;
  tap.assocTag = assocTag;
  tap.selector_type = 0x0001;
  tap.transactionId = transactionId;
  tap.timeout = 0xFFFFFFFF;
  p.taps.push_back(tap);
  return p;
}

TaggedProfileSpec biop_profile(const BiopProfileSpec& desc) {
  TaggedProfileSpec t;
  t.profileId_tag = kTagBiop;
  t.data = build_biop_profile_body(desc);
  return t;
}

std::vector<uint8_t> build_ior(const IorSpec& s) {
  const bool be = s.big_endian;
  ByteWriter w;
  const uint32_t type_id_length = static_cast<uint32_t>(s.type_id.size());
  w.u32(type_id_length, be);
  w.bytes(s.type_id);
  w.fill((4 - type_id_length % 4) % 4, s.gap_byte);  // the gap up to a multiple of 4
  w.u32(static_cast<uint32_t>(s.profiles.size()), be);
  for (const auto& p : s.profiles) {
    w.u32(p.profileId_tag, be);
    w.u32(p.profile_data_length.value_or(static_cast<uint32_t>(p.data.size())), be);
    w.bytes(p.data);
  }
  return w.take();
}

ServiceGatewayInfoSpec gateway_info(const BiopProfileSpec& profile) {
  ServiceGatewayInfoSpec g;
  g.ior.profiles.push_back(biop_profile(profile));
  return g;
}

std::vector<uint8_t> build_service_gateway_info(const ServiceGatewayInfoSpec& s) {
  ByteWriter w;
  w.bytes(build_ior(s.ior));
  w.u8(u8_of(s.download_taps.size()));
  for (const auto& t : s.download_taps) write_plain_tap(w, t, true);
  w.u8(u8_of(s.service_contexts.size()));
  for (const auto& c : s.service_contexts) {
    w.be32(c.context_id).be16(u16_of(c.data.size())).bytes(c.data);
  }
  w.be16(u16_of(s.user_info.size()));
  w.bytes(s.user_info);
  return w.take();
}

// ---- DSI, DII, DDB -------------------------------------------------------------------------------

std::vector<uint8_t> build_dsi(const DsiSpec& s) {
  ByteWriter body;
  body.bytes(s.serverId);
  body.be16(u16_of(s.compatibility_descriptor.size()));
  body.bytes(s.compatibility_descriptor);
  body.be16(s.privateDataLength.value_or(u16_of(s.private_data.size())));
  body.bytes(s.private_data);
  return build_message(s.header, body.data());
}

std::vector<uint8_t> build_dii(const DiiSpec& s) {
  ByteWriter body;
  body.be32(s.downloadId).be16(s.blockSize).u8(s.windowSize).u8(s.ackPeriod);
  body.be32(s.tCDownloadWindow).be32(s.tCDownloadScenario);
  body.be16(u16_of(s.compatibility_descriptor.size()));
  body.bytes(s.compatibility_descriptor);
  body.be16(u16_of(s.modules.size()));
  for (const auto& m : s.modules) {
    body.be16(m.moduleId).be32(m.moduleSize).u8(m.moduleVersion);
    body.u8(m.moduleInfoLength.value_or(u8_of(m.moduleInfo.size())));
    body.bytes(m.moduleInfo);
  }
  body.be16(u16_of(s.private_data.size()));
  body.bytes(s.private_data);
  return build_message(s.header, body.data());
}

std::vector<uint8_t> build_ddb(const DdbSpec& s) {
  ByteWriter body;
  body.be16(s.moduleId).u8(s.moduleVersion).u8(s.reserved).be16(s.blockNumber);
  body.bytes(s.blockData);
  return build_message(s.header, body.data());
}

DdbSpec block(uint32_t downloadId, uint16_t moduleId, uint16_t blockNumber, std::vector<uint8_t> data,
              uint8_t moduleVersion) {
  DdbSpec d;
  d.header.transactionId = downloadId;
  d.moduleId = moduleId;
  d.moduleVersion = moduleVersion;
  d.blockNumber = blockNumber;
  d.blockData = std::move(data);
  return d;
}

// ---- Sections ------------------------------------------------------------------------------------

std::vector<uint8_t> build_section(const std::vector<uint8_t>& message, const SectionSpec& s) {
  const SectionHeader h{s.table_id.value_or(0x3B),  s.section_syntax_indicator, s.private_indicator,
                        s.table_id_extension.value_or(0), s.version_number,   s.current_next_indicator,
                        s.section_number,                 s.last_section_number};
  std::vector<uint8_t> out = long_section(h, message);
  if (s.bad_crc) out.back() ^= 0x01;
  return out;
}

std::vector<uint8_t> dsi_section(const DsiSpec& dsi, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3B;
  if (!section.table_id_extension) section.table_id_extension = u16_of(dsi.header.transactionId);
  return build_section(build_dsi(dsi), section);
}

std::vector<uint8_t> dii_section(const DiiSpec& dii, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3B;
  if (!section.table_id_extension) section.table_id_extension = u16_of(dii.header.transactionId);
  return build_section(build_dii(dii), section);
}

std::vector<uint8_t> ddb_section(const DdbSpec& ddb, SectionSpec section) {
  if (!section.table_id) section.table_id = 0x3C;
  if (!section.table_id_extension) section.table_id_extension = ddb.moduleId;
  return build_section(build_ddb(ddb), section);
}

}  // namespace testsupport
