#include "capture/dsmcc_scanning.h"

#include <cstdio>

#include "log/debug_log.h"

namespace capture {

DSMCCScanning::DSMCCScanning(store::CaptureCounters* counters, ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_SCANNING, parent), m_counters(counters) {
  m_dsi_text = static_text(resources::SCANNING_DSI_COUNT);
  m_dii_text = static_text(resources::SCANNING_DII_COUNT);
  m_ddb_text = static_text(resources::SCANNING_DDB_COUNT);
}

DSMCCScanning::~DSMCCScanning() {
  if (m_worker) stop_worker();
}

bool DSMCCScanning::OnInitDialog() {
  start_worker();
  return true;
}

void DSMCCScanning::OnOK() {
  stop_worker();
  end_dialog(ui::RESULT_OK);
}

void DSMCCScanning::OnCancel() {
  stop_worker();
  end_dialog(ui::RESULT_CANCEL);
}

void DSMCCScanning::start_worker() {
  if (m_worker) return;
  m_stop_event = std::make_unique<ui::Event>(false, false);
  // The window deletes the thread object in stop_worker, after it has waited for the thread's end.
  m_worker = std::make_unique<ui::Thread>([this] { return worker_thread(); }, true);
  m_worker->resume();
}

// There is no COM apartment on this platform; initialising one cannot fail.
bool DSMCCScanning::join_apartment(int32_t& hr) {
  hr = 0;
  return true;
}
void DSMCCScanning::leave_apartment() {}

uint32_t DSMCCScanning::worker_thread() {
  int32_t hr = 0;
  if (!join_apartment(hr)) {
    logio::g_log.log(1, "Failed CoInitializeEx(), hr=%#x", static_cast<unsigned>(hr));
    return static_cast<uint32_t>(-1);
  }
  // The first refresh comes one period after the start, and none follows the stop request.
  while (!m_stop_event->wait(200)) update_counters();
  logio::g_log.log(4, "ending worker thread");
  leave_apartment();
  return 0;
}

void DSMCCScanning::update_counters() {
  if (!m_counters) return;
  const int32_t dsi = m_counters->dsi_count.fetch_add(0);
  const int32_t dii = m_counters->dii_count.fetch_add(0);
  const int32_t ddb = m_counters->ddb_count.fetch_add(0);
  // Controls belong to the window's thread: the texts are set there.
  post([this, dsi, dii, ddb] { show_counts(dsi, dii, ddb); });
}

void DSMCCScanning::show_counts(int32_t dsi, int32_t dii, int32_t ddb) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(dsi));
  if (m_dsi_text) m_dsi_text->set_text(text);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(dii));
  if (m_dii_text) m_dii_text->set_text(text);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(ddb));
  if (m_ddb_text) m_ddb_text->set_text(text);
}

uint32_t DSMCCScanning::wait_pumping_messages(std::span<ui::Waitable* const> handles) {
  return ui::wait_pumping_messages(handles);
}

void DSMCCScanning::stop_worker() {
  logio::g_log.log(4, "DSMCCScanning: requested worker thread stop");
  if (!m_worker) return;
  m_stop_event->set();
  // The wait must run the window's work: the worker's last texts may be queued for this thread.
  ui::Waitable* handles[] = {m_worker.get()};
  const uint32_t ret = wait_pumping_messages(handles);
  if (ret != 0)
    logio::g_log.log(1, "worker thread not termimated successfully, ret=%u", static_cast<unsigned>(ret));
  // Deleting the thread object joins the thread. It goes before the event: a wait cut short by a quit
  // request leaves a worker that may still be looking at the event.
  m_worker.reset();
  m_stop_event.reset();
}

}  // namespace capture
