// The host's PSI/SI service: RequestSections and CancelRequest. On a file each request reads the file
// from its start with a reader of its own, on the calling thread, so that a scan and a capture never
// disturb one another; on a live source it listens to the live demultiplexer, which hands it every
// section of the PIDs it asked for before the filters get theirs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "host/demux.h"
#include "host/diagnostics.h"
#include "host/source.h"
#include "contract/host_contract.h"

namespace host {

class PsiCollector;

class PsiService {
 public:
  // What the service needs of the delivery side it listens to.
  class Feed {
   public:
    virtual std::shared_ptr<Source> source() const = 0;
    virtual bool stopping() const noexcept = 0;
    virtual bool input_ended() const noexcept = 0;
    virtual bool on_delivery_thread() const noexcept = 0;
    virtual void start_delivery() = 0;
    virtual uint64_t packets() const = 0;

   protected:
    ~Feed() = default;
  };

  PsiService(Feed& feed, Demux& live_demux, Diagnostics& diagnostics);
  PsiService(const PsiService&) = delete;
  PsiService& operator=(const PsiService&) = delete;

  // Fails when the call was cancelled or nothing can be read; a request that got nothing by the
  // timeout or the end of the input has count 0 and the call succeeds.
  HRESULT request(uint32_t count, const SectionRequest* requests, uint32_t timeout_seconds, SectionReply* replies);
  // Makes every request in progress return promptly with a failure. When none is in progress, a
  // request that starts within the next second is cancelled instead: a scan between two of its
  // requests should not wait out its next one.
  HRESULT cancel();
  // A whole section of the live demultiplexer, on the delivery thread.
  void offer(uint16_t pid, std::span<const uint8_t> section);
  // The feed has ended or is stopping: waiting requests look again.
  void wake();

 private:
  bool file_pass(const FileSource& file, PsiCollector& collector, std::chrono::steady_clock::time_point deadline,
                 uint64_t serial);
  HRESULT live(PsiCollector& collector, std::chrono::steady_clock::time_point deadline, uint64_t serial);

  Feed& feed_;
  Demux& live_demux_;
  Diagnostics& diagnostics_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<PsiCollector*> live_;
  std::atomic<size_t> live_count_{0};
  uint64_t cancel_serial_ = 0;
  std::atomic<uint64_t> cancel_serial_seen_{0};  // mirror of cancel_serial_ for lock-free checks
  int active_requests_ = 0;
  std::chrono::steady_clock::time_point pending_cancel_until_{};
  std::chrono::steady_clock::time_point last_request_end_{};
};

}  // namespace host
