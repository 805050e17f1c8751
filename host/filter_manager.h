// The host's filter manager: the one object a plug-in gets for section filters (ISectionFilter) and
// for PSI/SI tables (ISISection), and the machinery behind it.
//
// Threads. Every section callback runs on the host's one delivery thread, so the callbacks of a
// capture never run at once. For a file the delivery thread reads the file from its start once, at
// full speed, when the capture begins; for a live source a reader thread takes in what arrives and
// the delivery thread demultiplexes it. PSI requests on a file read the file from its start with a
// reader of their own, on the calling thread, so a PSI scan and a capture never disturb one another;
// on a live source they listen to the live demultiplexer.
//
// Removal. RemoveSectionFilter returns only when the filter's callback is not running and will not
// be called again: a filter is checked under the lock just before each call, and a removal from
// another thread waits while that filter's callback runs. From inside a callback (the delivery
// thread) it does not wait, since the only callback that could be running is the caller's own.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/demux.h"
#include "host/diagnostics.h"
#include "host/filter_table.h"
#include "host/psi_service.h"
#include "host/source.h"
#include "host/statistics.h"
#include "contract/host_contract.h"

namespace host {

class SectionFilterManager final : public OrvexFltMgr,
                                   public ISectionFilter,
                                   public ISISection,
                                   private SectionSink,
                                   private PsiService::Feed {
 public:
  // A new object holding one reference, which the caller owns.
  static SectionFilterManager* create() { return new SectionFilterManager(); }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT AddSectionFilter(uint32_t pid, const uint8_t* match, const uint8_t* mask, uint32_t length,
                           SectionCallback callback, void* context, uint32_t* handle) override;
  HRESULT RemoveSectionFilter(uint32_t handle) override;

  HRESULT Reserved1() override { return E_FAIL; }
  // Fails when the call was cancelled or nothing can be read; a request that got nothing by the
  // timeout or the end of the input has count 0 and the call succeeds.
  HRESULT RequestSections(uint32_t count, const SectionRequest* requests, uint32_t timeout_seconds,
                          SectionReply* replies) override;
  HRESULT Reserved3() override { return E_FAIL; }
  // Makes every RequestSections in progress return promptly with a failure. When none is in
  // progress, a request that starts within the next second is cancelled instead: a scan between
  // two of its requests should not wait out its next one.
  HRESULT CancelRequest() override;

  // The embedding program's side; see host/host.h.
  void attach(std::shared_ptr<Source> source);
  bool begin_capture();
  void set_auto_begin(std::chrono::milliseconds quiet);
  void set_end_of_input_handler(std::function<void()> handler);
  void set_diagnostic_handler(Diagnostics::Handler handler) { diagnostics_.set_handler(std::move(handler)); }
  void stop();
  Statistics statistics() const;
  size_t filter_count() const;
  // PIDs that carried DSM-CC sections while nobody asked for them (the demultiplexer's note).
  std::vector<uint32_t> dsmcc_pids() const;

 private:

  SectionFilterManager();
  ~SectionFilterManager() override;

  void on_section(uint16_t pid, std::span<const uint8_t> section) override;
  bool on_delivery_thread() const noexcept override;
  void ensure_delivery_thread();
  void delivery_main();
  bool wait_for_begin();
  // The input has been read to its end: wakes PSI requests and calls the end-of-input handler.
  void report_end_of_input();
  bool run_capture_file_pass(const FileSource& file);
  bool run_live_pump(LiveSource& live);
  void reader_main(LiveSource& live);
  void push_block(std::vector<uint8_t> block, bool may_drop, uint64_t datagrams);
  void publish(const PacketFramer& framer, uint64_t bytes);
  void report_sync(const SyncEvent& e);
  void report_demux(const DemuxEvent& e);
  // The PSI service's view of the delivery side.
  std::shared_ptr<Source> source() const override;
  bool stopping() const noexcept override { return stop_requested(); }
  bool input_ended() const noexcept override { return input_ended_.load(std::memory_order_acquire); }
  void start_delivery() override { ensure_delivery_thread(); }
  uint64_t packets() const override { return statistics().packets; }
  bool stop_requested() const noexcept { return stopping_.load(std::memory_order_acquire); }

  std::atomic<uint32_t> refs_{1};
  Diagnostics diagnostics_;
  std::shared_ptr<Source> source_;
  std::unique_ptr<FilterTable> table_;  // the filters and the demultiplexer

  // Threads and the capture's course.
  mutable std::mutex control_mutex_;
  std::condition_variable control_cv_;
  std::thread delivery_thread_;  // holds a reference to this object while it runs
  std::atomic<std::thread::id> delivery_id_{};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> input_ended_{false};
  bool begin_requested_ = false;
  std::chrono::milliseconds auto_begin_{0};
  bool filter_added_ = false;
  bool pass_running_ = false;                 // a capture pass over a file is under way
  std::atomic<bool> restart_requested_{false};  // a new capture wants a pass of its own
  std::chrono::steady_clock::time_point last_filter_change_{};
  std::function<void()> end_handler_;

  // Blocks of a live source, from the reader thread to the delivery thread. An empty block marks the
  // end of the input.
  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<std::vector<uint8_t>> queue_;

  // What the host has seen of the capture's input (a PSI pass over a file is not counted), published
  // block by block as one copy. The callback calls and the end of input are added when it is read.
  mutable std::mutex stats_mutex_;
  Statistics stats_;

  std::unique_ptr<PsiService> psi_;  // borrows table_'s demultiplexer and diagnostics_, declared before it
};

}  // namespace host
