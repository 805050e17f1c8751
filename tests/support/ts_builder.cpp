#include "tests/support/ts_builder.h"

#include <algorithm>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr size_t kTsPacket = 188;
constexpr size_t kTsHeader = 4;

}  // namespace

Packetizer::Packetizer(PacketizerOptions options) : options_(options) {
  if (options_.packet_size != 188 && options_.packet_size != 192 && options_.packet_size != 204) {
    throw std::invalid_argument("packet size must be 188, 192 or 204");
  }
  if (options_.adaptation_field_length && *options_.adaptation_field_length > 181) {
    throw std::invalid_argument("adaptation_field_length above 181 leaves no room for a section start");
  }
}

size_t Packetizer::payload_capacity() const {
  size_t capacity = kTsPacket - kTsHeader;
  if (options_.adaptation_field_length) capacity -= 1 + *options_.adaptation_field_length;
  return capacity;
}

uint8_t Packetizer::continuity_counter(uint16_t pid) const {
  auto it = counters_.find(pid);
  return it == counters_.end() ? 0 : it->second;
}

void Packetizer::emit(uint16_t pid, bool payload_unit_start, std::span<const uint8_t> payload,
                      bool with_adaptation) {
  const bool adaptation = with_adaptation && options_.adaptation_field_length.has_value();
  const size_t capacity = adaptation ? payload_capacity() : kTsPacket - kTsHeader;
  if (payload.size() > capacity) throw std::invalid_argument("payload larger than the packet has room for");

  if (options_.packet_size == 192) {
    const uint32_t index = static_cast<uint32_t>(packets_);
    for (int shift = 24; shift >= 0; shift -= 8) stream_.push_back(static_cast<uint8_t>(index >> shift));
  }
  uint8_t& counter = counters_[pid];
  stream_.push_back(0x47);
  stream_.push_back(static_cast<uint8_t>((payload_unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F)));
  stream_.push_back(static_cast<uint8_t>(pid));
  stream_.push_back(static_cast<uint8_t>((adaptation ? 0x30 : 0x10) | counter));
  // Null packets carry no continuity.
  if (pid != kNullPid) counter = static_cast<uint8_t>((counter + 1) & 0x0F);
  if (adaptation) {
    const uint8_t length = *options_.adaptation_field_length;
    stream_.push_back(length);
    if (length > 0) {
      stream_.push_back(0x00);  // no flags: the rest is stuffing
      stream_.insert(stream_.end(), length - 1u, 0xFF);
    }
  }
  stream_.insert(stream_.end(), payload.begin(), payload.end());
  stream_.insert(stream_.end(), capacity - payload.size(), 0xFF);
  if (options_.packet_size == 204) stream_.insert(stream_.end(), 16, 0x00);
  ++packets_;
}

void Packetizer::add_packet(uint16_t pid, bool payload_unit_start, std::span<const uint8_t> payload) {
  emit(pid, payload_unit_start, payload, true);
  for (size_t i = 0; i < options_.null_packets_after_each; ++i) emit(kNullPid, false, {}, false);
}

void Packetizer::add_section(uint16_t pid, std::span<const uint8_t> section) {
  add_sections(pid, {Bytes(section.begin(), section.end())});
}

void Packetizer::add_sections(uint16_t pid, const std::vector<Bytes>& sections) {
  if (!options_.pack_sections && sections.size() > 1) {
    for (const Bytes& s : sections) add_sections(pid, {s});
    return;
  }
  Bytes data;
  std::vector<size_t> starts;
  for (const Bytes& s : sections) {
    if (s.empty()) throw std::invalid_argument("an empty section cannot be packetized");
    starts.push_back(data.size());
    data.insert(data.end(), s.begin(), s.end());
  }
  const size_t capacity = payload_capacity();
  size_t pos = 0;
  while (pos < data.size()) {
    auto next = std::lower_bound(starts.begin(), starts.end(), pos);
    const bool start_here = next != starts.end() && *next - pos + 2 <= capacity;
    ByteWriter payload;
    size_t n = std::min(capacity, data.size() - pos);
    if (start_here) {
      payload.u8(*next - pos);  // the pointer_field names the first section that starts in this packet
      n = std::min(capacity - 1, n);
    } else if (next != starts.end() && *next < pos + n) {
      n = *next - pos;  // a section may not start in a packet without payload_unit_start: stuff instead
    }
    payload.bytes(std::span<const uint8_t>(data).subspan(pos, n));
    pos += n;
    add_packet(pid, start_here, payload.data());
  }
}

Bytes packetize(uint16_t pid, const std::vector<Bytes>& sections, const PacketizerOptions& options) {
  Packetizer p(options);
  p.add_sections(pid, sections);
  return p.take();
}

}  // namespace testsupport
