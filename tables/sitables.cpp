#include "tables/sitables.h"

#ifdef DSMCC_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <boost/crc.hpp>
#endif
#include <cstdarg>
#include <cstdio>

#include "bytes/byte_reader.h"
#include "text/printed.h"

namespace sitables {

namespace {

// The long header (table_id to last_section_number) and the CRC_32 behind the body.
constexpr size_t kLongHeader = 8;
constexpr size_t kCrcSize = 4;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = text::vprinted(format, args);
  va_end(args);
  throw error(text);
}

// A decoder that ran its reader past the descriptor body names the field that wanted the bytes.
void check_body(const bytes::ByteReader& r, const DescriptorBase& d, const char* name) {
  if (r.ok()) return;
  fail("%s (tag 0x%02x) runs past its descriptor_length %u: a field at byte %zu of its body needs %zu bytes",
       name, d.tag, d.length, r.error_offset(), r.error_wanted());
}

}  // namespace

uint32_t crc32_mpeg2(std::span<const uint8_t> bytes) {
#ifdef DSMCC_HAVE_ISAL
  // ISA-L's non-reflected CRC-32 inverts its seed on entry and its result on return; a seed of 0
  // starts the register at all ones, as the sections' CRC does, and inverting the result again undoes
  // the final XOR that the sections' CRC does not have.
  return ~crc32_ieee(0, bytes.data(), bytes.size());
#else
  boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0, false, false> crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
#endif
}

// ---- PsiTableBase ----

void PsiTableBase::Parse(std::span<const uint8_t> section, bool /*flag*/) {
  _reset();
  try {
    parse_section(section);
  } catch (...) {
    // A rejected section leaves nothing half-filled behind.
    _reset();
    throw;
  }
}

void PsiTableBase::parse_section(std::span<const uint8_t> section) {
  bytes::ByteReader head(section);
  const uint32_t id = head.u8();
  const uint16_t flags_and_length = head.be16();
  if (!head.ok()) fail("got %zu bytes, a section header needs 3", section.size());
  if (!is_valid_tablesid(id)) fail("table_id 0x%02x is not a %s", id, get_table_id_text().c_str());
  const uint32_t syntax = flags_and_length >> 15;
  const uint32_t length = flags_and_length & 0x0FFFu;
  const size_t total = 3 + static_cast<size_t>(length);
  // The section is its header and section_length bytes; what follows in the caller's buffer is not.
  const std::span<const uint8_t> whole = bytes::ByteReader(section).bytes(total);
  if (whole.empty()) fail("got %zu bytes, section_length needs %zu", section.size(), total);
  if (!is_valid_syntax_indicator(syntax)) {
    fail("section_syntax_indicator %u is not allowed in a %s", syntax, get_table_id_text().c_str());
  }

  table_id = id;
  section_syntax_indicator = syntax;
  private_indicator = (flags_and_length >> 14) & 1u;
  section_length = length;
  bytes_.assign(whole.begin(), whole.end());

  bytes::ByteReader whole_reader(bytes_);
  whole_reader.skip(3);
  // Everything behind the three header bytes is section_length's scope: nothing read below can leave it.
  bytes::ByteReader r = whole_reader.sub(length);
  std::span<const uint8_t> body;
  if (syntax == 1 || always_long_form()) {
    if (total < kLongHeader + kCrcSize) {
      fail("section_length %u is shorter than the %zu bytes of the long header and CRC_32", length,
           kLongHeader + kCrcSize - 3);
    }
    table_id_extension = r.be16();
    const uint8_t version_byte = r.u8();
    version_number = (version_byte >> 1) & 0x1Fu;
    current_next_indicator = version_byte & 1u;
    section_number = r.u8();
    last_section_number = r.u8();
    body_offset_ = 3 + r.position();
    body = r.bytes(r.remaining() - kCrcSize);
    crc_32 = r.be32();
    if (syntax == 1) {
      const uint32_t computed = crc32_mpeg2(bytes::ByteReader(bytes_).bytes(total - kCrcSize));
      if (computed != crc_32) fail("CRC-32 mismatch (computed 0x%08x, carried 0x%08x)", computed, crc_32);
    }
  } else {
    body_offset_ = 3 + r.position();
    body = r.take_rest();
  }
  if (!r.ok()) fail("section header runs past section_length %u", length);
  if (!is_valid_reserved_header())
    fail("reserved bits of the %s header are not set", get_table_id_text().c_str());
  _parse(body);
}

std::string PsiTableBase::get_table_id_text() const {
  return "section";
}

void PsiTableBase::_reset() {
  table_id = 0;
  section_syntax_indicator = 0;
  private_indicator = 0;
  section_length = 0;
  table_id_extension = 0;
  version_number = 0;
  current_next_indicator = 0;
  section_number = 0;
  last_section_number = 0;
  crc_32 = 0;
  bytes_.clear();
  body_offset_ = 0;
}

void PsiTableBase::_parse(std::span<const uint8_t> /*body*/) {}

bool PsiTableBase::is_valid_syntax_indicator(uint32_t indicator) const {
  return indicator == 1;
}

// ---- DsmCC ----

std::span<const uint8_t> DsmCC::get_data() const {
  if (bytes_.size() <= kLongHeader + kCrcSize) return {};
  bytes::ByteReader r(bytes_);
  r.skip(kLongHeader);
  return r.bytes(r.remaining() - kCrcSize);
}

std::string DsmCC::get_table_id_text() const {
  switch (table_id) {
    case 0x3B:
      return "DSM-CC U-N message section";
    case 0x3C:
      return "DSM-CC download data section";
    default:
      return "DSM-CC section";
  }
}

// ---- Pat ----

void Pat::_reset() {
  PsiTableBase::_reset();
  programs_.clear();
}

void Pat::_parse(std::span<const uint8_t> body) {
  bytes::ByteReader r(body);
  while (!r.at_end()) {
    if (r.remaining() < 4) {
      fail("PAT entry at offset %zu needs 4 bytes, %zu left", body_offset_ + r.position(), r.remaining());
    }
    program_info entry;
    entry.program_number = r.be16();
    entry.PID = r.be16() & 0x1FFFu;
    programs_.push_back(entry);
  }
}

// ---- Descriptors ----

std::string DescriptorBase::get_tag_text() const {
  return "descriptor";
}

void DescriptorBase::_parse(std::span<const uint8_t> descriptor) {
  bytes::ByteReader r(descriptor);
  tag = r.u8();
  length = r.u8();
  auto body = r.bytes(length);
  if (!r.ok()) {
    fail("descriptor 0x%02x: descriptor_length %u needs %u bytes, %zu given", tag, length, length + 2,
         descriptor.size());
  }
  data.assign(body.begin(), body.end());
}

void DescriptorDataBroadcast::_parse(std::span<const uint8_t> descriptor) {
  DescriptorBase::_parse(descriptor);
  bytes::ByteReader r(data);
  data_broadcast_id = r.be16();
  component_tag = r.u8();
  const uint8_t selector_length = r.u8();
  auto selector_bytes = r.bytes(selector_length);
  auto language = r.bytes(3);
  const uint8_t text_length = r.u8();
  auto text_bytes = r.bytes(text_length);
  check_body(r, *this, "data_broadcast_descriptor");
  selector.assign(selector_bytes.begin(), selector_bytes.end());
  ISO_639_language_code.assign(language.begin(), language.end());
  text.assign(text_bytes.begin(), text_bytes.end());
}

void DescriptorDataBroadcastId::_parse(std::span<const uint8_t> descriptor) {
  DescriptorBase::_parse(descriptor);
  bytes::ByteReader r(data);
  data_broadcast_id = r.be16();
  check_body(r, *this, "data_broadcast_id_descriptor");
  const auto selector_bytes = r.take_rest();
  id_selector.assign(selector_bytes.begin(), selector_bytes.end());
}

void DescriptorCarouselId::_parse(std::span<const uint8_t> descriptor) {
  DescriptorBase::_parse(descriptor);
  bytes::ByteReader r(data);
  carousel_id = r.be32();
  FormatID = r.u8();
  check_body(r, *this, "carousel_identifier_descriptor");
  const auto private_bytes = r.take_rest();
  private_data.assign(private_bytes.begin(), private_bytes.end());
}

DescriptorList parse_descriptor_loop(std::span<const uint8_t> loop, size_t base_offset) {
  DescriptorList list;
  bytes::ByteReader r(loop);
  while (!r.at_end()) {
    const size_t at = r.position();
    if (!r.can_read(2)) {
      fail("descriptor at offset %zu needs 2 header bytes, %zu left", base_offset + at, r.remaining());
    }
    const uint8_t tag = r.peek_u8(0);
    const uint8_t length = r.peek_u8(1);
    // Each decoder below gets the descriptor whole: tag, descriptor_length and that many bytes.
    const auto whole = r.bytes(2 + static_cast<size_t>(length));
    if (!r.ok()) {
      fail("descriptor 0x%02x at offset %zu: descriptor_length %u runs past its loop (%zu bytes left)", tag,
           base_offset + at, length, r.remaining() - 2);
    }
    try {
      DescriptorBase raw;
      raw._parse(whole);
      list.all.push_back(raw);
      switch (tag) {
        case 0x64: {
          DescriptorDataBroadcast d;
          d._parse(whole);
          list.data_broadcast.push_back(d);
          break;
        }
        case 0x66: {
          DescriptorDataBroadcastId d;
          d._parse(whole);
          list.data_broadcast_id.push_back(d);
          break;
        }
        case 0x13: {
          DescriptorCarouselId d;
          d._parse(whole);
          list.carousel_id.push_back(d);
          break;
        }
        default:
          break;
      }
    } catch (const error& e) {
      fail("descriptor at offset %zu: %s", base_offset + at, e.what());
    }
  }
  return list;
}

// ---- Cat ----

void Cat::_reset() {
  PsiTableBase::_reset();
  descriptors = DescriptorList{};
}

void Cat::_parse(std::span<const uint8_t> body) {
  descriptors = parse_descriptor_loop(body, body_offset_);
}

// ---- PmtDVB ----

void PmtDVB::_reset() {
  PsiTableBase::_reset();
  PCR_PID = 0;
  program_descriptors = DescriptorList{};
  streams.clear();
}

void PmtDVB::_parse(std::span<const uint8_t> body) {
  bytes::ByteReader r(body);
  if (r.remaining() < 4) {
    fail("PCR_PID and program_info_length at offset %zu need 4 bytes, %zu left", body_offset_, r.remaining());
  }
  PCR_PID = r.be16() & 0x1FFFu;
  const uint32_t program_info_length = r.be16() & 0x0FFFu;
  const size_t loop_at = body_offset_ + r.position();
  const auto program_loop = r.bytes(program_info_length);
  if (!r.ok()) {
    fail("program_info_length %u at offset %zu runs past the section (%zu bytes left)", program_info_length,
         body_offset_ + 2, r.remaining());
  }
  program_descriptors = parse_descriptor_loop(program_loop, loop_at);

  while (!r.at_end()) {
    const size_t at = body_offset_ + r.position();
    if (r.remaining() < 5)
      fail("elementary stream entry at offset %zu needs 5 bytes, %zu left", at, r.remaining());
    ElementaryStream es;
    es.stream_type = r.u8();
    es.elementary_PID = r.be16() & 0x1FFFu;
    const uint32_t es_info_length = r.be16() & 0x0FFFu;
    const size_t es_loop_at = body_offset_ + r.position();
    const auto es_loop = r.bytes(es_info_length);
    if (!r.ok()) {
      fail("ES_info_length %u of elementary_PID 0x%04x at offset %zu runs past the section (%zu bytes left)",
           es_info_length, es.elementary_PID, at + 3, r.remaining());
    }
    es.descriptors = parse_descriptor_loop(es_loop, es_loop_at);
    streams.push_back(std::move(es));
  }
}

}  // namespace sitables
