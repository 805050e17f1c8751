#include "host/psi_collector.h"

#include <algorithm>
#include <boost/crc.hpp>

#include "bytes/byte_reader.h"

namespace host {

namespace {

// table_id to CRC_32: the long header (8 bytes) and the CRC itself.
constexpr size_t MIN_LONG_SECTION = 12;

struct LongHeader {
  uint8_t table_id = 0;
  bool long_syntax = false;
  uint16_t extension = 0;
  uint8_t version = 0;
  bool current = false;
  uint8_t section_number = 0;
  uint8_t last_section_number = 0;
};

bool read_long_header(std::span<const uint8_t> section, LongHeader& h) {
  bytes::ByteReader r(section);
  h.table_id = r.u8();
  h.long_syntax = (r.be16() & 0x8000) != 0;
  h.extension = r.be16();
  const uint8_t version_byte = r.u8();
  h.version = (version_byte >> 1) & 0x1F;
  h.current = (version_byte & 0x01) != 0;
  h.section_number = r.u8();
  h.last_section_number = r.u8();
  return r.ok();
}

}  // namespace

uint32_t section_crc32(std::span<const uint8_t> bytes) noexcept {
  boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0, false, false> crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
}

PsiCollector::PsiCollector(std::span<const SectionRequest> requests) {
  pending_.reserve(requests.size());
  for (const SectionRequest& request : requests) {
    Pending p;
    p.pid = request.pid();
    p.table_id = request.table_id();
    p.by_extension = request.select_by_extension();
    p.extension = request.table_id_extension();
    p.extension_known = p.by_extension;
    pending_.push_back(std::move(p));
  }
  open_ = pending_.size();
}

std::vector<uint16_t> PsiCollector::pids() const {
  std::vector<uint16_t> pids;
  for (const Pending& p : pending_) {
    if (p.pid < 0x2000) pids.push_back(static_cast<uint16_t>(p.pid));
  }
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  return pids;
}

bool PsiCollector::complete() const noexcept { return open_ == 0; }

bool PsiCollector::offer(uint16_t pid, std::span<const uint8_t> section) {
  LongHeader h;
  bool checked = false;
  bool sound = false;
  bool taken = false;
  for (Pending& p : pending_) {
    if (p.done || p.pid != pid || section.empty() || section[0] != p.table_id) continue;
    if (!checked) {
      checked = true;
      sound = section.size() >= MIN_LONG_SECTION && read_long_header(section, h) && h.long_syntax;
      if (sound && section_crc32(section) != 0) {
        ++crc_failures_;
        sound = false;
      }
      sound = sound && h.current && h.section_number <= h.last_section_number;
    }
    if (!sound) return false;
    if (p.extension_known && h.extension != p.extension) continue;
    if (!p.extension_known) {
      p.extension = h.extension;
      p.extension_known = true;
    }
    if (p.version != h.version || p.last_section_number != h.last_section_number) {
      p.version = h.version;
      p.last_section_number = h.last_section_number;
      p.sections.assign(size_t{h.last_section_number} + 1, {});
      p.received = 0;
    }
    auto& slot = p.sections[h.section_number];
    if (slot.empty()) {
      slot.assign(section.begin(), section.end());
      ++p.received;
      taken = true;
      took_any_ = true;
      if (p.received == p.sections.size()) {
        p.done = true;
        --open_;
      }
    }
  }
  return taken;
}

void PsiCollector::clear_replies(uint32_t count, SectionReply* replies) {
  for (uint32_t i = 0; i < count; ++i) replies[i] = SectionReply{0, nullptr};
}

bool PsiCollector::fill_replies(SectionReply* replies) const {
  const auto count = static_cast<uint32_t>(pending_.size());
  clear_replies(count, replies);
  auto release_all = [&](uint32_t upto) {
    for (uint32_t i = 0; i < upto; ++i) {
      for (int32_t k = 0; k < replies[i].count; ++k) task_free(replies[i].sections[k]);
      if (replies[i].count > 0) task_free(replies[i].sections);
    }
    clear_replies(count, replies);
    return false;
  };
  for (uint32_t i = 0; i < count; ++i) {
    const Pending& p = pending_[i];
    if (p.received == 0) continue;
    auto* array = static_cast<uint8_t**>(task_alloc(p.received * sizeof(uint8_t*)));
    if (!array) return release_all(i);
    int32_t filled = 0;
    for (const auto& section : p.sections) {
      if (section.empty()) continue;
      auto* copy = static_cast<uint8_t*>(task_alloc(section.size()));
      if (!copy) {
        for (int32_t k = 0; k < filled; ++k) task_free(array[k]);
        task_free(array);
        return release_all(i);
      }
      std::copy(section.begin(), section.end(), copy);
      array[filled++] = copy;
    }
    replies[i] = SectionReply{filled, array};
  }
  return true;
}

}  // namespace host
