// The packet framer and the demultiplexer on arbitrary bytes, with sections asked for on a few PIDs
// and one PID taken from the input. Every section handed on belongs to a PID asked for and has
// exactly the size its section_length announces; the counters agree with what was delivered.
#include "fuzz/fuzz_support.h"
#include "host/demux.h"
#include "host/framer.h"

namespace {

struct CheckingSink final : host::SectionSink {
  const host::Demux* demux = nullptr;
  size_t delivered = 0;
  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    FUZZ_CHECK(demux->subscribed(pid) && section.size() >= 3 && section[0] != 0xFF);
    FUZZ_CHECK(section.size() == 3 + (static_cast<size_t>(section[1] & 0x0F) << 8 | section[2]));
    ++delivered;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  CheckingSink sink;
  host::Demux demux(sink);
  sink.demux = &demux;
  for (int pid : {0x0000, 0x0011, 0x00C8, 0x07D3, 0x0BB9, 0x138E}) demux.subscribe(static_cast<uint16_t>(pid));
  if (size >= 2) demux.subscribe(static_cast<uint16_t>((data[0] << 8 | data[1]) & 0x1FFF));
  host::PacketFramer framer;
  size_t packets = 0;
  const size_t used = framer.frame(
      std::span<const uint8_t>(data, size), true,
      [&](std::span<const uint8_t, 188> p) {
        FUZZ_CHECK(p[0] == host::TS_SYNC_BYTE);
        ++packets;
        demux.feed(p);
      },
      [](const host::SyncEvent&) {});
  const host::Statistics& c = demux.counters();
  FUZZ_CHECK(used == size && c.packets == packets && c.sections == sink.delivered && c.tei_drops + c.duplicates <= c.packets);
  return 0;
}
