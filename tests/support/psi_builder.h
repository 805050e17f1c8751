// Builds PSI and DSM-CC sections for test fixtures: a header from its fields, a body, and a correct
// CRC_32. Damaging a section on purpose is left to the test (edit the bytes, then fix_crc or not).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// Appends fields to a byte vector; every multi-byte write names its byte order. Values are cut to the
// field's width, so that a length may be passed as it is counted.
class ByteWriter {
 public:
  ByteWriter& u8(uint64_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  ByteWriter& be16(uint64_t v) { return u8(v >> 8).u8(v); }
  ByteWriter& be32(uint64_t v) { return be16(v >> 16).be16(v); }
  ByteWriter& u16(uint64_t v, bool big_endian) { return big_endian ? be16(v) : u8(v).u8(v >> 8); }
  ByteWriter& u32(uint64_t v, bool big_endian) {
    return big_endian ? be32(v) : u16(v, false).u16(v >> 16, false);
  }
  ByteWriter& bytes(std::span<const uint8_t> b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& text(std::string_view s) {  // the characters only, no terminator
    out_.insert(out_.end(), s.begin(), s.end());
    return *this;
  }

  size_t size() const { return out_.size(); }
  const Bytes& data() const { return out_; }
  Bytes take() { return std::move(out_); }

 private:
  Bytes out_;
};

// The fields of the 8-byte long section header; section_length is computed by the builder. An unset
// table_id or table_id_extension is 0, or the message's usual value in the DSM-CC *_section helpers.
struct SectionSpec {
  std::optional<uint8_t> table_id = {};  // the initialisers let a test name only the fields it sets
  std::optional<uint16_t> table_id_extension = {};
  bool section_syntax_indicator = true;
  bool private_indicator = false;
  uint8_t version_number = 0;  // 5 bits
  bool current_next_indicator = true;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
  bool bad_crc = false;  // writes a CRC_32 that does not match
};

// ---- Sections ----

// CRC-32/MPEG-2, computed bit by bit.
uint32_t crc32_bitwise(std::span<const uint8_t> bytes);

// A long-form section: header, body and CRC_32 (computed whatever the syntax indicator says).
Bytes long_section(const SectionSpec& header, std::span<const uint8_t> body);
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
Bytes cat_section(std::span<const uint8_t> descriptors);

struct PmtStream {
  uint8_t stream_type = 0;
  uint16_t pid = 0;
  Bytes descriptors;  // the ES_info loop, concatenated descriptors
};
// A PMT section (table 0x02).
Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, std::span<const uint8_t> program_descriptors,
                  const std::vector<PmtStream>& streams, uint8_t version = 0);

}  // namespace testsupport
