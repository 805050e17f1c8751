// A capture without the host's threads: stream bytes are framed and demultiplexed on the calling
// thread, every section of a captured PID that passes the plug-in's filter (table_id 0x38 to 0x3F)
// goes through the real section callback into the real intake, exactly as the host's delivery thread
// would hand it over. Used by the whole-chain fuzz target and the robustness tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "store/carousel_store.h"
#include "store/section_intake.h"
#include "host/demux.h"
#include "host/framer.h"

namespace robustness {

// (programme_number, pid)
using CapturePairs = std::vector<std::pair<uint32_t, uint32_t>>;

class CaptureChain final : private host::SectionSink {
 public:
  explicit CaptureChain(const CapturePairs& pairs) {
    for (const auto& [programme, pid] : pairs) {
      store.capture_pairs.insert({programme, pid});
      store.pid_map[static_cast<int32_t>(programme)].insert(pid);
    }
    intake.start_programs();
    for (const auto& [programme, pids] : store.pid_map) {
      for (uint32_t pid : pids) {
        if (filters_.count(pid)) continue;
        auto context = std::make_unique<FilterContext>();
        context->pid = pid;
        context->handle = static_cast<uint32_t>(filters_.size() + 1);
        context->owner = &intake;
        filters_.emplace(pid, std::move(context));
        demux_.subscribe(static_cast<uint16_t>(pid));
      }
    }
  }

  // Frames `bytes` as one whole input (a file read to its end) and demultiplexes every packet.
  void feed_stream(std::span<const uint8_t> bytes) {
    framer_.frame(
        bytes, true, [this](std::span<const uint8_t, host::TS_PACKET_SIZE> packet) { feed_packet(packet); },
        [](const host::SyncEvent&) {});
  }
  void feed_packet(std::span<const uint8_t, host::TS_PACKET_SIZE> packet) { demux_.feed(packet); }

  // Told about every section the demultiplexer hands on, before the filter is applied.
  std::function<void(uint16_t pid, std::span<const uint8_t> section)> on_delivered;

  const host::Statistics& demux_counters() const { return demux_.counters(); }

  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};

 private:
  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    if (on_delivered) on_delivered(pid, section);
    const auto filter = filters_.find(pid);
    if (filter == filters_.end() || section.empty()) return;
    // The plug-in's filter: match 0x38 under mask 0x38 on the table_id.
    if ((section[0] & 0x38) != 0x38) return;
    section_callback(filter->second.get(), static_cast<uint32_t>(section.size()), section.data());
  }

  std::map<uint32_t, std::unique_ptr<FilterContext>> filters_;
  host::Demux demux_{*this};
  host::PacketFramer framer_;
};

}  // namespace robustness
