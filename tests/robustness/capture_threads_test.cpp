// A capture as the analysis window runs it, with its threads: the host's delivery thread feeds the
// intake from a file, a worker reads the three counters every few milliseconds as the progress
// window does, and meanwhile another thread keeps adding and removing a filter, freeing its context
// as soon as the removal returns. Under ThreadSanitizer (label tsan) it checks that the counters are
// the only data shared while sections arrive; in every build it checks what the capture kept.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "carousel/object_carousel.h"
#include "host/host.h"
#include "store/section_intake.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/ts_builder.h"

namespace {

namespace ts = testsupport;
constexpr uint32_t kSteadyPid = 0x100;  // its filter stays for the whole capture
constexpr uint32_t kRacingPid = 0x200;  // its filter comes and goes
constexpr uint8_t kMatch = 0x38;

size_t blocks_of(const PidRecord& record) {
  size_t n = 0;
  for (const auto& [download, modules] : record.ddb)
    for (const auto& [module, blocks] : modules) n += blocks.size();
  return n;
}

TEST(CaptureThreads, CountersProgressAndFiltersComeAndGoWhileTheHostDelivers) {
  ts::OcCarousel oc(0x10);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  for (int i = 0; i < 6; ++i) oc.add_file(apps, "file" + std::to_string(i), ts::pattern_bytes(3000, static_cast<uint8_t>(i)), 2);
  oc.add_file(oc.gateway(), "index.html", ts::text_bytes("<html/>"), 1);
  ts::Packetizer packets;
  for (int cycle = 0; cycle < 150; ++cycle)
    for (uint32_t pid : {kSteadyPid, kRacingPid}) packets.add_sections(static_cast<uint16_t>(pid), oc.sections(1024));
  ts::TempDir dir;
  const std::string path = dir.write("threads.ts", packets.take());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    CarouselStore store;
    CaptureCounters counters;
    SectionIntake intake(store, counters);
    store.pid_map[1].insert(kSteadyPid);
    store.pid_map[2].insert(kRacingPid);
    intake.start_programs();
    std::atomic<bool> ended{false}, stop{false};
    host::Host host;
    ASSERT_EQ(host.open(path), "");
    host.set_end_of_input_handler([&] { ended = true; });
    ISectionFilter* filters = nullptr;
    ASSERT_EQ(host.filter_manager()->QueryInterface(IID_ISectionFilter, reinterpret_cast<void**>(&filters)), S_OK);
    FilterContext steady{kSteadyPid, 0, &intake};
    ASSERT_EQ(filters->AddSectionFilter(kSteadyPid, &kMatch, &kMatch, 1, section_callback, &steady, &steady.handle), S_OK);
    std::vector<std::array<int32_t, 3>> readings;
    std::thread worker([&] {
      do {
        readings.push_back({counters.dsi_count.load(), counters.dii_count.load(), counters.ddb_count.load()});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      } while (!stop.load());
    });
    std::atomic<int> installs{0};
    std::thread racer([&] {
      while (!stop.load()) {
        auto* context = new FilterContext{kRacingPid, 0, &intake};
        if (filters->AddSectionFilter(kRacingPid, &kMatch, &kMatch, 1, section_callback, context, &context->handle) == S_OK) {
          ++installs;
          std::this_thread::sleep_for(std::chrono::microseconds(300));
          filters->RemoveSectionFilter(context->handle);
        }
        delete context;
      }
    });
    while (installs.load() == 0) std::this_thread::yield();
    ASSERT_TRUE(host.begin_capture());
    for (int waited = 0; !ended.load() && waited < 120000; waited += 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    racer.join();
    worker.join();
    filters->RemoveSectionFilter(steady.handle);
    filters->Release();
    host.stop();
    ASSERT_TRUE(ended.load());
    // The worker saw the counters only grow; the steady PID holds the whole carousel once; whatever
    // the racing filter let through is filed like the rest, and the counters match the store.
    for (size_t i = 1; i < readings.size(); ++i)
      for (size_t k = 0; k < 3; ++k) EXPECT_LE(readings[i - 1][k], readings[i][k]);
    const PidRecord& steady_record = *store.programs.at(1).pids.at(static_cast<int32_t>(kSteadyPid));
    EXPECT_EQ(blocks_of(steady_record), oc.ddb_sections(1024).size());
    EXPECT_EQ(steady_record.dsi.size() + steady_record.dii.size(), 2u);
    size_t all_blocks = 0, dsis = 0, diis = 0;
    for (const auto& [programme, record] : store.programs)
      for (const auto& [pid, pr] : record.pids) all_blocks += blocks_of(*pr), dsis += pr->dsi.size(), diis += pr->dii.size();
    EXPECT_EQ(std::make_tuple(dsis, diis, all_blocks),
              std::make_tuple(size_t(counters.dsi_count.load()), size_t(counters.dii_count.load()), size_t(counters.ddb_count.load())));
    struct Files : ObjectCarouselSink {
      size_t found = 0;
      Node root_node() override { return 0; }
      Node programme_node(Node, uint32_t) override { return 0; }
      Node carousel_node(Node, uint32_t) override { return 0; }
      Node directory_node(Node, const std::string&) override { return 0; }
      Node file_node(Node, const std::string&, const FileRecord* f) override {
        found += f != nullptr;
        return 0;
      }
    } files;
    build_tree(rebuild_carousels(store), files);
    EXPECT_GE(files.found, 7u) << "once every filter is gone the carousel is there in full";
  }
}

}  // namespace
