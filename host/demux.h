// The transport-stream demultiplexer: a table indexed by PID, and one section assembler for each PID
// that someone asked for. Every other packet costs a look at its header and nothing more.
//
// The assembler follows pointer_field, sections that span packets, several sections in one packet
// and 0xFF stuffing. It never hands on a section that loss may have broken: a packet with the
// transport_error_indicator, a continuity break, a bad adaptation field or pointer_field, or a new
// section starting before the last one was whole, each drops the partial section. A packet repeated
// with the same continuity counter and the same bytes is a legal duplicate and is ignored; the same
// counter with other bytes is a break.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "host/framer.h"
#include "bytes/byte_reader.h"

namespace host {

inline constexpr uint32_t PID_COUNT = 8192;
// The longest section the syntax allows: a 12-bit section_length of at most 4093, and the header.
inline constexpr size_t MAX_SECTION_SIZE = 4096;

// Something wrong in the packets of a PID that was asked for, for diagnostics.
struct DemuxEvent {
  enum Kind {
    continuity,          // expected_cc / got_cc are set
    transport_error,     // transport_error_indicator set
    bad_adaptation,      // adaptation_field_length beyond the packet
    bad_pointer,         // pointer_field beyond the payload, or missing
    bad_section_length,  // section_length above 4093
    section_cut,         // a section began before the previous one was complete
  } kind;
  uint16_t pid;
  uint8_t expected_cc;
  uint8_t got_cc;
  bool partial_dropped;  // a partial section was given up because of it
};

// Receives every whole section of the PIDs asked for, on the thread that feeds the packets. The
// bytes are valid only during the call.
class SectionSink {
 public:
  virtual void on_section(uint16_t pid, std::span<const uint8_t> section) = 0;

 protected:
  ~SectionSink() = default;
};

class Demux {
 public:
  explicit Demux(SectionSink& sink);
  ~Demux();
  Demux(const Demux&) = delete;
  Demux& operator=(const Demux&) = delete;

  // Asking for PIDs may happen on any thread while another one feeds packets. Requests are counted:
  // a PID is assembled while at least one request for it stands. A PID asked for again after it was
  // given up starts afresh, with no partial section and no continuity history.
  // Each request names who made it (a filter's handle; 0 for a request of nobody in particular), so
  // that this table is also the one place to find who wants a PID's sections.
  void subscribe(uint16_t pid, uint32_t who = 0);
  void unsubscribe(uint16_t pid, uint32_t who = 0);
  bool subscribed(uint16_t pid) const noexcept;
  // Who asks for `pid`, in the order they asked, into `out` (emptied first). Any thread may ask.
  void subscribers(uint16_t pid, std::vector<uint32_t>& out) const;

  // Takes one packet (it begins with the sync byte). Only the feeding thread may call this.
  void feed(std::span<const uint8_t, TS_PACKET_SIZE> packet) {
    ++counters_.packets;
    bytes::ByteReader header(packet);
    header.skip(1);
    const uint16_t flags_pid = header.be16();
    const uint16_t pid = flags_pid & 0x1FFF;
    const uint32_t epoch = epochs_[pid].load(std::memory_order_relaxed);
    if (flags_pid & 0x8000) {
      ++counters_.tei_drops;
      if (epoch) drop_errored(pid, epoch);
      return;
    }
    if (epoch)
      assemble(pid, epoch, packet);
    else if ((flags_pid & 0x4000) && !dsmcc_seen_[pid].load(std::memory_order_relaxed))
      note_dsmcc_start(pid, packet);
  }
  // Forgets every partial section and continuity history, without a word: the next packet starts a
  // stream afresh (a new pass over a file from its start). Only the feeding thread may call this.
  void restart();
  // The PIDs, not asked for, on which a section of table 0x3B or 0x3C began (a packet with
  // payload_unit_start whose pointer_field leads to one), ascending. Any thread may ask.
  std::vector<uint32_t> dsmcc_pids() const;

  // Only the demultiplexing fields are counted here.
  const Statistics& counters() const noexcept { return counters_; }
  // Called on the feeding thread for every anomaly on a PID that was asked for.
  void set_event_handler(std::function<void(const DemuxEvent&)> handler) { on_event_ = std::move(handler); }

 private:
  struct Assembler {
    uint32_t epoch = 0;
    int last_cc = -1;
    bool active = false;      // a section has begun and is not yet whole
    size_t section_size = 0;  // its full size, once its first three bytes are in
    std::vector<uint8_t> buffer;
    std::array<uint8_t, TS_PACKET_SIZE> last_packet{};
  };

  Assembler& assembler_for(uint16_t pid, uint32_t epoch);
  void assemble(uint16_t pid, uint32_t epoch, std::span<const uint8_t, TS_PACKET_SIZE> packet);
  void drop_errored(uint16_t pid, uint32_t epoch);
  void start_sections(uint16_t pid, Assembler& a, std::span<const uint8_t> from_section_start);
  void continue_section(uint16_t pid, Assembler& a, std::span<const uint8_t> bytes);
  bool drop_partial(Assembler& a);
  void report(DemuxEvent::Kind kind, uint16_t pid, bool dropped, uint8_t expected = 0, uint8_t got = 0);
  void deliver(uint16_t pid, std::span<const uint8_t> section);
  void note_dsmcc_start(uint16_t pid, std::span<const uint8_t, TS_PACKET_SIZE> packet);

  SectionSink& sink_;
  // 0: nobody asks for the PID; otherwise the serial number of the request that opened it.
  std::array<std::atomic<uint32_t>, PID_COUNT> epochs_{};
  // Which PIDs carried the start of a DSM-CC section: looked at only on packets that start a unit,
  // of PIDs nobody asks for, so a stream that has no PSI names its carousel without a pass of its own.
  std::array<std::atomic<bool>, PID_COUNT> dsmcc_seen_{};
  std::array<std::unique_ptr<Assembler>, PID_COUNT> assemblers_;
  mutable std::mutex subscription_mutex_;
  std::array<std::vector<uint32_t>, PID_COUNT> subscribers_{};
  uint32_t next_epoch_ = 0;
  Statistics counters_;
  std::function<void(const DemuxEvent&)> on_event_;
};

}  // namespace host
