// The packet framer and the demultiplexer on arbitrary bytes, with sections asked for on a few PIDs
// and one PID taken from the input.
#include "fuzz/fuzz_support.h"
#include "host/demux.h"
#include "host/framer.h"

namespace {

// Reads every byte of a section handed on, so that one that reaches past its packets shows.
struct ReadingSink final : host::SectionSink {
  uint8_t sum = 0;
  void on_section(uint16_t, std::span<const uint8_t> section) override {
    for (uint8_t b : section) sum ^= b;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  ReadingSink sink;
  host::Demux demux(sink);
  for (int pid : {0x0000, 0x0011, 0x00C8, 0x07D3, 0x0BB9, 0x138E})
    demux.subscribe(static_cast<uint16_t>(pid));
  if (size >= 2) demux.subscribe(static_cast<uint16_t>((data[0] << 8 | data[1]) & 0x1FFF));
  host::PacketFramer framer;
  framer.frame(
      std::span<const uint8_t>(data, size), true, [&](std::span<const uint8_t, 188> p) { demux.feed(p); },
      [](const host::SyncEvent&) {});
  return 0;
}
