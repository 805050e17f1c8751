#include "tests/support/psi_builder.h"

#include <stdexcept>

namespace testsupport {

// Kept apart from the table library's table-driven CRC so that fixtures cross-check it instead of
// agreeing with it by construction.
uint32_t crc32_bitwise(std::span<const uint8_t> bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= static_cast<uint32_t>(b) << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  ByteWriter out;
  for (const Bytes& p : parts) out.bytes(p);
  return out.take();
}

Bytes long_section(const SectionSpec& h, std::span<const uint8_t> body) {
  const size_t length = 5 + body.size() + 4;
  if (length > 0x0FFF) throw std::invalid_argument("long_section: body too long for a 12-bit section_length");
  ByteWriter w;
  w.u8(h.table_id.value_or(0));
  w.be16((h.section_syntax_indicator ? 0x8000u : 0u) | (h.private_indicator ? 0x4000u : 0u) | 0x3000u |
         length);
  w.be16(h.table_id_extension.value_or(0));
  w.u8(0xC0u | ((h.version_number & 0x1Fu) << 1) | (h.current_next_indicator ? 1u : 0u));
  w.u8(h.section_number).u8(h.last_section_number).bytes(body).be32(0);
  Bytes out = w.take();
  fix_crc(out);
  if (h.bad_crc) out.back() ^= 0x01;
  return out;
}

Bytes short_section(uint8_t table_id, bool private_indicator, std::span<const uint8_t> body) {
  if (body.size() > 0x0FFF)
    throw std::invalid_argument("short_section: body too long for a 12-bit section_length");
  return ByteWriter()
      .u8(table_id)
      .be16((private_indicator ? 0x4000u : 0u) | 0x3000u | body.size())
      .bytes(body)
      .take();
}

void fix_crc(Bytes& section) {
  if (section.size() < 4) throw std::invalid_argument("fix_crc: section shorter than its CRC_32");
  const size_t at = section.size() - 4;
  const uint32_t crc = crc32_bitwise(std::span<const uint8_t>(section).first(at));
  for (size_t i = 0; i < 4; ++i) section[at + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

void set_section_length(Bytes& section, uint16_t section_length) {
  if (section.size() < 3) throw std::invalid_argument("set_section_length: fewer than 3 bytes");
  section[1] = static_cast<uint8_t>((section[1] & 0xF0) | ((section_length >> 8) & 0x0F));
  section[2] = static_cast<uint8_t>(section_length);
}

Bytes descriptor(uint8_t tag, std::span<const uint8_t> body) {
  if (body.size() > 255) throw std::invalid_argument("descriptor: body longer than 255 bytes");
  return ByteWriter().u8(tag).u8(body.size()).bytes(body).take();
}

Bytes carousel_id_descriptor(uint32_t carousel_id, uint8_t format_id, std::span<const uint8_t> private_data) {
  return descriptor(0x13, ByteWriter().be32(carousel_id).u8(format_id).bytes(private_data).data());
}

Bytes stream_identifier_descriptor(uint8_t component_tag) {
  return descriptor(0x52, Bytes{component_tag});
}

Bytes data_broadcast_descriptor(uint16_t data_broadcast_id, uint8_t component_tag,
                                std::span<const uint8_t> selector, const std::string& language,
                                const std::string& text) {
  if (language.size() != 3)
    throw std::invalid_argument("data_broadcast_descriptor: language must be 3 letters");
  ByteWriter body;
  body.be16(data_broadcast_id).u8(component_tag).u8(selector.size()).bytes(selector);
  body.text(language).u8(text.size()).text(text);
  return descriptor(0x64, body.data());
}

Bytes data_broadcast_id_descriptor(uint16_t data_broadcast_id, std::span<const uint8_t> id_selector) {
  return descriptor(0x66, ByteWriter().be16(data_broadcast_id).bytes(id_selector).data());
}

Bytes pat_section(uint16_t transport_stream_id, const std::vector<PatEntry>& entries, uint8_t version,
                  uint8_t section_number, uint8_t last_section_number) {
  ByteWriter body;
  for (const PatEntry& e : entries) body.be16(e.program_number).be16(0xE000u | (e.pid & 0x1FFFu));
  return long_section({.table_id = 0x00,
                       .table_id_extension = transport_stream_id,
                       .version_number = version,
                       .section_number = section_number,
                       .last_section_number = last_section_number},
                      body.data());
}

Bytes cat_section(std::span<const uint8_t> descriptors) {
  return long_section({.table_id = 0x01, .table_id_extension = 0xFFFF}, descriptors);
}

Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, std::span<const uint8_t> program_descriptors,
                  const std::vector<PmtStream>& streams, uint8_t version) {
  ByteWriter body;
  body.be16(0xE000u | (pcr_pid & 0x1FFFu)).be16(0xF000u | (program_descriptors.size() & 0x0FFFu));
  body.bytes(program_descriptors);
  for (const PmtStream& s : streams) {
    body.u8(s.stream_type).be16(0xE000u | (s.pid & 0x1FFFu));
    body.be16(0xF000u | (s.descriptors.size() & 0x0FFFu)).bytes(s.descriptors);
  }
  return long_section({.table_id = 0x02, .table_id_extension = program_number, .version_number = version},
                      body.data());
}

}  // namespace testsupport
