// The "DSMCC Scanning" progress window of a running capture: the DSI, DII and DDB counts of the intake,
// refreshed five times a second by a worker thread. Closing it in any way ends the capture.
//
// The worker only reads the three counters and hands the texts to the window's thread; the window never
// ends while the worker runs: every way of closing stops and joins it first.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "store/carousel_store.h"
#include "ui/ui.h"

namespace capture {

class DSMCCScanning : public ui::Dialog {
 public:
  // counters: dsi_count, dii_count and ddb_count of the analysis dialog; not owned.
  explicit DSMCCScanning(store::CaptureCounters* counters, ui::Dialog* parent = nullptr);
  ~DSMCCScanning() override;

  void start_worker();
  void stop_worker();
  // Reads the three counters atomically and shows them (posted to the window's thread).
  void update_counters();
  // Waits for the handles while running the calling thread's window work; 1 when a quit request came.
  static uint32_t wait_pumping_messages(std::span<ui::Waitable* const> handles);

  bool worker_running() const { return m_worker != nullptr; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  uint32_t worker_thread();
  bool join_apartment(int32_t& hr);
  void leave_apartment();
  void show_counts(int32_t dsi, int32_t dii, int32_t ddb);

  ui::StaticText* m_dsi_text = nullptr;
  ui::StaticText* m_dii_text = nullptr;
  ui::StaticText* m_ddb_text = nullptr;
  std::unique_ptr<ui::Thread> m_worker;
  std::unique_ptr<ui::Event> m_stop_event;
  store::CaptureCounters* m_counters = nullptr;
};

}  // namespace capture
