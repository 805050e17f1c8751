// Builds transport streams from sections for test fixtures.
//
// A Packetizer appends packets to one growing stream. Each add_sections call emits the sections of one
// PID and pads the last packet of the call with 0xFF, so streams of several PIDs interleave call by call;
// continuity counters run on per PID across calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "tests/support/psi_builder.h"

namespace testsupport {

constexpr uint16_t kNullPid = 0x1FFF;

struct PacketizerOptions {
  // 188 plain; 192 with a 4-byte prefix before each packet (its index, big-endian); 204 with 16
  // trailing bytes (zero) after each packet.
  size_t packet_size = 188;
  // true: a section may start right behind the previous one in the same packet (pointer_field points
  // at the first start); false: every section starts in a packet of its own, the rest stuffed with 0xFF.
  bool pack_sections = true;
  // When set, every packet carries an adaptation field whose adaptation_field_length is this value
  // (0 = the length byte alone; otherwise a flags byte 0x00 and 0xFF stuffing). At most 181, which
  // leaves the 2 payload bytes a section start needs.
  std::optional<uint8_t> adaptation_field_length;
  // Null packets (PID 0x1FFF) emitted after each data packet.
  size_t null_packets_after_each = 0;
};

class Packetizer {
 public:
  explicit Packetizer(PacketizerOptions options = {});

  // Emits the sections on pid, in order, as the options say.
  void add_sections(uint16_t pid, const std::vector<Bytes>& sections);
  // Emits one section on pid.
  void add_section(uint16_t pid, std::span<const uint8_t> section);
  // Emits one packet with the given payload (0xFF-padded) and flags, e.g. to inject odd cases.
  void add_packet(uint16_t pid, bool payload_unit_start, std::span<const uint8_t> payload);

  // The continuity_counter the next packet on pid will carry; setting it makes a discontinuity.
  uint8_t continuity_counter(uint16_t pid) const;

  // The stream built so far, and how many packets it holds.
  const Bytes& stream() const { return stream_; }
  size_t packet_count() const { return packets_; }
  // Hands the stream over and starts an empty one (counters keep running).
  Bytes take() { return std::exchange(stream_, {}); }

 private:
  void emit(uint16_t pid, bool payload_unit_start, std::span<const uint8_t> payload, bool with_adaptation);
  size_t payload_capacity() const;

  PacketizerOptions options_;
  std::map<uint16_t, uint8_t> counters_;
  Bytes stream_;
  size_t packets_ = 0;
};

// Cuts a list of sections into a stream in one go (a fresh Packetizer).
Bytes packetize(uint16_t pid, const std::vector<Bytes>& sections, const PacketizerOptions& options = {});

}  // namespace testsupport
