#include "host/demux.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

constexpr uint8_t STUFFING_TABLE_ID = 0xFF;
constexpr size_t SECTION_HEADER_SIZE = 3;
// The payload of a packet with an adaptation field starts at 5 + adaptation_field_length.
constexpr size_t MAX_ADAPTATION_LENGTH = TS_PACKET_SIZE - 5;

size_t section_size_from_header(std::span<const uint8_t> header) {
  bytes::ByteReader r(header);
  r.skip(1);
  return SECTION_HEADER_SIZE + (r.be16() & 0x0FFF);
}

}  // namespace

Demux::Demux(SectionSink& sink) : sink_(sink) {}
Demux::~Demux() = default;

void Demux::subscribe(uint16_t pid, uint32_t who) {
  if (pid >= PID_COUNT) return;
  std::lock_guard lock(subscription_mutex_);
  auto& list = subscribers_[pid];
  list.push_back(who);
  if (list.size() == 1) {
    if (++next_epoch_ == 0) ++next_epoch_;
    epochs_[pid].store(next_epoch_, std::memory_order_relaxed);
  }
}

void Demux::unsubscribe(uint16_t pid, uint32_t who) {
  if (pid >= PID_COUNT) return;
  std::lock_guard lock(subscription_mutex_);
  auto& list = subscribers_[pid];
  const auto it = std::find(list.begin(), list.end(), who);
  if (it == list.end()) return;
  list.erase(it);
  if (list.empty()) epochs_[pid].store(0, std::memory_order_relaxed);
}

void Demux::subscribers(uint16_t pid, std::vector<uint32_t>& out) const {
  out.clear();
  if (pid >= PID_COUNT) return;
  std::lock_guard lock(subscription_mutex_);
  out = subscribers_[pid];
}

bool Demux::subscribed(uint16_t pid) const noexcept {
  return pid < PID_COUNT && epochs_[pid].load(std::memory_order_relaxed) != 0;
}

Demux::Assembler& Demux::assembler_for(uint16_t pid, uint32_t epoch) {
  auto& slot = assemblers_[pid];
  if (!slot) {
    slot = std::make_unique<Assembler>();
    slot->buffer.reserve(MAX_SECTION_SIZE);
  }
  if (slot->epoch != epoch) {
    // Asked for again since we last saw it: what we held belongs to an earlier request.
    slot->epoch = epoch;
    slot->last_cc = -1;
    slot->active = false;
    slot->buffer.clear();
  }
  return *slot;
}

bool Demux::drop_partial(Assembler& a) {
  if (!a.active) return false;
  a.active = false;
  a.buffer.clear();
  ++counters_.dropped_sections;
  return true;
}

void Demux::report(DemuxEvent::Kind kind, uint16_t pid, bool dropped, uint8_t expected, uint8_t got) {
  if (on_event_) on_event_(DemuxEvent{kind, pid, expected, got, dropped});
}

void Demux::deliver(uint16_t pid, std::span<const uint8_t> section) {
  ++counters_.sections;
  sink_.on_section(pid, section);
}

void Demux::drop_errored(uint16_t pid, uint32_t epoch) {
  Assembler& a = assembler_for(pid, epoch);
  const bool dropped = drop_partial(a);
  // The counter of an errored packet cannot be trusted, so the next one starts a new history.
  a.last_cc = -1;
  report(DemuxEvent::transport_error, pid, dropped);
}

void Demux::assemble(uint16_t pid, uint32_t epoch, std::span<const uint8_t, TS_PACKET_SIZE> packet) {
  Assembler& a = assembler_for(pid, epoch);
  bytes::ByteReader r(packet);
  r.skip(1);
  const bool unit_start = (r.be16() & 0x4000) != 0;
  const uint8_t control = r.u8();
  const uint8_t adaptation_control = (control >> 4) & 0x3;
  const uint8_t cc = control & 0x0F;
  if (adaptation_control == 0) return;  // reserved: the packet carries nothing we may use

  bool discontinuity = false;
  if (adaptation_control & 0x2) {
    const uint8_t length = r.u8();
    if (length > MAX_ADAPTATION_LENGTH) {
      ++counters_.malformed_packets;
      report(DemuxEvent::bad_adaptation, pid, drop_partial(a));
      a.last_cc = -1;
      return;
    }
    if (length > 0) discontinuity = (r.peek_u8() & 0x80) != 0;
    r.skip(length);
  }

  if (discontinuity) {
    // A signalled break: the counter may jump without loss, but a section spanning it cannot be
    // trusted to be whole.
    drop_partial(a);
    a.last_cc = -1;
  }
  if (!(adaptation_control & 0x1)) return;  // no payload: the counter does not advance

  if (a.last_cc >= 0) {
    const auto last = static_cast<uint8_t>(a.last_cc);
    if (cc == last) {
      if (std::memcmp(packet.data(), a.last_packet.data(), TS_PACKET_SIZE) == 0) {
        ++counters_.duplicates;
        return;
      }
      ++counters_.cc_errors;
      report(DemuxEvent::continuity, pid, drop_partial(a), static_cast<uint8_t>((last + 1) & 0x0F), cc);
    } else if (cc != ((last + 1) & 0x0F)) {
      ++counters_.cc_errors;
      report(DemuxEvent::continuity, pid, drop_partial(a), static_cast<uint8_t>((last + 1) & 0x0F), cc);
    }
  }
  a.last_cc = cc;
  std::memcpy(a.last_packet.data(), packet.data(), TS_PACKET_SIZE);

  const std::span<const uint8_t> payload = r.rest();
  if (!unit_start) {
    // Without a unit start the payload can only continue a section; after its end comes stuffing.
    if (a.active) continue_section(pid, a, payload);
    return;
  }

  bytes::ByteReader p(payload);
  const uint8_t pointer = p.u8();
  if (!p.ok() || pointer > p.remaining()) {
    ++counters_.malformed_packets;
    report(DemuxEvent::bad_pointer, pid, drop_partial(a));
    return;
  }
  const std::span<const uint8_t> tail = p.bytes(pointer);
  if (a.active) {
    continue_section(pid, a, tail);
    // The next section begins here, so the last one had to be whole by now.
    if (a.active) report(DemuxEvent::section_cut, pid, drop_partial(a));
  }
  start_sections(pid, a, p.rest());
}

void Demux::start_sections(uint16_t pid, Assembler& a, std::span<const uint8_t> from_section_start) {
  bytes::ByteReader p(from_section_start);
  while (!p.at_end()) {
    if (p.peek_u8() == STUFFING_TABLE_ID) return;
    const std::span<const uint8_t> rest = p.rest();
    if (rest.size() >= SECTION_HEADER_SIZE) {
      const size_t size = section_size_from_header(rest);
      if (size > MAX_SECTION_SIZE) {
        ++counters_.dropped_sections;
        report(DemuxEvent::bad_section_length, pid, true);
        return;
      }
      if (size <= rest.size()) {
        deliver(pid, p.bytes(size));
        continue;
      }
      a.section_size = size;
    } else {
      a.section_size = 0;  // known once the header's last byte arrives
    }
    a.buffer.assign(rest.begin(), rest.end());
    a.active = true;
    return;
  }
}

void Demux::continue_section(uint16_t pid, Assembler& a, std::span<const uint8_t> bytes) {
  bytes::ByteReader r(bytes);
  while (a.active) {
    if (a.buffer.size() < SECTION_HEADER_SIZE) {
      const auto header_part = r.bytes(std::min(SECTION_HEADER_SIZE - a.buffer.size(), r.remaining()));
      a.buffer.insert(a.buffer.end(), header_part.begin(), header_part.end());
      if (a.buffer.size() < SECTION_HEADER_SIZE) return;
      a.section_size = section_size_from_header(a.buffer);
      if (a.section_size > MAX_SECTION_SIZE) {
        drop_partial(a);
        report(DemuxEvent::bad_section_length, pid, true);
        return;
      }
    }
    const size_t wanted = a.section_size - a.buffer.size();
    if (wanted > 0) {
      if (r.at_end()) return;
      const auto piece = r.bytes(std::min(wanted, r.remaining()));
      a.buffer.insert(a.buffer.end(), piece.begin(), piece.end());
      if (a.buffer.size() < a.section_size) return;
    }
    a.active = false;
    deliver(pid, a.buffer);
    a.buffer.clear();
  }
}

void Demux::note_dsmcc_start(uint16_t pid, std::span<const uint8_t, TS_PACKET_SIZE> packet) {
  size_t at = 4;
  const uint8_t control = (packet[3] >> 4) & 0x3;
  if (!(control & 0x1)) return;  // no payload
  if (control & 0x2) at += 1 + size_t{packet[4]};
  if (at >= TS_PACKET_SIZE) return;
  at += 1 + size_t{packet[at]};  // pointer_field
  if (at + 3 > TS_PACKET_SIZE) return;
  const uint8_t table_id = packet[at];
  const size_t section_length = ((size_t{packet[at + 1]} & 0x0F) << 8) | packet[at + 2];
  // A PES header (00 00 01) or stuffing never looks like this: the table, a long-form header and a
  // length the syntax allows.
  if ((table_id == 0x3B || table_id == 0x3C) && (packet[at + 1] & 0x80) && section_length >= 9 &&
      section_length <= MAX_SECTION_SIZE - 3)
    dsmcc_seen_[pid].store(true, std::memory_order_relaxed);
}

std::vector<uint32_t> Demux::dsmcc_pids() const {
  std::vector<uint32_t> pids;
  for (uint32_t pid = 0; pid < PID_COUNT; ++pid)
    if (dsmcc_seen_[pid].load(std::memory_order_relaxed)) pids.push_back(pid);
  return pids;
}

void Demux::restart() {
  for (auto& a : assemblers_) {
    if (!a) continue;
    a->active = false;
    a->section_size = 0;
    a->buffer.clear();
    a->last_cc = -1;
  }
}

}  // namespace host
