// Finds the 188-byte transport packets in a byte stream.
//
// Captures come with 188-byte packets, with a 4-byte timestamp before each (192) or with 16 bytes of
// parity after each (204); the packet period is found from the data. A packet is accepted only when
// the sync byte one period further on is there too (or the data ends first), so a packet torn short by
// a cut in the capture is recognised by the sync byte of its successor inside it, and dropped. After
// garbage the framer looks for a position with sync bytes at several consecutive periods before it
// trusts it again: four further sync bytes at one period before the first packet of a stream, two
// once the stream's period is known.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "host/statistics.h"

namespace host {

inline constexpr size_t TS_PACKET_SIZE = 188;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
// The largest period, and how many further sync bytes a resynchronisation wants to see.
inline constexpr size_t MAX_PACKET_PERIOD = 204;
inline constexpr size_t SYNC_CONFIRMATIONS = 4;
// Bytes a framer may hold back between two calls while it waits to confirm a sync position.
inline constexpr size_t FRAMER_LOOKAHEAD = MAX_PACKET_PERIOD * (SYNC_CONFIRMATIONS + 1) + 1;

// What a framer reports about a sync event, for diagnostics: the stream offset where the damage
// begins, and where packets were found again (or the data ended).
struct SyncEvent {
  enum Kind { sync_lost, torn_packet } kind;
  uint64_t lost_at;
  uint64_t found_at;
};

class PacketFramer {
 public:
  // The period in bytes (188, 192 or 204) once known, else 0.
  size_t period() const noexcept { return period_; }
  bool synced() const noexcept { return synced_; }
  // Only the framing fields (sync_losses, skipped_bytes, torn_packets) are counted here.
  const Statistics& counters() const noexcept { return counters_; }
  // Offset in the whole stream of the first byte of the next call's data.
  uint64_t stream_offset() const noexcept { return offset_; }

  // Starts a new unit of data (a datagram) whose first packet need not follow on from the last one;
  // the period is kept.
  void begin_unit() noexcept { synced_ = false; }

  // Frames the packets of `data`, calling on_packet(std::span<const uint8_t, 188>) for each and
  // on_event(const SyncEvent&) for each loss of sync or torn packet. Returns how many bytes were used
  // up; when `final` is false the rest (never more than FRAMER_LOOKAHEAD bytes) must be offered again
  // at the front of the next call. When `final` is true everything is used up.
  template <typename OnPacket, typename OnEvent>
  size_t frame(std::span<const uint8_t> data, bool final, OnPacket&& on_packet, OnEvent&& on_event);

  // Where the first believable run of packets starts in `data`, and its period. With `final` false a
  // search that runs out of data before it can decide says so (need_more) instead of guessing.
  struct SyncSearch {
    bool found = false;
    bool need_more = false;  // the search stopped at `position` for want of data
    size_t position = 0;
    size_t period = 0;
  };
  static SyncSearch probe(std::span<const uint8_t> data, bool final) noexcept { return find_sync(data, 0, final, 0); }

 private:
  // How many sync bytes follow q at `period` steps, up to SYNC_CONFIRMATIONS, stopping at the first
  // miss; `reached_end` says whether the data ran out first.
  static size_t confirmations(std::span<const uint8_t> data, size_t q, size_t period, bool& reached_end) noexcept {
    size_t seen = 0;
    reached_end = false;
    for (size_t k = 1; k <= SYNC_CONFIRMATIONS; ++k) {
      const size_t at = q + k * period;
      if (at >= data.size()) {
        reached_end = true;
        break;
      }
      if (data[at] != TS_SYNC_BYTE) break;
      ++seen;
    }
    return seen;
  }

  // The first position at or after `from` that starts a believable run of packets. The stream's own
  // period (`preferred`) is tried first so that it is kept across damage. Near the end of the data
  // (`final`) fewer confirmations do; a lone packet is believed only in the stream's own period, or
  // as a plain 188-byte packet that fills the data exactly.
  static SyncSearch find_sync(std::span<const uint8_t> data, size_t from, bool final, size_t preferred) noexcept {
    static constexpr std::array<size_t, 4> periods = {0, 188, 192, 204};
    SyncSearch result;
    size_t q = from;
    while (q < data.size()) {
      const void* hit = std::memchr(data.data() + q, TS_SYNC_BYTE, data.size() - q);
      if (!hit) break;
      q = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data.data());
      if (data.size() - q < TS_PACKET_SIZE) {
        if (!final) {
          result.need_more = true;
          result.position = q;
        }
        return result;
      }
      bool undecided = false;
      for (size_t i = 0; i < periods.size(); ++i) {
        const size_t period = i == 0 ? preferred : periods[i];
        if (period == 0 || (i > 0 && period == preferred)) continue;
        bool reached_end = false;
        const size_t seen = confirmations(data, q, period, reached_end);
        const bool lone_ok = period == preferred || (period == TS_PACKET_SIZE && data.size() - q == TS_PACKET_SIZE);
        // Once the stream has shown its period, three packets in a row at it are enough: a run of
        // good packets between two stretches of damage is kept.
        const bool known_period_run = period == preferred && seen >= 2;
        if (seen == SYNC_CONFIRMATIONS || known_period_run || (final && reached_end && (seen > 0 || lone_ok))) {
          result.found = true;
          result.position = q;
          result.period = period;
          return result;
        }
        if (reached_end && !final) undecided = true;
      }
      if (undecided) {
        result.need_more = true;
        result.position = q;
        return result;
      }
      ++q;
    }
    return result;
  }

  bool synced_ = false;
  bool ever_synced_ = false;
  size_t period_ = 0;
  uint64_t gap_ = 0;        // bytes dropped since the last packet, not yet judged
  uint64_t gap_start_ = 0;  // stream offset where that gap began
  uint64_t offset_ = 0;
  Statistics counters_;
};

template <typename OnPacket, typename OnEvent>
size_t PacketFramer::frame(std::span<const uint8_t> data, bool final, OnPacket&& on_packet, OnEvent&& on_event) {
  const size_t n = data.size();
  size_t i = 0;
  // Bytes between packets are gathered into a gap, which may span calls; it is judged once the next
  // packet is found. The stamp or parity bytes that a 192- or 204-byte stream puts between packets
  // are expected there; anything more is garbage, and garbage after good packets is a loss of sync.
  auto drop_until = [&](size_t q) {
    if (q > i) {
      if (gap_ == 0) gap_start_ = offset_ + i;
      gap_ += q - i;
    }
    i = q;
  };
  auto settle_gap = [&](size_t allowance) {
    if (gap_ > allowance) {
      counters_.skipped_bytes += gap_ - allowance;
      if (ever_synced_) {
        ++counters_.sync_losses;
        on_event(SyncEvent{SyncEvent::sync_lost, gap_start_, offset_ + i});
      }
    }
    gap_ = 0;
  };
  auto emit = [&](size_t at) {
    on_packet(std::span<const uint8_t, TS_PACKET_SIZE>(data.data() + at, TS_PACKET_SIZE));
  };
  auto finish = [&](size_t used) {
    offset_ += used;
    return used;
  };
  auto end_of_data = [&]() {
    // What is left cannot start a packet: a last packet cut short, or garbage.
    if (n > i) {
      if (data[i] == TS_SYNC_BYTE && gap_ == 0) {
        ++counters_.torn_packets;
        counters_.skipped_bytes += n - i;
        on_event(SyncEvent{SyncEvent::torn_packet, offset_ + i, offset_ + n});
        i = n;
      } else {
        drop_until(n);
      }
    }
    settle_gap(0);
    return finish(n);
  };

  for (;;) {
    if (!synced_) {
      const SyncSearch s = find_sync(data, i, final, period_);
      if (!s.found) {
        if (s.need_more) {
          drop_until(s.position);
          return finish(i);
        }
        if (final) return end_of_data();
        // No sync byte that could start a packet anywhere: all of it is garbage.
        drop_until(n);
        return finish(n);
      }
      period_ = s.period;
      drop_until(s.position);
      settle_gap(period_ - TS_PACKET_SIZE);
      synced_ = true;
      ever_synced_ = true;
    }

    if (n - i < TS_PACKET_SIZE) {
      if (!final) return finish(i);
      return end_of_data();
    }
    if (data[i] != TS_SYNC_BYTE) {
      synced_ = false;
      continue;
    }

    const size_t next = i + period_;
    if (next < n) {
      if (data[next] == TS_SYNC_BYTE) {
        emit(i);
        i = next;
        continue;
      }
      // The successor is not where it should be: either it starts inside this packet (this one is
      // torn) or something was put between the two.
      const SyncSearch s = find_sync(data, i + 1, final, period_);
      if (s.need_more && s.position < i + TS_PACKET_SIZE) return finish(i);
      if (s.found && s.position < i + TS_PACKET_SIZE) {
        ++counters_.torn_packets;
        ++counters_.sync_losses;
        counters_.skipped_bytes += s.position - i;
        on_event(SyncEvent{SyncEvent::torn_packet, offset_ + i, offset_ + s.position});
        i = s.position;
        period_ = s.period;
        continue;
      }
      emit(i);
      i += TS_PACKET_SIZE;
      synced_ = false;
      continue;
    }
    // The successor lies beyond the data: wait for it, unless the data ends here (whatever follows
    // this packet is then shorter than its stamp or trailer).
    if (!final) return finish(i);
    emit(i);
    return finish(n);
  }
}

}  // namespace host
