// A capture as the analysis window runs it, with its threads: the host's delivery thread feeds the
// intake from a file, a worker reads the three counters every few milliseconds as the progress
// window does, and meanwhile another thread keeps adding and removing a filter, freeing its context
// as soon as the removal returns. Run under ThreadSanitizer (label tsan) it checks that the counters
// are the only data shared while sections arrive; in every build it checks what the capture kept.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "store/section_intake.h"
#include "carousel/object_carousel.h"
#include "host/host.h"
#include "tests/support/oc_builder.h"
#include "tests/support/ts_builder.h"

namespace {

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSteadyPid = 0x100;  // its filter stays for the whole capture
constexpr uint32_t kRacingPid = 0x200;  // its filter comes and goes
constexpr uint8_t kMatch = 0x38;
constexpr uint8_t kMask = 0x38;

ts::OcCarousel carousel() {
  ts::OcCarousel oc(0x10);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  for (int i = 0; i < 6; ++i) oc.add_file(apps, "file" + std::to_string(i), ts::pattern_bytes(3000, static_cast<uint8_t>(i)), 2);
  oc.add_file(oc.gateway(), "index.html", ts::text_bytes("<html/>"), 1);
  return oc;
}

// The carousel's cycle, many times over, on both PIDs; written to a file of this test.
class StreamFile {
 public:
  explicit StreamFile(const ts::OcCarousel& oc, int cycles) {
    path_ = testing::TempDir() + "dsmcc-threads-" + std::to_string(::getpid()) + ".ts";
    ts::Packetizer packets;
    const auto sections = oc.sections(1024);
    for (int c = 0; c < cycles; ++c) {
      packets.add_sections(static_cast<uint16_t>(kSteadyPid), sections);
      packets.add_sections(static_cast<uint16_t>(kRacingPid), sections);
    }
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(packets.stream().data()), static_cast<std::streamsize>(packets.stream().size()));
  }
  ~StreamFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct CounterReading {
  int32_t dsi, dii, ddb;
};

TEST(CaptureThreads, CountersProgressAndFiltersComeAndGoWhileTheHostDelivers) {
  const ts::OcCarousel oc = carousel();
  const StreamFile file(oc, 150);
  const size_t blocks = oc.ddb_sections(1024).size();

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    CarouselStore store;
    CaptureCounters counters;
    SectionIntake intake(store, counters);
    store.pid_map[1].insert(kSteadyPid);
    store.pid_map[2].insert(kRacingPid);
    intake.start_programs();

    host::Host host;
    ASSERT_EQ(host.open(file.path()), "");
    ISectionFilter* filters = nullptr;
    ASSERT_EQ(host.filter_manager()->QueryInterface(IID_ISectionFilter, reinterpret_cast<void**>(&filters)), S_OK);

    std::mutex mutex;
    std::condition_variable ended_cv;
    bool ended = false;
    host.set_end_of_input_handler([&] {
      std::lock_guard lock(mutex);
      ended = true;
      ended_cv.notify_all();
    });

    FilterContext steady{kSteadyPid, 0, &intake};
    ASSERT_EQ(filters->AddSectionFilter(kSteadyPid, &kMatch, &kMask, 1, section_callback, &steady, &steady.handle), S_OK);

    // The progress window's worker: reads the counters every few milliseconds.
    std::atomic<bool> stop_worker{false};
    std::vector<CounterReading> readings;
    std::thread worker([&] {
      do {
        readings.push_back({counters.dsi_count.load(), counters.dii_count.load(), counters.ddb_count.load()});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      } while (!stop_worker.load());
    });

    // A filter that another thread keeps installing and removing; its context is freed as soon as the
    // removal returns, which the host promises is safe.
    std::atomic<bool> stop_racer{false};
    std::atomic<int> installs{0};
    std::thread racer([&] {
      while (!stop_racer.load()) {
        auto* context = new FilterContext{kRacingPid, 0, &intake};
        if (filters->AddSectionFilter(kRacingPid, &kMatch, &kMask, 1, section_callback, context, &context->handle) == S_OK) {
          ++installs;
          std::this_thread::sleep_for(std::chrono::microseconds(300));
          filters->RemoveSectionFilter(context->handle);
        }
        delete context;
      }
    });

    while (installs.load() == 0) std::this_thread::yield();
    ASSERT_TRUE(host.begin_capture());
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(ended_cv.wait_for(lock, std::chrono::seconds(120), [&] { return ended; }));
    }
    stop_racer = true;
    racer.join();
    filters->RemoveSectionFilter(steady.handle);
    stop_worker = true;
    worker.join();
    filters->Release();
    host.stop();

    // The worker saw the counters only grow, up to their final values.
    ASSERT_FALSE(readings.empty());
    for (size_t i = 1; i < readings.size(); ++i) {
      EXPECT_LE(readings[i - 1].dsi, readings[i].dsi);
      EXPECT_LE(readings[i - 1].dii, readings[i].dii);
      EXPECT_LE(readings[i - 1].ddb, readings[i].ddb);
    }
    EXPECT_LE(readings.back().ddb, counters.ddb_count.load());
    EXPECT_GT(installs.load(), 0);

    // The steady PID kept its filter from start to end: its programme holds the whole carousel once.
    const PidRecord& steady_record = *store.programs.at(1).pids.at(static_cast<int32_t>(kSteadyPid));
    size_t steady_blocks = 0;
    for (const auto& [download, modules] : steady_record.ddb)
      for (const auto& [module, map] : modules) steady_blocks += map.size();
    EXPECT_EQ(steady_blocks, blocks);
    EXPECT_EQ(steady_record.dsi.size(), 1u);
    EXPECT_EQ(steady_record.dii.size(), 1u);

    // Whatever the racing filter let through is filed like the rest: the counters match the store.
    size_t all_blocks = 0, dsis = 0, diis = 0;
    for (const auto& [programme, record] : store.programs) {
      for (const auto& [pid, pr] : record.pids) {
        dsis += pr->dsi.size();
        diis += pr->dii.size();
        for (const auto& [download, modules] : pr->ddb)
          for (const auto& [module, map] : modules) all_blocks += map.size();
      }
    }
    EXPECT_EQ(static_cast<size_t>(counters.ddb_count.load()), all_blocks);
    EXPECT_EQ(static_cast<size_t>(counters.dsi_count.load()), dsis);
    EXPECT_EQ(static_cast<size_t>(counters.dii_count.load()), diis);

    // Once every filter is gone the pages may read the store: the carousel is there in full.
    class Files : public ObjectCarouselSink {
     public:
      Node root_node() override { return 0; }
      Node programme_node(Node, uint32_t) override { return 0; }
      Node carousel_node(Node, uint32_t) override { return 0; }
      Node directory_node(Node, const std::string&) override { return 0; }
      Node file_node(Node, const std::string&, const FileRecord* f) override {
        found += f != nullptr;
        return 0;
      }
      size_t found = 0;
    } files;
    build_tree(rebuild_carousels(store), files);
    EXPECT_GE(files.found, 7u);
  }
}

}  // namespace
