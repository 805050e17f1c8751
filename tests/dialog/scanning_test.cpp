// The capture progress window: the worker's refresh period, the texts it shows, and every way of
// closing, including a quit request that arrives while the worker is being joined.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/dsmcc_scanning.h"
#include "tests/dialog/automation.h"
#include "tests/support/helpers.h"

namespace {

using Clock = std::chrono::steady_clock;
using testdialog::Automation;

std::string text_of(const ui::Dialog& window, int id) {
  const ui::Control* c = window.control(id);
  return c ? c->text() : "<missing>";
}

class ScanningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    counters.dsi_count = 3;
    counters.dii_count = 5;
    counters.ddb_count = 7;
  }
  testsupport::LogCapture log;
  CaptureCounters counters;
  Automation automation;
};

// Polls the window's texts from its own thread until they read dsi/dii/ddb; then closes it.
struct TextWatcher {
  void start(ui::Dialog& window, const char* dsi, const char* dii, const char* ddb) {
    thread = std::thread([this, &window, dsi, dii, ddb] {
      const auto give_up = Clock::now() + std::chrono::seconds(20);
      while (!done.load() && Clock::now() < give_up) {
        window.post([this, &window, dsi, dii, ddb] {
          if (done.load()) return;
          if (text_of(window, resources::SCANNING_DSI_COUNT) == dsi &&
              text_of(window, resources::SCANNING_DII_COUNT) == dii &&
              text_of(window, resources::SCANNING_DDB_COUNT) == ddb) {
            seen_at = Clock::now();
            seen = true;
            done = true;
            window.button(resources::ID_CANCEL)->click();
          }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (!done.load()) window.post([&window] { window.button(resources::ID_CANCEL)->click(); });
    });
  }
  ~TextWatcher() {
    done = true;
    if (thread.joinable()) thread.join();
  }
  std::thread thread;
  std::atomic<bool> done{false};
  bool seen = false;
  Clock::time_point seen_at;
};

TEST_F(ScanningTest, LaterRefreshesFollowTheCounters) {
  TextWatcher watcher;
  std::thread intake;
  automation.on(resources::DIALOG_SCANNING, [&](ui::Dialog& w) {
    // Another thread counts meanwhile, as the intake does.
    intake = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      for (int i = 0; i < 4; ++i) counters.dsi_count.fetch_add(1);
      counters.ddb_count.fetch_add(1000);
    });
    watcher.start(w, "7", "5", "1007");
  });
  DSMCCScanning progress(&counters);
  progress.run_modal();
  intake.join();
  watcher.done = true;
  watcher.thread.join();
  EXPECT_TRUE(watcher.seen) << "texts: " << text_of(progress, resources::SCANNING_DSI_COUNT) << " "
                            << text_of(progress, resources::SCANNING_DDB_COUNT);
}

TEST_F(ScanningTest, EveryWayOfClosingStopsTheWorkerFirst) {
  struct Way {
    const char* name;
    std::function<void(ui::Dialog&)> act;
  };
  const Way ways[] = {
      {"cancel button", [](ui::Dialog& w) { w.button(resources::ID_CANCEL)->click(); }},
      {"close box or escape", [](ui::Dialog& w) { w.close(); }},
      {"enter", [](ui::Dialog& w) { w.press_enter(); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    log.reopen();
    automation.on(resources::DIALOG_SCANNING, way.act);
    DSMCCScanning progress(&counters);
    progress.run_modal();
    EXPECT_TRUE(progress.ended());
    EXPECT_FALSE(progress.worker_running());
    EXPECT_EQ(log.count(4, "DSMCCScanning: requested worker thread stop"), 1u) << log.dump();
    EXPECT_EQ(log.count(4, "ending worker thread"), 1u);
  }
}

TEST_F(ScanningTest, QuitRequestDuringTheStopEndsTheWaitWithOne) {
  automation.on(resources::DIALOG_SCANNING, [](ui::Dialog& w) {
    ui::post_quit_message();
    w.button(resources::ID_CANCEL)->click();
  });
  DSMCCScanning progress(&counters);
  EXPECT_EQ(progress.run_modal(), ui::RESULT_CANCEL);
  EXPECT_TRUE(log.has(1, "worker thread not termimated successfully, ret=1")) << log.dump();
  EXPECT_FALSE(progress.worker_running()) << "the event and thread are released anyway";
  EXPECT_TRUE(log.has(4, "ending worker thread")) << "the worker still ended";
}

}  // namespace
