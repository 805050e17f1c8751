// A capture for tests: programme/PID pairs put in the capture list as Start does, then sections fed
// straight into the intake, as the host's delivery would hand them over. Header-only: a test that uses
// it links the capture library itself.
#pragma once

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
  void feed_all(uint32_t pid, const std::vector<std::vector<uint8_t>>& sections) {
    for (const auto& s : sections) feed(pid, s);
  }
  ProgramRecord& program(int32_t number = 1) { return store.programs.at(number); }

  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};
};

}  // namespace testsupport
