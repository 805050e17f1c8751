// The capture progress window: the worker's refresh period, the texts it shows, and every way of
// closing, including a quit request that arrives while the worker is being joined.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/dsmcc_scanning.h"
#include "tests/dialog/automation.h"
#include "tests/support/helpers.h"

using namespace capture;

namespace {

using testdialog::Automation;

TEST(Scanning, EveryWayOfClosingStopsTheWorkerFirst) {
  testsupport::LogCapture log;
  store::CaptureCounters counters;
  Automation automation;
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

}  // namespace
