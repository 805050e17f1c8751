// The packet framer and the demultiplexer on arbitrary bytes, with sections asked for on a few PIDs
// and one PID taken from the input. The bytes are framed in one piece and in pieces whose sizes come
// from the input, as a reader hands them over: both give the same packets. Every section handed on
// belongs to a PID asked for and has exactly the size its section_length announces; the counters
// agree with what was delivered.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "host/demux.h"
#include "host/framer.h"

namespace {

using Packet = std::vector<uint8_t>;

struct CheckingSink final : host::SectionSink {
  const host::Demux* demux = nullptr;
  size_t delivered = 0;
  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    FUZZ_CHECK(demux->subscribed(pid) && section.size() >= 3 && section[0] != 0xFF);
    FUZZ_CHECK(section.size() == 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]));
    ++delivered;
  }
};

// piece 0: the whole input at once; otherwise pieces of 1 to 1024 bytes, what the framer leaves
// over offered again in front of the next one.
std::vector<Packet> frame(std::span<const uint8_t> data, bool in_pieces) {
  std::vector<Packet> packets;
  host::PacketFramer framer;
  std::vector<uint8_t> buffer;
  size_t seed = data.size();
  for (size_t at = 0;;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece = in_pieces ? std::min(data.size() - at, 1 + (seed >> 8) % 1024) : data.size();
    buffer.insert(buffer.end(), data.begin() + at, data.begin() + at + piece);
    at += piece;
    const size_t used = framer.frame(
        buffer, at == data.size(), [&](std::span<const uint8_t, 188> p) { packets.emplace_back(p.begin(), p.end()); },
        [](const host::SyncEvent&) {});
    FUZZ_CHECK(used <= buffer.size() && (at == data.size() ? used == buffer.size() : buffer.size() - used <= host::FRAMER_LOOKAHEAD));
    buffer.erase(buffer.begin(), buffer.begin() + used);
    if (at == data.size()) return packets;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const std::vector<Packet> packets = frame({data, size}, false);
  FUZZ_CHECK(packets == frame({data, size}, true));
  CheckingSink sink;
  host::Demux demux(sink);
  sink.demux = &demux;
  for (int pid : {0x0000, 0x0011, 0x00C8, 0x07D3, 0x0BB9, 0x138E}) demux.subscribe(static_cast<uint16_t>(pid));
  const int extra = size >= 2 ? ((data[0] << 8 | data[1]) & 0x1FFF) : -1;  // a fixed one is then asked for twice
  if (extra >= 0) demux.subscribe(static_cast<uint16_t>(extra));
  for (const Packet& p : packets) {
    FUZZ_CHECK(p[0] == host::TS_SYNC_BYTE);
    demux.feed(std::span<const uint8_t, 188>(p.data(), 188));
  }
  const host::Statistics& c = demux.counters();
  FUZZ_CHECK(c.packets == packets.size() && c.sections == sink.delivered && c.tei_drops + c.duplicates <= c.packets);
  return 0;
}
