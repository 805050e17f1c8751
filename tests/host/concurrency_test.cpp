// Removing filters while the delivery thread is busy: once RemoveSectionFilter returns, the filter's
// callback is not running and never runs again, so its context can be freed at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "host/host.h"
#include "tests/host/capture_util.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace {

using hosttest::Bytes;

constexpr uint16_t kPid = 0x0BB9;

// A context that knows whether its callback is running and whether its filter was removed. It is
// freed right after the removal: a late call would touch freed memory, which the sanitizers catch,
// and the flags catch it without them.
struct Watched {
  std::atomic<bool> running{false};
  std::atomic<bool> removed{false};
  std::atomic<int> calls{0};
  std::atomic<int>* violations;

  static void callback(void* context, uint32_t, const uint8_t*) {
    auto* w = static_cast<Watched*>(context);
    if (w->removed.load()) w->violations->fetch_add(1);
    w->running.store(true);
    w->calls.fetch_add(1);
    // Make the callback long enough that removals often land inside it.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (w->removed.load()) w->violations->fetch_add(1);
    w->running.store(false);
  }
};

Bytes busy_stream(size_t sections) {
  testsupport::Packetizer p;
  testsupport::SectionHeader h;
  h.table_id = 0x3C;
  for (size_t k = 0; k < sections; ++k) {
    h.table_id_extension = static_cast<uint16_t>(k);
    p.add_section(kPid, testsupport::long_section(h, Bytes(150, static_cast<uint8_t>(k))));
  }
  return p.take();
}

TEST(RemoveUnderLoad, NoCallbackRunsOnceRemoveReturns) {
  testsupport::TempDir dir;
  host::Host host;
  ASSERT_EQ(host.open(dir.write("busy.ts", busy_stream(4000))), "");
  hosttest::EndOfInput end;
  end.attach(host);
  ISectionFilter* filters = hosttest::section_filter(host);
  std::atomic<int> violations{0};
  constexpr int kFilters = 12;
  std::vector<std::unique_ptr<Watched>> watched;
  std::vector<uint32_t> handles(kFilters);
  for (int i = 0; i < kFilters; ++i) {
    watched.push_back(std::make_unique<Watched>());
    watched.back()->violations = &violations;
    ASSERT_EQ(filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &Watched::callback, watched.back().get(),
                                        &handles[static_cast<size_t>(i)]),
              S_OK);
  }
  host.begin_capture();
  // Wait until delivery is well under way, then remove the filters one by one from this thread.
  while (watched[0]->calls.load() < 20 && !end.reached()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  int removed_while_busy = 0;
  for (int i = 0; i < kFilters; ++i) {
    ASSERT_EQ(filters->RemoveSectionFilter(handles[static_cast<size_t>(i)]), S_OK);
    Watched& w = *watched[static_cast<size_t>(i)];
    if (w.running.load()) violations.fetch_add(1);
    w.removed.store(true);
    if (!end.reached()) ++removed_while_busy;
    watched[static_cast<size_t>(i)].reset();  // its context is freed at once
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  host.stop();
  filters->Release();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_GT(removed_while_busy, kFilters / 2) << "the delivery thread should still be busy during the removals";
}

TEST(RemoveUnderLoad, StopEndsDeliveryAndNoCallbackFollows) {
  testsupport::TempDir dir;
  host::Host host;
  ASSERT_EQ(host.open(dir.write("busy.ts", busy_stream(3000))), "");
  ISectionFilter* filters = hosttest::section_filter(host);
  std::atomic<int> violations{0};
  Watched w;
  w.violations = &violations;
  uint32_t handle = 0;
  ASSERT_EQ(filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &Watched::callback, &w, &handle), S_OK);
  host.begin_capture();
  while (w.calls.load() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  host.stop();
  const int calls = w.calls.load();
  EXPECT_FALSE(w.running.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(w.calls.load(), calls);
  EXPECT_LT(calls, 3000);
  EXPECT_FALSE(host.statistics().input_ended);
  EXPECT_EQ(filters->RemoveSectionFilter(handle), S_OK);
  filters->Release();
}

// The callbacks of one capture never overlap, whatever the number of filters and PIDs.
TEST(RemoveUnderLoad, CallbacksNeverRunAtOnce) {
  testsupport::Packetizer p;
  testsupport::SectionHeader h;
  h.table_id = 0x3B;
  for (int k = 0; k < 300; ++k) {
    p.add_section(static_cast<uint16_t>(0x100 + k % 3), testsupport::long_section(h, Bytes(30, 1)));
  }
  testsupport::TempDir dir;
  host::Host host;
  ASSERT_EQ(host.open(dir.write("three.ts", p.take())), "");
  hosttest::EndOfInput end;
  end.attach(host);
  struct Overlap {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> calls{0};
    static void callback(void* context, uint32_t, const uint8_t*) {
      auto* o = static_cast<Overlap*>(context);
      if (o->inside.fetch_add(1) != 0) o->overlaps.fetch_add(1);
      o->calls.fetch_add(1);
      std::this_thread::yield();
      o->inside.fetch_sub(1);
    }
  } overlap;
  ISectionFilter* filters = hosttest::section_filter(host);
  uint32_t handle = 0;
  for (const uint16_t pid : {uint16_t{0x100}, uint16_t{0x101}, uint16_t{0x102}, uint16_t{0x100}}) {
    filters->AddSectionFilter(pid, nullptr, nullptr, 0, &Overlap::callback, &overlap, &handle);
  }
  host.begin_capture();
  ASSERT_TRUE(end.wait());
  host.stop();
  filters->Release();
  EXPECT_EQ(overlap.calls.load(), 400);
  EXPECT_EQ(overlap.overlaps.load(), 0);
}

}  // namespace
