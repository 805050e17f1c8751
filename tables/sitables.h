// The section table library: one raw PSI/SI or DSM-CC section (bytes from table_id on) into a table
// object. Parse rejects a section it cannot trust by throwing `error` with a text that says what and
// where; a parsed object holds its own copy of the section bytes.
//
// Only the first 3 + section_length bytes are the section; whatever follows in the caller's buffer is
// ignored. The CRC_32 is verified whenever section_syntax_indicator is 1. PMT and DSM-CC sections keep
// the 8-byte long header and the trailing 4 bytes whatever the indicator says; with the indicator 0
// those 4 bytes are a checksum that is not verified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sitables {

class error : public std::runtime_error {
 public:
  explicit error(const std::string& text) : std::runtime_error(text) {}
  const char* text() const noexcept { return what(); }
};

// MPEG-2 CRC-32 (polynomial 0x04C11DB7, initial 0xFFFFFFFF, no reflection, no final xor). A whole
// section with its CRC_32 gives 0.
uint32_t crc32_mpeg2(std::span<const uint8_t> bytes);

class PsiTableBase {
 public:
  PsiTableBase() = default;
  PsiTableBase(const PsiTableBase&) = default;
  PsiTableBase& operator=(const PsiTableBase&) = default;
  PsiTableBase(PsiTableBase&&) = default;
  PsiTableBase& operator=(PsiTableBase&&) = default;
  virtual ~PsiTableBase() = default;

  // Parses one whole section; throws `error`, after which the object is empty as if just built.
  // The flag is accepted and has no effect.
  virtual void Parse(std::span<const uint8_t> section, bool flag = false);
  virtual std::string get_table_id_text() const;

  uint32_t get_table_id() const { return table_id; }

  uint32_t table_id = 0;
  uint32_t section_syntax_indicator = 0;
  uint32_t private_indicator = 0;  // kept, never checked
  uint32_t section_length = 0;
  uint32_t table_id_extension = 0;
  uint32_t version_number = 0;
  uint32_t current_next_indicator = 0;
  uint32_t section_number = 0;
  uint32_t last_section_number = 0;
  uint32_t crc_32 = 0;

  // The whole section as parsed (header to CRC), owned by the object.
  const std::vector<uint8_t>& section_bytes() const { return bytes_; }

 protected:
  virtual void _reset();
  // The table body: the bytes behind the 8-byte long header up to the CRC_32 (or behind the 3-byte
  // short header up to the section's end when section_syntax_indicator is 0).
  virtual void _parse(std::span<const uint8_t> body);
  virtual bool is_valid_tablesid(uint32_t id) const = 0;
  virtual bool is_valid_syntax_indicator(uint32_t indicator) const;
  virtual bool is_valid_reserved_header() const { return true; }
  // Tables whose syntax is always the long form, whatever section_syntax_indicator says.
  virtual bool always_long_form() const { return false; }

  std::vector<uint8_t> bytes_;
  size_t body_offset_ = 0;  // where the body handed to _parse starts in the section, for error texts

 private:
  void parse_section(std::span<const uint8_t> section);
};

// Tables 0x3B (DSI, DII) and 0x3C (DDB).
class DsmCC : public PsiTableBase {
 public:
  uint32_t get_table_extension() const { return table_id_extension; }
  // The message bytes: from the byte behind the 8-byte section header up to the byte before the
  // CRC_32 (or checksum). Empty when there are none.
  std::span<const uint8_t> get_data() const;
  std::string get_table_id_text() const override;

 protected:
  bool is_valid_tablesid(uint32_t id) const override { return id == 0x3B || id == 0x3C; }
  bool is_valid_syntax_indicator(uint32_t) const override { return true; }
  bool always_long_form() const override { return true; }
};

struct program_info {
  uint32_t program_number = 0;
  uint32_t PID = 0;
};

class Pat : public PsiTableBase {
 public:
  uint32_t transport_stream_id() const { return table_id_extension; }
  size_t get_program_info_size() const { return programs_.size(); }
  const program_info& get_program_info(size_t index) const { return programs_.at(index); }
  std::string get_table_id_text() const override { return "PAT"; }

 protected:
  void _reset() override;
  void _parse(std::span<const uint8_t> body) override;
  bool is_valid_tablesid(uint32_t id) const override { return id == 0x00; }

 private:
  std::vector<program_info> programs_;
};

// One descriptor, kept whole.
class DescriptorBase {
 public:
  virtual ~DescriptorBase() = default;
  virtual std::string get_tag_text() const;
  // Parses one descriptor (tag, length, body); throws `error` when it runs past its bytes.
  virtual void _parse(std::span<const uint8_t> descriptor);

  uint32_t tag = 0;
  uint32_t length = 0;
  std::vector<uint8_t> data;  // the descriptor's body, `length` bytes
};

// data_broadcast_descriptor (0x64).
class DescriptorDataBroadcast : public DescriptorBase {
 public:
  std::string get_tag_text() const override { return "data_broadcast_descriptor"; }
  void _parse(std::span<const uint8_t> descriptor) override;

  uint32_t data_broadcast_id = 0;
  uint32_t component_tag = 0;
  std::vector<uint8_t> selector;
  std::string ISO_639_language_code;
  std::string text;
};

// data_broadcast_id_descriptor (0x66).
class DescriptorDataBroadcastId : public DescriptorBase {
 public:
  std::string get_tag_text() const override { return "data_broadcast_id_descriptor"; }
  void _parse(std::span<const uint8_t> descriptor) override;

  uint32_t data_broadcast_id = 0;
  std::vector<uint8_t> id_selector;
};

// carousel_identifier_descriptor (0x13).
class DescriptorCarouselId : public DescriptorBase {
 public:
  std::string get_tag_text() const override { return "carousel_identifier_descriptor"; }
  void _parse(std::span<const uint8_t> descriptor) override;

  uint32_t carousel_id = 0;
  uint32_t FormatID = 0;
  std::vector<uint8_t> private_data;
};

// A descriptor loop in section order: every descriptor raw, and the three kinds the analyzer reads
// also decoded, each list in section order.
struct DescriptorList {
  std::vector<DescriptorBase> all;
  std::vector<DescriptorDataBroadcast> data_broadcast;
  std::vector<DescriptorDataBroadcastId> data_broadcast_id;
  std::vector<DescriptorCarouselId> carousel_id;
};

// Parses a whole descriptor loop; throws `error` naming the descriptor that runs past the loop or past
// its own length. base_offset is where the loop starts in its section, so that texts give section offsets.
DescriptorList parse_descriptor_loop(std::span<const uint8_t> loop, size_t base_offset = 0);

class Cat : public PsiTableBase {
 public:
  std::string get_table_id_text() const override { return "CAT"; }
  DescriptorList descriptors;

 protected:
  void _reset() override;
  void _parse(std::span<const uint8_t> body) override;
  bool is_valid_tablesid(uint32_t id) const override { return id == 0x01; }
};

struct ElementaryStream {
  uint32_t stream_type = 0;
  uint32_t elementary_PID = 0;
  DescriptorList descriptors;
};

class PmtDVB : public PsiTableBase {
 public:
  explicit PmtDVB(int flags = -1) : flags_(flags) {}
  std::string get_table_id_text() const override { return "PMT"; }
  int flags() const { return flags_; }

  uint32_t program_number() const { return table_id_extension; }
  uint32_t PCR_PID = 0;
  DescriptorList program_descriptors;
  std::vector<ElementaryStream> streams;  // in section order

 protected:
  void _reset() override;
  void _parse(std::span<const uint8_t> body) override;
  bool is_valid_tablesid(uint32_t id) const override { return id == 0x02; }
  bool is_valid_syntax_indicator(uint32_t) const override { return true; }
  bool always_long_form() const override { return true; }

 private:
  int flags_;
};

}  // namespace sitables
