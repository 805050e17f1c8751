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

namespace {

void write_be32_at(Bytes& out, size_t at, uint32_t v) {
  out.at(at) = static_cast<uint8_t>(v >> 24);
  out.at(at + 1) = static_cast<uint8_t>(v >> 16);
  out.at(at + 2) = static_cast<uint8_t>(v >> 8);
  out.at(at + 3) = static_cast<uint8_t>(v);
}

void append(Bytes& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void put_be(Bytes& out, uint64_t v, size_t n) {
  for (size_t i = n; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) append(out, p);
  return out;
}

Bytes long_section(const SectionHeader& h, std::span<const uint8_t> body) {
  const size_t length = 5 + body.size() + 4;
  if (length > 0x0FFF) throw std::invalid_argument("long_section: body too long for a 12-bit section_length");
  Bytes out;
  out.push_back(h.table_id);
  const uint16_t flags = static_cast<uint16_t>((h.section_syntax_indicator ? 0x8000 : 0) |
                                               (h.private_indicator ? 0x4000 : 0) | 0x3000 | length);
  put_be(out, flags, 2);
  put_be(out, h.table_id_extension, 2);
  out.push_back(
      static_cast<uint8_t>(0xC0 | ((h.version_number & 0x1F) << 1) | (h.current_next_indicator ? 1 : 0)));
  out.push_back(h.section_number);
  out.push_back(h.last_section_number);
  append(out, body);
  put_be(out, 0, 4);
  fix_crc(out);
  return out;
}

Bytes short_section(uint8_t table_id, bool private_indicator, std::span<const uint8_t> body) {
  if (body.size() > 0x0FFF)
    throw std::invalid_argument("short_section: body too long for a 12-bit section_length");
  Bytes out;
  out.push_back(table_id);
  put_be(out, static_cast<uint16_t>((private_indicator ? 0x4000 : 0) | 0x3000 | body.size()), 2);
  append(out, body);
  return out;
}

void fix_crc(Bytes& section) {
  if (section.size() < 4) throw std::invalid_argument("fix_crc: section shorter than its CRC_32");
  const size_t at = section.size() - 4;
  write_be32_at(section, at, crc32_bitwise(std::span<const uint8_t>(section).first(at)));
}

void set_section_length(Bytes& section, uint16_t section_length) {
  if (section.size() < 3) throw std::invalid_argument("set_section_length: fewer than 3 bytes");
  section[1] = static_cast<uint8_t>((section[1] & 0xF0) | ((section_length >> 8) & 0x0F));
  section[2] = static_cast<uint8_t>(section_length);
}

Bytes descriptor(uint8_t tag, std::span<const uint8_t> body) {
  if (body.size() > 255) throw std::invalid_argument("descriptor: body longer than 255 bytes");
  Bytes out{tag, static_cast<uint8_t>(body.size())};
  append(out, body);
  return out;
}

Bytes carousel_id_descriptor(uint32_t carousel_id, uint8_t format_id, std::span<const uint8_t> private_data) {
  Bytes body;
  put_be(body, carousel_id, 4);
  body.push_back(format_id);
  append(body, private_data);
  return descriptor(0x13, body);
}

Bytes stream_identifier_descriptor(uint8_t component_tag) {
  const uint8_t body[] = {component_tag};
  return descriptor(0x52, body);
}

Bytes data_broadcast_descriptor(uint16_t data_broadcast_id, uint8_t component_tag,
                                std::span<const uint8_t> selector, const std::string& language,
                                const std::string& text) {
  if (language.size() != 3)
    throw std::invalid_argument("data_broadcast_descriptor: language must be 3 letters");
  Bytes body;
  put_be(body, data_broadcast_id, 2);
  body.push_back(component_tag);
  body.push_back(static_cast<uint8_t>(selector.size()));
  append(body, selector);
  body.insert(body.end(), language.begin(), language.end());
  body.push_back(static_cast<uint8_t>(text.size()));
  body.insert(body.end(), text.begin(), text.end());
  return descriptor(0x64, body);
}

Bytes data_broadcast_id_descriptor(uint16_t data_broadcast_id, std::span<const uint8_t> id_selector) {
  Bytes body;
  put_be(body, data_broadcast_id, 2);
  append(body, id_selector);
  return descriptor(0x66, body);
}

Bytes pat_section(uint16_t transport_stream_id, const std::vector<PatEntry>& entries, uint8_t version,
                  uint8_t section_number, uint8_t last_section_number) {
  Bytes body;
  for (const PatEntry& e : entries) {
    put_be(body, e.program_number, 2);
    put_be(body, 0xE000u | (e.pid & 0x1FFFu), 2);
  }
  SectionHeader h;
  h.table_id = 0x00;
  h.table_id_extension = transport_stream_id;
  h.version_number = version;
  h.section_number = section_number;
  h.last_section_number = last_section_number;
  return long_section(h, body);
}

Bytes cat_section(std::span<const uint8_t> descriptors, uint8_t version) {
  SectionHeader h;
  h.table_id = 0x01;
  h.table_id_extension = 0xFFFF;
  h.version_number = version;
  return long_section(h, descriptors);
}

Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, std::span<const uint8_t> program_descriptors,
                  const std::vector<PmtStream>& streams, uint8_t version) {
  Bytes body;
  put_be(body, 0xE000u | (pcr_pid & 0x1FFFu), 2);
  put_be(body, 0xF000u | (program_descriptors.size() & 0x0FFFu), 2);
  append(body, program_descriptors);
  for (const PmtStream& s : streams) {
    body.push_back(s.stream_type);
    put_be(body, 0xE000u | (s.pid & 0x1FFFu), 2);
    put_be(body, 0xF000u | (s.descriptors.size() & 0x0FFFu), 2);
    append(body, s.descriptors);
  }
  SectionHeader h;
  h.table_id = 0x02;
  h.table_id_extension = program_number;
  h.version_number = version;
  return long_section(h, body);
}

Bytes dsmcc_section(uint8_t table_id, uint16_t table_id_extension, std::span<const uint8_t> message,
                    uint8_t version, uint8_t section_number, uint8_t last_section_number,
                    bool syntax_indicator, uint32_t checksum) {
  SectionHeader h;
  h.table_id = table_id;
  h.section_syntax_indicator = syntax_indicator;
  // The private_indicator is the complement of the syntax indicator in DSM-CC sections.
  h.private_indicator = !syntax_indicator;
  h.table_id_extension = table_id_extension;
  h.version_number = version;
  h.section_number = section_number;
  h.last_section_number = last_section_number;
  Bytes out = long_section(h, message);
  if (!syntax_indicator) write_be32_at(out, out.size() - 4, checksum);
  return out;
}

}  // namespace testsupport
