// The module's analysis command: a new analysis window each time, run modally on the calling thread.
// Nothing of a previous window survives it.
#include <atomic>

#include "capture/dsmcc_dlg.h"
#include "capture/page_save.h"
#include "health/carousel_check.h"
#include "plugin/dsmcc_plugin.h"

namespace plugin {

namespace {

// The window being run, for the report that the program may ask for while it is open (the counts
// from another thread too).
std::atomic<capture::CDSMCCDlg*> g_running{nullptr};

void run_analysis_dialog(OrvexFltMgr* filter_manager) {
  capture::CDSMCCDlg dialog(filter_manager, nullptr);
  struct Running {
    explicit Running(capture::CDSMCCDlg& d) { g_running = &d; }
    ~Running() { g_running = nullptr; }
  } running(dialog);
  dialog.run_modal();
}

health::CaptureReport* describe_running_capture() {
  capture::CDSMCCDlg* running = g_running;
  if (!running) return nullptr;
  return new health::CaptureReport(health::describe_capture(running->model()));
}

bool save_running_capture(const std::string& dir, bool force, std::string& summary, bool& ok) {
  capture::CDSMCCDlg* running = g_running;
  if (!running) return false;
  summary = capture::save_whole_capture(*running, dir, force, ok);
  return true;
}

bool count_running_capture(int32_t& dsi, int32_t& dii, int32_t& ddb) {
  capture::CDSMCCDlg* running = g_running;
  if (!running) return false;
  const store::CaptureCounters& counters = running->counters();
  dsi = counters.dsi_count.load();
  dii = counters.dii_count.load();
  ddb = counters.ddb_count.load();
  return true;
}

}  // namespace

const AnalysisWindow& analysis_window() {
  static const AnalysisWindow window{&run_analysis_dialog, &describe_running_capture, &save_running_capture,
                                     &count_running_capture};
  return window;
}

}  // namespace plugin
