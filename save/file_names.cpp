#include "save/file_names.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>
#include <algorithm>

#include "bytes/byte_reader.h"

namespace save {

namespace {

// Length of the well-formed UTF-8 sequence that starts the reader's rest, or 0 when its first byte
// does not start one. Ranges follow the table of well-formed byte sequences of the Unicode standard,
// which rules out overlong forms, surrogates and code points above U+10FFFF.
size_t utf8_sequence_length(bytes::ByteReader& reader) {
  const size_t remaining = reader.remaining();
  const uint8_t lead = reader.peek_u8();
  size_t length = 0;
  uint8_t second_low = 0x80, second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  if (remaining < length) return 0;
  const uint8_t second = reader.peek_u8(1);
  if (second < second_low || second > second_high) return 0;
  for (size_t i = 2; i < length; ++i) {
    const uint8_t next = reader.peek_u8(i);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return length;
}

void append_escape(std::string& out, uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%%%02X", byte);
  out += text;
}

}  // namespace

namespace {

// Cuts `units` (whole characters, escaped or not) to at most `limit` bytes, keeping a short final
// extension.
std::string cut_units(const std::vector<std::string>& units, size_t limit) {
  size_t extension = units.size();
  for (size_t i = units.size(); i-- > 1;) {
    if (units[i] == ".") {
      extension = i;
      break;
    }
  }
  size_t extension_size = 0;
  for (size_t i = extension; i < units.size(); ++i) extension_size += units[i].size();
  if (extension_size > kKeptExtension) extension = units.size(), extension_size = 0;
  std::string out;
  for (size_t i = 0; i < extension && out.size() + units[i].size() + extension_size <= limit; ++i)
    out += units[i];
  for (size_t i = extension; i < units.size(); ++i) out += units[i];
  return out;
}

// The characters of an escaped name: an escape, a UTF-8 sequence or one byte each.
std::vector<std::string> units_of(const std::string& name) {
  std::vector<std::string> units;
  for (size_t i = 0; i < name.size();) {
    size_t n = 1;
    if (name[i] == '%' && i + 3 <= name.size() && name[i + 1] != '~') {
      n = 3;
    } else {
      while (i + n < name.size() && (static_cast<uint8_t>(name[i + n]) & 0xC0) == 0x80) ++n;
    }
    n = std::min(n, name.size() - i);
    units.push_back(name.substr(i, n));
    i += n;
  }
  return units;
}

}  // namespace

std::string escape_binding_id(std::string_view id) {
  if (id.empty()) return "%00";
  if (id == ".") return "%2E";
  if (id == "..") return "%2E%2E";

  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(id.data()), id.size());
  bytes::ByteReader reader(bytes);
  std::vector<std::string> units;  // one character each, escaped or not: a cut falls between two of them
  size_t total = 0;
  while (!reader.at_end()) {
    std::string unit;
    const uint8_t lead = reader.peek_u8();
    if (lead < 0x80) {
      reader.skip(1);
      if (lead < 0x20 || lead == 0x7F || lead == '%' || lead == '/') {
        append_escape(unit, lead);
      } else {
        unit += static_cast<char>(lead);
      }
    } else if (size_t length = utf8_sequence_length(reader); length != 0) {
      std::span<const uint8_t> sequence = reader.bytes(length);
      // U+0080-U+009F, the C1 controls, are the only two-byte sequences that start with C2 8x/9x.
      const bool c1_control = length == 2 && sequence[0] == 0xC2 && sequence[1] < 0xA0;
      for (uint8_t byte : sequence) {
        if (c1_control) {
          append_escape(unit, byte);
        } else {
          unit += static_cast<char>(byte);
        }
      }
    } else {
      reader.skip(1);
      append_escape(unit, lead);
    }
    total += unit.size();
    units.push_back(std::move(unit));
  }
  if (total <= kMaxEscapedName) {
    std::string out;
    for (const std::string& unit : units) out += unit;
    return out;
  }
  return cut_units(units, kMaxEscapedName);
}

std::string listed_binding_id(std::string_view id) {
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(id.data()), id.size());
  bytes::ByteReader reader(bytes);
  std::string out;
  auto hex = [&out](uint8_t byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
  };
  while (!reader.at_end()) {
    const uint8_t lead = reader.peek_u8();
    if (lead < 0x80) {
      reader.skip(1);
      if (lead < 0x20 || lead == 0x7F || lead == '\\') {
        hex(lead);
      } else {
        out += static_cast<char>(lead);
      }
    } else if (size_t length = utf8_sequence_length(reader); length != 0) {
      for (uint8_t byte : reader.bytes(length)) out += static_cast<char>(byte);
    } else {
      reader.skip(1);
      hex(lead);
    }
  }
  return out;
}

std::string NameClaims::claim(const std::string& name, bool* suffixed) {
  if (names_.insert(name).second) {
    if (suffixed) *suffixed = false;
    return name;
  }
  const std::vector<std::string> units = units_of(name);
  for (unsigned n = 1;; ++n) {
    const std::string suffix = "%~" + std::to_string(n);
    std::string candidate = name.size() + suffix.size() <= kMaxEscapedName
                                ? name + suffix
                                : cut_units(units, kMaxEscapedName - suffix.size()) + suffix;
    if (names_.insert(candidate).second) {
      if (suffixed) *suffixed = true;
      return candidate;
    }
  }
}

}  // namespace save
