// Builds PSI and DSM-CC sections for test fixtures: a header from its fields, a body, and a correct
// CRC_32. Damaging a section on purpose is left to the test (edit the bytes, then fix_crc or not).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// The fields of the 8-byte long section header. section_length is computed by the builder.
struct SectionHeader {
  uint8_t table_id = 0;
  bool section_syntax_indicator = true;
  bool private_indicator = false;
  uint16_t table_id_extension = 0;
  uint8_t version_number = 0;  // 5 bits
  bool current_next_indicator = true;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
};

// ---- Sections ----

// CRC-32/MPEG-2, computed bit by bit.
uint32_t crc32_bitwise(std::span<const uint8_t> bytes);

// A long-form section: header, body and CRC_32 (computed whatever the syntax indicator says).
Bytes long_section(const SectionHeader& header, std::span<const uint8_t> body);
// A short-form section: table_id, flags (syntax indicator 0) and section_length, then the body.
Bytes short_section(uint8_t table_id, bool private_indicator, std::span<const uint8_t> body);
// Recomputes the CRC_32 in the last 4 bytes of a long-form section after the test edited it.
void fix_crc(Bytes& section);
// Overwrites the 12-bit section_length field (the CRC is left as it is).
void set_section_length(Bytes& section, uint16_t section_length);
// Concatenates byte strings (descriptor loops, bodies).
Bytes concat(std::initializer_list<Bytes> parts);

// ---- Descriptors (tag, length, body) ----

Bytes descriptor(uint8_t tag, std::span<const uint8_t> body);
// carousel_identifier_descriptor (0x13): carousel_id, FormatID, private data.
Bytes carousel_id_descriptor(uint32_t carousel_id, uint8_t format_id = 0,
                             std::span<const uint8_t> private_data = {});
// stream_identifier_descriptor (0x52): component_tag.
Bytes stream_identifier_descriptor(uint8_t component_tag);
// data_broadcast_descriptor (0x64): id, component_tag, selector, 3-letter language, text.
Bytes data_broadcast_descriptor(uint16_t data_broadcast_id, uint8_t component_tag,
                                std::span<const uint8_t> selector = {}, const std::string& language = "eng",
                                const std::string& text = "");
// data_broadcast_id_descriptor (0x66): id, then id_selector bytes.
Bytes data_broadcast_id_descriptor(uint16_t data_broadcast_id, std::span<const uint8_t> id_selector = {});

// ---- Tables ----

struct PatEntry {
  uint16_t program_number = 0;  // 0 names the network PID
  uint16_t pid = 0;
};
// A PAT section (table 0x00) with the entries in the given order.
Bytes pat_section(uint16_t transport_stream_id, const std::vector<PatEntry>& entries, uint8_t version = 0,
                  uint8_t section_number = 0, uint8_t last_section_number = 0);

// A CAT section (table 0x01) over a descriptor loop (concatenated descriptors).
Bytes cat_section(std::span<const uint8_t> descriptors, uint8_t version = 0);

struct PmtStream {
  uint8_t stream_type = 0;
  uint16_t pid = 0;
  Bytes descriptors;  // the ES_info loop, concatenated descriptors
};
// A PMT section (table 0x02).
Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, std::span<const uint8_t> program_descriptors,
                  const std::vector<PmtStream>& streams, uint8_t version = 0);

// A DSM-CC section (0x3B or 0x3C) around message bytes. With syntax_indicator true the trailer is a
// CRC_32; with false it is the given checksum (which nobody verifies).
Bytes dsmcc_section(uint8_t table_id, uint16_t table_id_extension, std::span<const uint8_t> message,
                    uint8_t version = 0, uint8_t section_number = 0, uint8_t last_section_number = 0,
                    bool syntax_indicator = true, uint32_t checksum = 0);

}  // namespace testsupport
