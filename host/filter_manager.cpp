#include "host/filter_manager.h"

#include <algorithm>
#include <cstring>

#include "host/file_pass.h"
#include "bytes/byte_reader.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t PIPE_BLOCK_SIZE = 1 << 20;
constexpr size_t PIPE_QUEUE_LIMIT = 16;          // blocks; the reader waits beyond this
constexpr size_t KEPT_LIVE_BYTES_LIMIT = size_t{64} << 20;  // a live source's bytes before its capture
constexpr auto LIVE_CAPTURE_SETTLE =
    std::chrono::milliseconds(200);              // filters quiet: the capture is in place
constexpr size_t UDP_BLOCK_SIZE = 256 * 1024;    // datagrams gathered into one block
constexpr size_t UDP_QUEUE_LIMIT = 64;           // blocks; datagrams are dropped beyond this
constexpr size_t MAX_DATAGRAM_PAYLOAD = 65536;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

SectionFilterManager::SectionFilterManager()
    : table_(std::make_unique<FilterTable>(static_cast<SectionSink&>(*this))),
      psi_(std::make_unique<PsiService>(static_cast<PsiService::Feed&>(*this), table_->demux(),
                                        diagnostics_)) {
  table_->demux().set_event_handler([this](const DemuxEvent& e) { report_demux(e); });
}

SectionFilterManager::~SectionFilterManager() { stop(); }

HRESULT SectionFilterManager::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_OrvexFltMgr) {
    *out = static_cast<OrvexFltMgr*>(this);
  } else if (iid == IID_ISectionFilter) {
    *out = static_cast<ISectionFilter*>(this);
  } else if (iid == IID_ISISection) {
    *out = static_cast<ISISection*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

uint32_t SectionFilterManager::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t SectionFilterManager::Release() {
  const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

// --- filters -----------------------------------------------------------------------------------

HRESULT SectionFilterManager::AddSectionFilter(uint32_t pid, const uint8_t* match, const uint8_t* mask,
                                               uint32_t length, SectionCallback callback, void* context,
                                               uint32_t* handle) {
  if (!handle) return E_POINTER;
  uint32_t new_handle = 0;
  if (const HRESULT r = table_->add(pid, match, mask, length, callback, context, new_handle); FAILED(r))
    return r;
  bool start = false;
  {
    std::lock_guard lock(control_mutex_);
    filter_added_ = true;
    last_filter_change_ = Clock::now();
    start = auto_begin_.count() > 0 || (source_ && source_->live());
    // With the automatic begin, filters installed during a pass are a new capture: the pass under
    // way gives up and a pass of their own follows once the filters are quiet, so that they see the
    // file from its first packet. (Filters added from inside a callback belong to the running one.)
    if (auto_begin_.count() > 0 && pass_running_ && !on_delivery_thread()) {
      restart_requested_.store(true, std::memory_order_release);
      begin_requested_ = false;
    }
  }
  control_cv_.notify_all();
  if (start) ensure_delivery_thread();
  *handle = new_handle;
  return S_OK;
}

HRESULT SectionFilterManager::RemoveSectionFilter(uint32_t handle) {
  // From inside a callback the running one is the caller's own: waiting for it would never end.
  if (const HRESULT r = table_->remove(handle, !on_delivery_thread()); FAILED(r)) return r;
  {
    std::lock_guard lock(control_mutex_);
    last_filter_change_ = Clock::now();
  }
  control_cv_.notify_all();
  return S_OK;
}

size_t SectionFilterManager::filter_count() const { return table_->size(); }

void SectionFilterManager::on_section(uint16_t pid, std::span<const uint8_t> section) {
  // Once stop() or a new pass is asked for, the rest of the block being demultiplexed reaches nobody.
  if (stop_requested() || restart_requested_.load(std::memory_order_acquire)) return;
  psi_->offer(pid, section);
  table_->deliver(pid, section);
}

// --- the capture's course ------------------------------------------------------------------------

void SectionFilterManager::attach(std::shared_ptr<Source> source) {
  std::lock_guard lock(control_mutex_);
  source_ = std::move(source);
}

bool SectionFilterManager::on_delivery_thread() const noexcept {
  return delivery_id_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void SectionFilterManager::ensure_delivery_thread() {
  std::lock_guard lock(control_mutex_);
  if (delivery_thread_.joinable() || stop_requested() || !source_) return;
  AddRef();
  delivery_thread_ = std::thread([this] { delivery_main(); });
}

bool SectionFilterManager::begin_capture() {
  {
    std::lock_guard lock(control_mutex_);
    if (!source_ || stop_requested()) return false;
    if (begin_requested_) {
      // A begin during a pass is a new capture: the pass under way gives up and a whole pass follows.
      if (!pass_running_ || source_->live()) return false;
      restart_requested_.store(true, std::memory_order_release);
    }
    begin_requested_ = true;
  }
  control_cv_.notify_all();
  ensure_delivery_thread();
  return true;
}

void SectionFilterManager::set_auto_begin(std::chrono::milliseconds quiet) {
  bool start = false;
  {
    std::lock_guard lock(control_mutex_);
    auto_begin_ = quiet;
    start = quiet.count() > 0 && filter_added_;
  }
  control_cv_.notify_all();
  if (start) ensure_delivery_thread();
}

void SectionFilterManager::set_end_of_input_handler(std::function<void()> handler) {
  std::lock_guard lock(control_mutex_);
  end_handler_ = std::move(handler);
}

bool SectionFilterManager::wait_for_begin() {
  std::unique_lock lock(control_mutex_);
  for (;;) {
    if (stop_requested()) return false;
    if (begin_requested_) break;
    if (auto_begin_.count() > 0 && filter_added_) {
      const auto due = last_filter_change_ + auto_begin_;
      if (Clock::now() >= due) break;
      control_cv_.wait_until(lock, due);
    } else {
      control_cv_.wait(lock);
    }
  }
  begin_requested_ = true;
  return true;
}

void SectionFilterManager::delivery_main() {
  delivery_id_.store(std::this_thread::get_id(), std::memory_order_release);
  std::shared_ptr<Source> source;
  {
    std::lock_guard lock(control_mutex_);
    source = source_;
  }
  if (source->live()) {
    if (run_live_pump(static_cast<LiveSource&>(*source))) report_end_of_input();
  } else {
    // Each capture gets the whole file: once a pass has ended, the next begin (or, with the automatic
    // begin, the next filters installed) delivers it again from its start.
    while (wait_for_begin()) {
      {
        std::lock_guard lock(control_mutex_);
        pass_running_ = true;
        restart_requested_.store(false, std::memory_order_release);
      }
      const bool whole = run_capture_file_pass(static_cast<const FileSource&>(*source));
      bool restarted = false;
      {
        std::lock_guard lock(control_mutex_);
        pass_running_ = false;
        // A new capture asked for a pass while this one ran (even at its very end): its pass
        // follows, and this one reports no end of input to it.
        restarted = restart_requested_.exchange(false);
        if (!restarted) {
          begin_requested_ = false;
          filter_added_ = false;
        }
      }
      if (!whole && !restarted) break;
      if (!restarted) report_end_of_input();
    }
  }
  delivery_id_.store(std::thread::id{}, std::memory_order_release);
  Release();  // may delete this object: nothing may follow
}

void SectionFilterManager::report_end_of_input() {
  input_ended_.store(true, std::memory_order_release);
  psi_->wake();
  std::function<void()> handler;
  {
    std::lock_guard lock(control_mutex_);
    handler = end_handler_;
  }
  if (handler && !stop_requested()) handler();
}

bool SectionFilterManager::run_capture_file_pass(const FileSource& file) {
  PacketFramer framer;
  uint64_t bytes = 0;
  FilePassHooks hooks;
  hooks.keep_going = [this] {
    return !stop_requested() && !restart_requested_.load(std::memory_order_acquire);
  };
  // A pass starts at the file's first packet: nothing of an earlier pass's position carries over.
  table_->demux().restart();
  hooks.after_block = [&](uint64_t block) {
    bytes += block;
    publish(framer, bytes);
  };
  hooks.on_sync = [this](const SyncEvent& e) { report_sync(e); };
  std::string error;
  if (!run_file_pass(file, framer, table_->demux(), hooks, error)) {
    diagnostics_.report(DiagnosticKind::input_error, "%s", error.c_str());
  }
  publish(framer, bytes);
  return !stop_requested() && !restart_requested_.load(std::memory_order_acquire);
}

void SectionFilterManager::push_block(std::vector<uint8_t> block, bool may_drop, uint64_t datagrams) {
  std::unique_lock lock(queue_mutex_);
  if (may_drop) {
    if (queue_.size() >= UDP_QUEUE_LIMIT && !block.empty()) {
      lock.unlock();
      {
        std::lock_guard stats_lock(stats_mutex_);
        stats_.input_overruns += datagrams;
      }
      diagnostics_.report(DiagnosticKind::input_overrun,
                          "input overrun: %llu datagrams dropped because the section callbacks fall behind",
                          ull(datagrams));
      return;
    }
  } else {
    queue_cv_.wait(lock, [&] { return stop_requested() || queue_.size() < PIPE_QUEUE_LIMIT; });
    if (stop_requested()) return;
  }
  queue_.push_back(std::move(block));
  queue_cv_.notify_all();
}

void SectionFilterManager::reader_main(LiveSource& live) {
  if (live.datagrams()) {
    std::vector<uint8_t> datagram(MAX_DATAGRAM_PAYLOAD);
    for (;;) {
      // Gather what has arrived into one block: one hand-over per burst, not per datagram.
      std::vector<uint8_t> block;
      uint64_t count = 0;
      bool wait = true;
      while (block.size() < UDP_BLOCK_SIZE) {
        const auto r = live.read(datagram, wait);
        if (r.status == LiveSource::ReadStatus::interrupted) return;
        if (r.status == LiveSource::ReadStatus::error) {
          diagnostics_.report(DiagnosticKind::input_error, "%s", r.error.c_str());
          if (!wait) break;
          if (!block.empty()) push_block(std::move(block), true, count);
          push_block({}, false, 0);  // the socket is unusable: the input ends here
          return;
        }
        if (r.status != LiveSource::ReadStatus::data || r.size == 0) break;
        block.push_back(static_cast<uint8_t>(r.size >> 8));
        block.push_back(static_cast<uint8_t>(r.size & 0xFF));
        block.insert(block.end(), datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(r.size));
        ++count;
        wait = false;
      }
      if (!block.empty()) push_block(std::move(block), true, count);
    }
  }
  // Read into one buffer and hand over blocks of the size that came: a pipe that trickles must not
  // cost a large block per read.
  std::vector<uint8_t> buffer(PIPE_BLOCK_SIZE);
  for (;;) {
    const auto r = live.read(buffer, true);
    if (r.status == LiveSource::ReadStatus::interrupted) return;
    if (r.status == LiveSource::ReadStatus::data) {
      if (r.size == 0) continue;
      push_block(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.size)),
                 false, 0);
      continue;
    }
    if (r.status == LiveSource::ReadStatus::error) {
      diagnostics_.report(DiagnosticKind::input_error, "%s", r.error.c_str());
    }
    push_block({}, false, 0);  // the end of the input
    return;
  }
}

bool SectionFilterManager::run_live_pump(LiveSource& live) {
  std::thread reader([this, &live] { reader_main(live); });
  PacketFramer framer;
  std::vector<uint8_t> carry;  // a pipe's bytes held back by the framer
  uint64_t bytes = 0;
  auto on_packet = [this](std::span<const uint8_t, TS_PACKET_SIZE> packet) { table_->demux().feed(packet); };
  auto on_sync = [this](const SyncEvent& e) { report_sync(e); };
  // A block through a framer: datagrams one by one, a pipe's bytes behind what the framer held back.
  auto feed_block = [&](PacketFramer& f, std::vector<uint8_t>& held, const std::vector<uint8_t>& block,
                        uint64_t* counted) {
    if (live.datagrams()) {
      bytes::ByteReader r(block);
      while (!r.at_end()) {
        const uint16_t length = r.be16();
        const auto payload = r.bytes(length);
        if (!r.ok()) break;
        if (counted) *counted += length;
        f.begin_unit();
        f.frame(payload, true, on_packet, on_sync);
      }
    } else {
      if (counted) *counted += block.size();
      held.insert(held.end(), block.begin(), block.end());
      const size_t used = f.frame(held, false, on_packet, on_sync);
      held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    }
  };
  // What came before the capture (the PSI scan's bytes) is kept and delivered again once the capture
  // has installed all its filters: a live source cannot be read twice, and a carousel found during
  // the scan is then captured from the scan's first packet on. Within a bound, so that a scan of a
  // fast feed cannot take the memory. While the capture installs its filters one by one, blocks are
  // only kept, so that every filter gets the same bytes in the same order.
  struct KeptBlock {
    std::vector<uint8_t> bytes;
    bool counted;  // fed once already, its bytes in `bytes` read
  };
  std::deque<KeptBlock> kept;
  size_t kept_bytes = 0;
  bool keeping = true;
  auto keep = [&](std::vector<uint8_t> block, bool counted) {
    kept_bytes += block.size();
    kept.push_back({std::move(block), counted});
    while (kept_bytes > KEPT_LIVE_BYTES_LIMIT && !kept.empty()) {
      kept_bytes -= kept.front().bytes.size();
      kept.pop_front();
    }
  };
  // The capture is in place once it has begun, or once its filters have been quiet for a moment
  // (a host where nobody calls begin_capture).
  auto capture_ready = [&] {
    if (filter_count() == 0) return false;
    std::lock_guard lock(control_mutex_);
    return begin_requested_ || Clock::now() - last_filter_change_ >= LIVE_CAPTURE_SETTLE;
  };
  // The replay's framer, which has seen every kept byte in order, goes on with the live blocks.
  auto replay_kept = [&] {
    keeping = false;
    PacketFramer replay_framer;
    std::vector<uint8_t> replay_held;
    for (const KeptBlock& block : kept)
      feed_block(replay_framer, replay_held, block.bytes, block.counted ? nullptr : &bytes);
    framer = replay_framer;
    carry = std::move(replay_held);
    kept.clear();
    kept_bytes = 0;
  };
  bool ended = false;
  for (;;) {
    const bool holding = keeping && !kept.empty() && filter_count() > 0;
    if (holding && capture_ready()) {
      replay_kept();
      publish(framer, bytes);
      continue;
    }
    std::vector<uint8_t> block;
    {
      // While blocks wait for the capture to be in place, the wait for the next one is short, so that
      // a feed that has gone quiet still has them delivered.
      std::unique_lock lock(queue_mutex_);
      auto arrived = [&] { return stop_requested() || !queue_.empty(); };
      if (holding) {
        if (!queue_cv_.wait_for(lock, std::chrono::milliseconds(50), arrived)) continue;
      } else {
        queue_cv_.wait(lock, arrived);
      }
      if (stop_requested()) break;
      block = std::move(queue_.front());
      queue_.pop_front();
    }
    queue_cv_.notify_all();
    if (block.empty()) {
      if (keeping && !kept.empty()) {
        // The input ended before the capture: the scan hears of it now, the capture once it has had
        // the kept bytes (or when the host stops without one).
        input_ended_.store(true, std::memory_order_release);
        psi_->wake();
        while (!stop_requested() && !capture_ready()) {
          std::unique_lock lock(control_mutex_);
          control_cv_.wait_for(lock, std::chrono::milliseconds(50));
        }
        if (!stop_requested()) replay_kept();
      }
      framer.frame(carry, true, on_packet, on_sync);
      carry.clear();
      ended = true;
      break;
    }
    if (keeping && filter_count() > 0) {
      // The capture is installing its filters: this block waits for the replay.
      keep(std::move(block), false);
      continue;
    }
    feed_block(framer, carry, block, &bytes);
    if (keeping) keep(std::move(block), true);
    publish(framer, bytes);
  }
  publish(framer, bytes);
  live.interrupt();
  {
    std::lock_guard lock(queue_mutex_);
  }
  queue_cv_.notify_all();
  reader.join();
  return ended;
}

void SectionFilterManager::stop() {
  std::shared_ptr<Source> source;
  {
    std::lock_guard lock(control_mutex_);
    stopping_.store(true, std::memory_order_release);
    source = source_;
  }
  control_cv_.notify_all();
  {
    std::lock_guard lock(queue_mutex_);
  }
  queue_cv_.notify_all();
  psi_->wake();
  if (source && source->live()) static_cast<LiveSource&>(*source).interrupt();
  std::thread delivery;
  {
    std::lock_guard lock(control_mutex_);
    delivery = std::move(delivery_thread_);
  }
  if (!delivery.joinable()) return;
  // Stopped from the delivery thread itself (a callback, the end-of-input handler, or its last
  // Release): it cannot wait for itself; it holds a reference and ends on its own.
  if (delivery.get_id() == std::this_thread::get_id()) {
    delivery.detach();
  } else {
    delivery.join();
  }
}

// --- statistics and diagnostics -------------------------------------------------------------------

void SectionFilterManager::publish(const PacketFramer& framer, uint64_t bytes) {
  Statistics s = table_->demux().counters();
  s += framer.counters();
  s.bytes = bytes;
  std::lock_guard lock(stats_mutex_);
  s.input_overruns = stats_.input_overruns;  // the reader thread's, counted in place
  stats_ = s;
}

Statistics SectionFilterManager::statistics() const {
  Statistics s;
  {
    std::lock_guard lock(stats_mutex_);
    s = stats_;
  }
  s.sections_delivered = table_->delivered();
  s.input_ended = input_ended_.load(std::memory_order_acquire);
  return s;
}

void SectionFilterManager::report_sync(const SyncEvent& e) {
  if (e.kind == SyncEvent::torn_packet) {
    diagnostics_.report(DiagnosticKind::torn_packet, "packet at byte %llu is cut short (%llu bytes); dropped",
                        ull(e.lost_at), ull(e.found_at - e.lost_at));
  } else {
    diagnostics_.report(DiagnosticKind::sync,
                        "sync byte missing at byte %llu; packets found again at byte %llu", ull(e.lost_at),
                        ull(e.found_at));
  }
}

void SectionFilterManager::report_demux(const DemuxEvent& e) {
  const char* dropped = e.partial_dropped ? "; the partial section was dropped" : "";
  const unsigned pid = e.pid;
  switch (e.kind) {
    case DemuxEvent::continuity:
      diagnostics_.report(DiagnosticKind::continuity,
                          "PID 0x%04x: continuity_counter %u where %u was expected%s", pid,
                          unsigned{e.got_cc}, unsigned{e.expected_cc}, dropped);
      break;
    case DemuxEvent::transport_error:
      diagnostics_.report(DiagnosticKind::transport_error,
                          "PID 0x%04x: packet with transport_error_indicator dropped%s", pid, dropped);
      break;
    case DemuxEvent::bad_adaptation:
      diagnostics_.report(DiagnosticKind::malformed_packet,
                          "PID 0x%04x: adaptation_field_length runs past the packet; packet dropped%s", pid,
                          dropped);
      break;
    case DemuxEvent::bad_pointer:
      diagnostics_.report(DiagnosticKind::malformed_packet,
                          "PID 0x%04x: pointer_field runs past the packet; packet dropped%s", pid, dropped);
      break;
    case DemuxEvent::bad_section_length:
      diagnostics_.report(DiagnosticKind::section_length,
                          "PID 0x%04x: section_length above 4093; the section was dropped", pid);
      break;
    case DemuxEvent::section_cut:
      diagnostics_.report(DiagnosticKind::section_cut,
                          "PID 0x%04x: a section was cut short by the start of the next one and dropped",
                          pid);
      break;
  }
}

// --- PSI requests -------------------------------------------------------------------------------

HRESULT SectionFilterManager::RequestSections(uint32_t count, const SectionRequest* requests,
                                              uint32_t timeout_seconds, SectionReply* replies) {
  return psi_->request(count, requests, timeout_seconds, replies);
}

HRESULT SectionFilterManager::CancelRequest() { return psi_->cancel(); }

std::shared_ptr<Source> SectionFilterManager::source() const {
  std::lock_guard lock(control_mutex_);
  return source_;
}

std::vector<uint32_t> SectionFilterManager::dsmcc_pids() const { return table_->demux().dsmcc_pids(); }

}  // namespace host
