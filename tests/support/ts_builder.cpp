#include "tests/support/ts_builder.h"

#include <algorithm>
#include <stdexcept>

#include "bytes/byte_reader.h"

namespace testsupport {

namespace {

constexpr size_t kTsPacket = 188;
constexpr size_t kTsHeader = 4;

size_t header_offset(size_t packet_size) {
  switch (packet_size) {
    case 188:
    case 204:
      return 0;
    case 192:
      return 4;
    default:
      throw std::invalid_argument("packet size must be 188, 192 or 204");
  }
}

}  // namespace

Packetizer::Packetizer(PacketizerOptions options) : options_(options) {
  header_offset(options_.packet_size);
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

Bytes Packetizer::take() {
  Bytes out;
  out.swap(stream_);
  return out;
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
  counter = static_cast<uint8_t>((counter + 1) & 0x0F);
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
  for (size_t i = 0; i < options_.null_packets_after_each; ++i) add_null_packet();
}

void Packetizer::add_null_packet() {
  const uint8_t saved = continuity_counter(kNullPid);
  emit(kNullPid, false, {}, false);
  counters_[kNullPid] = saved;  // null packets carry no continuity
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
  const std::span<const uint8_t> all(data);
  size_t pos = 0;
  while (pos < data.size()) {
    auto next = std::lower_bound(starts.begin(), starts.end(), pos);
    const bool start_here = next != starts.end() && *next - pos + 2 <= capacity;
    Bytes payload;
    if (start_here) {
      // The pointer_field names the first section that starts in this packet.
      payload.push_back(static_cast<uint8_t>(*next - pos));
      const size_t n = std::min(capacity - 1, data.size() - pos);
      payload.insert(payload.end(), all.begin() + static_cast<std::ptrdiff_t>(pos),
                     all.begin() + static_cast<std::ptrdiff_t>(pos + n));
      pos += n;
    } else {
      size_t n = std::min(capacity, data.size() - pos);
      // A section may not start in a packet without payload_unit_start: stuff its last byte instead.
      if (next != starts.end() && *next < pos + n) n = *next - pos;
      payload.insert(payload.end(), all.begin() + static_cast<std::ptrdiff_t>(pos),
                     all.begin() + static_cast<std::ptrdiff_t>(pos + n));
      pos += n;
    }
    add_packet(pid, start_here, payload);
  }
}

Bytes packetize(uint16_t pid, const std::vector<Bytes>& sections, const PacketizerOptions& options) {
  Packetizer p(options);
  p.add_sections(pid, sections);
  return p.take();
}

std::vector<Bytes> extract_sections(std::span<const uint8_t> ts_bytes, size_t packet_size, uint16_t pid) {
  const size_t offset = header_offset(packet_size);
  std::vector<Bytes> out;
  Bytes pending;

  auto drain = [&]() {
    while (!pending.empty()) {
      if (pending[0] == 0xFF) {  // stuffing up to the end of the packet
        pending.clear();
        return;
      }
      if (pending.size() < 3) return;
      const size_t total = 3 + ((static_cast<size_t>(pending[1] & 0x0F) << 8) | pending[2]);
      if (pending.size() < total) return;
      out.emplace_back(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
    }
  };

  bytes::ByteReader stream(ts_bytes);
  while (stream.remaining() >= packet_size) {
    bytes::ByteReader unit = stream.sub(packet_size);
    unit.skip(offset);
    bytes::ByteReader packet = unit.sub(kTsPacket);
    if (packet.u8() != 0x47) continue;
    const uint16_t flags_pid = packet.be16();
    const uint8_t control = packet.u8();
    if ((flags_pid & 0x8000) || (flags_pid & 0x1FFF) != pid) continue;
    const bool unit_start = (flags_pid & 0x4000) != 0;
    const unsigned adaptation_control = (control >> 4) & 3u;
    if (adaptation_control == 0 || adaptation_control == 2) continue;
    if (adaptation_control == 3) packet.skip(packet.u8());
    if (!packet.ok()) continue;
    std::span<const uint8_t> payload = packet.rest();

    if (!unit_start) {
      if (pending.empty()) continue;  // nothing started: wait for a unit start
      pending.insert(pending.end(), payload.begin(), payload.end());
      drain();
      continue;
    }
    bytes::ByteReader p(payload);
    const uint8_t pointer = p.u8();
    auto tail = p.bytes(pointer);
    if (!p.ok()) {
      pending.clear();
      continue;
    }
    if (!pending.empty()) {
      pending.insert(pending.end(), tail.begin(), tail.end());
      drain();
      pending.clear();  // whatever is still open cannot continue past the new start
    }
    auto rest = p.rest();
    pending.assign(rest.begin(), rest.end());
    drain();
  }
  return out;
}

}  // namespace testsupport
