// The packet framer and the transport-stream demultiplexer on arbitrary bytes, with sections asked
// for on a few PIDs (those of the shared streams' carousels, PSI, and one PID taken from the input).
//
// The bytes are framed twice: in one piece, and in pieces whose sizes come from the input, the way a
// file or a pipe hands them over. Beyond "no crash": both framings give the same packets; every
// section handed on belongs to a PID that was asked for, has exactly the size its section_length
// announces and no more than the syntax allows, and is never stuffing; the counters agree with what
// was delivered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/demux.h"
#include "host/framer.h"

namespace {

constexpr uint16_t kFixedPids[] = {0x0000, 0x0011, 0x00C8, 0x07D3, 0x0BB9, 0x138E};

class CheckingSink final : public host::SectionSink {
 public:
  explicit CheckingSink(const host::Demux* const& demux) : demux_(demux) {}

  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    FUZZ_CHECK(demux_ && demux_->subscribed(pid));
    FUZZ_CHECK(section.size() >= 3 && section.size() <= host::MAX_SECTION_SIZE);
    FUZZ_CHECK(section[0] != 0xFF);
    FUZZ_CHECK(section.size() == 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]));
    ++delivered;
    bytes += section.size();
  }

  size_t delivered = 0;
  size_t bytes = 0;

 private:
  const host::Demux* const& demux_;
};

using Packet = std::vector<uint8_t>;

std::vector<Packet> frame_whole(std::span<const uint8_t> data) {
  std::vector<Packet> packets;
  host::PacketFramer framer;
  const size_t used = framer.frame(
      data, true, [&](std::span<const uint8_t, host::TS_PACKET_SIZE> p) { packets.emplace_back(p.begin(), p.end()); },
      [](const host::SyncEvent&) {});
  FUZZ_CHECK(used == data.size());
  return packets;
}

// Pieces of 1 to 1024 bytes, their sizes drawn from the data itself; what the framer leaves over is
// offered again in front of the next piece, as the file reader does.
std::vector<Packet> frame_in_pieces(std::span<const uint8_t> data) {
  std::vector<Packet> packets;
  host::PacketFramer framer;
  std::vector<uint8_t> buffer;
  size_t at = 0;
  size_t seed = data.size();
  for (;;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece = std::min(data.size() - at, 1 + (seed >> 8) % 1024);
    buffer.insert(buffer.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + piece));
    at += piece;
    const bool final = at == data.size();
    const size_t used = framer.frame(
        buffer, final,
        [&](std::span<const uint8_t, host::TS_PACKET_SIZE> p) { packets.emplace_back(p.begin(), p.end()); },
        [](const host::SyncEvent&) {});
    FUZZ_CHECK(used <= buffer.size());
    if (!final) FUZZ_CHECK(buffer.size() - used <= host::FRAMER_LOOKAHEAD);
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
    if (final) {
      FUZZ_CHECK(buffer.empty());
      return packets;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::span<const uint8_t> bytes(data, size);
  const std::vector<Packet> packets = frame_whole(bytes);
  FUZZ_CHECK(packets == frame_in_pieces(bytes));

  const host::Demux* demux_ref = nullptr;
  CheckingSink sink(demux_ref);
  host::Demux demux(sink);
  demux_ref = &demux;
  for (uint16_t pid : kFixedPids) demux.subscribe(pid);
  // One more PID from the input; when it is a fixed one, that PID is asked for twice.
  const int extra = size >= 2 ? ((data[0] << 8 | data[1]) & 0x1FFF) : -1;
  if (extra >= 0) demux.subscribe(static_cast<uint16_t>(extra));

  for (size_t i = 0; i < packets.size(); ++i) {
    FUZZ_CHECK(packets[i].size() == host::TS_PACKET_SIZE && packets[i][0] == host::TS_SYNC_BYTE);
    demux.feed(std::span<const uint8_t, host::TS_PACKET_SIZE>(packets[i].data(), host::TS_PACKET_SIZE));
    // Half way through, one carousel PID is given up and asked for again: it must start afresh.
    // Requests are counted, so a PID asked for twice is still wanted after one is withdrawn.
    if (i == packets.size() / 2) {
      demux.unsubscribe(0x07D3);
      FUZZ_CHECK(demux.subscribed(0x07D3) == (extra == 0x07D3));
      demux.subscribe(0x07D3);
    }
  }
  const host::Statistics& c = demux.counters();
  FUZZ_CHECK(c.packets == packets.size());
  FUZZ_CHECK(c.sections == sink.delivered);
  FUZZ_CHECK(c.tei_drops + c.duplicates <= c.packets);
  return 0;
}
