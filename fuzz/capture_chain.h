// A capture without the host's threads: stream bytes are framed and demultiplexed on the calling
// thread, and every section of a captured PID that passes the plug-in's filter (table_id 0x38 to
// 0x3F) goes through the real section callback into the real intake, as the host's delivery thread
// would hand it over. Used by the whole-chain fuzz target and the robustness tests.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "host/demux.h"
#include "host/framer.h"
#include "store/carousel_store.h"
#include "store/section_intake.h"

namespace robustness {

using CapturePairs = std::vector<std::pair<uint32_t, uint32_t>>;  // (programme_number, pid)

class CaptureChain final : private host::SectionSink {
 public:
  explicit CaptureChain(const CapturePairs& pairs) {
    for (const auto& [programme, pid] : pairs) {
      store.capture_pairs.insert({programme, pid});
      store.pid_map[static_cast<int32_t>(programme)].insert(pid);
      if (filters_.count(pid)) continue;
      filters_[pid] = std::make_unique<store::FilterContext>(
          store::FilterContext{pid, static_cast<uint32_t>(filters_.size() + 1), &intake});
      demux_.subscribe(static_cast<uint16_t>(pid));
    }
    intake.start_programs();
  }
  // Frames `bytes` as one whole input (a file read to its end) and demultiplexes every packet.
  void feed_stream(std::span<const uint8_t> bytes) {
    framer_.frame(
        bytes, true, [this](std::span<const uint8_t, 188> packet) { feed_packet(packet); },
        [](const host::SyncEvent&) {});
  }
  void feed_packet(std::span<const uint8_t, 188> packet) { demux_.feed(packet); }

  // Told about every section the demultiplexer hands on, before the filter is applied.
  std::function<void(uint16_t pid, std::span<const uint8_t> section)> on_delivered;

  store::CarouselStore store;
  store::CaptureCounters counters;
  store::SectionIntake intake{store, counters};

 private:
  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    if (on_delivered) on_delivered(pid, section);
    const auto filter = filters_.find(pid);
    if (filter != filters_.end() && (section[0] & 0x38) == 0x38)
      store::section_callback(filter->second.get(), static_cast<uint32_t>(section.size()), section.data());
  }
  std::map<uint32_t, std::unique_ptr<store::FilterContext>> filters_;
  host::Demux demux_{*this};
  host::PacketFramer framer_;
};

}  // namespace robustness
