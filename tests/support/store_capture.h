// A capture for tests: programme/PID pairs put in the capture list as Start does, then sections fed
// straight into the intake, as the host's delivery would hand them over. Header-only: a test that uses
// it links the capture library itself.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "store/carousel_store.h"
#include "store/section_intake.h"

namespace testsupport {

class StoreCapture {
 public:
  explicit StoreCapture(std::vector<std::pair<int32_t, uint32_t>> pairs = {{1, 0x100}}) {
    for (const auto& [programme, pid] : pairs) {
      store.capture_pairs.insert({static_cast<uint32_t>(programme), pid});
      store.pid_map[programme].insert(pid);
    }
    intake.start_programs();
  }
  void feed(uint32_t pid, const std::vector<uint8_t>& section) {
    intake.dispatch_section(pid, std::span<const uint8_t>(section));
  }
  // Through the section callback, from a buffer that dies with the call, as the host delivers.
  void deliver(uint32_t pid, const std::vector<uint8_t>& section) {
    store::FilterContext context{pid, 7, &intake};
    std::vector<uint8_t> buffer(section);
    store::section_callback(&context, static_cast<uint32_t>(buffer.size()), buffer.data());
  }
  // The record of one PID, or null.
  const store::PidRecord* record(int32_t program, uint32_t pid) const {
    auto p = store.programs.find(program);
    if (p == store.programs.end()) return nullptr;
    auto r = p->second.pids.find(static_cast<int32_t>(pid));
    return r == p->second.pids.end() ? nullptr : r->second.get();
  }
  std::array<int, 3> counts() const {
    return {counters.dsi_count.load(), counters.dii_count.load(), counters.ddb_count.load()};
  }
  void feed_all(uint32_t pid, const std::vector<std::vector<uint8_t>>& sections) {
    for (const auto& s : sections) feed(pid, s);
  }

  store::CarouselStore store;
  store::CaptureCounters counters;
  store::SectionIntake intake{store, counters};
};

}  // namespace testsupport
