#include "host/psi_service.h"

#include <algorithm>

#include "host/file_pass.h"
#include "host/psi_collector.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto PENDING_CANCEL_WINDOW = std::chrono::seconds(1);
constexpr auto LIVE_PSI_ABSENT_AFTER = std::chrono::seconds(3);  // PAT and PMT repeat within 0.5 s
constexpr uint64_t LIVE_PSI_MIN_PACKETS = 1000;                  // what "delivered packets" means

// Hands the sections of a PSI pass to its collector.
class CollectorSink final : public SectionSink {
 public:
  explicit CollectorSink(PsiCollector& collector) : collector_(collector) {}
  void on_section(uint16_t pid, std::span<const uint8_t> section) override { collector_.offer(pid, section); }

 private:
  PsiCollector& collector_;
};

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

PsiService::PsiService(Feed& feed, Demux& live_demux, Diagnostics& diagnostics)
    : feed_(feed), live_demux_(live_demux), diagnostics_(diagnostics) {}

void PsiService::offer(uint16_t pid, std::span<const uint8_t> section) {
  if (live_count_.load(std::memory_order_acquire) == 0) return;
  std::lock_guard lock(mutex_);
  bool finished = false;
  for (PsiCollector* c : live_) finished = (c->offer(pid, section) && c->complete()) || finished;
  if (finished) cv_.notify_all();
}

void PsiService::wake() {
  {
    std::lock_guard lock(mutex_);
  }
  cv_.notify_all();
}

HRESULT PsiService::request(uint32_t count, const SectionRequest* requests, uint32_t timeout_seconds,
                            SectionReply* replies) {
  if (count > MAX_SECTION_REQUESTS) return E_FAIL;
  if (count > 0 && (!requests || !replies)) return E_POINTER;
  if (count == 0) return S_OK;
  PsiCollector::clear_replies(count, replies);

  const std::shared_ptr<Source> source = feed_.source();
  if (!source || feed_.stopping()) return E_FAIL;

  uint64_t serial = 0;
  {
    std::lock_guard lock(mutex_);
    if (Clock::now() < pending_cancel_until_) {
      pending_cancel_until_ = {};
      return E_FAIL;
    }
    ++active_requests_;
    serial = cancel_serial_;
  }
  PsiCollector collector(std::span<const SectionRequest>(requests, count));
  const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
  HRESULT status = S_OK;
  if (source->live()) {
    status = live(collector, deadline, serial);
  } else {
    file_pass(static_cast<const FileSource&>(*source), collector, deadline, serial);
  }
  bool cancelled = false;
  {
    std::lock_guard lock(mutex_);
    --active_requests_;
    cancelled = cancel_serial_ != serial;
    last_request_end_ = Clock::now();
  }
  if (collector.crc_failures() > 0) {
    diagnostics_.report(DiagnosticKind::psi_crc, "%llu PSI sections failed their CRC-32 check and were ignored",
                        ull(collector.crc_failures()));
  }
  if (cancelled || FAILED(status)) return E_FAIL;
  if (!collector.fill_replies(replies)) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT PsiService::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (active_requests_ > 0) {
      ++cancel_serial_;
      cancel_serial_seen_.store(cancel_serial_, std::memory_order_release);
    } else if (last_request_end_ == Clock::time_point{} || Clock::now() - last_request_end_ >= PENDING_CANCEL_WINDOW) {
      // A Cancel just before a request starts is meant for it. A Cancel just after one ended was
      // meant for that one, too late: it must not fail the next scan.
      pending_cancel_until_ = Clock::now() + PENDING_CANCEL_WINDOW;
    }
  }
  cv_.notify_all();
  return S_OK;
}

bool PsiService::file_pass(const FileSource& file, PsiCollector& collector, Clock::time_point deadline,
                           uint64_t serial) {
  CollectorSink sink(collector);
  auto demux = std::make_unique<Demux>(sink);
  for (const uint16_t pid : collector.pids()) demux->subscribe(pid);
  PacketFramer framer;
  FilePassHooks hooks;
  hooks.keep_going = [&] {
    return !collector.complete() && cancel_serial_seen_.load(std::memory_order_acquire) == serial &&
           !feed_.stopping() && Clock::now() < deadline;
  };
  std::string error;
  if (!run_file_pass(file, framer, *demux, hooks, error)) {
    diagnostics_.report(DiagnosticKind::input_error, "%s", error.c_str());
    return false;
  }
  return true;
}

HRESULT PsiService::live(PsiCollector& collector, Clock::time_point deadline, uint64_t serial) {
  // The live demultiplexer runs on the delivery thread: waiting on it from there would never end.
  if (feed_.on_delivery_thread()) return E_FAIL;
  const std::vector<uint16_t> pids = collector.pids();
  {
    std::lock_guard lock(mutex_);
    live_.push_back(&collector);
    live_count_.store(live_.size(), std::memory_order_release);
  }
  for (const uint16_t pid : pids) live_demux_.subscribe(pid);
  feed_.start_delivery();
  {
    // PSI is repeated several times a second: a live source that has delivered packets for a few
    // seconds without one section of the requested tables carries none (a capture of the carousel
    // PID alone), and the request ends then instead of at its timeout, so that the capture that
    // follows starts while the carousel still goes by.
    const uint64_t packets_at_start = feed_.packets();
    const auto silence_limit = Clock::now() + LIVE_PSI_ABSENT_AFTER;
    std::unique_lock lock(mutex_);
    auto finished = [&] {
      return collector.complete() || cancel_serial_ != serial || feed_.input_ended() ||
             feed_.stopping();
    };
    while (!finished() && Clock::now() < deadline) {
      cv_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(250)));
      if (Clock::now() >= silence_limit && !collector.took_any() &&
          feed_.packets() - packets_at_start >= LIVE_PSI_MIN_PACKETS)
        break;
    }
    live_.erase(std::remove(live_.begin(), live_.end(), &collector),
                           live_.end());
    live_count_.store(live_.size(), std::memory_order_release);
  }
  for (const uint16_t pid : pids) live_demux_.unsubscribe(pid);
  return S_OK;
}

}  // namespace host
