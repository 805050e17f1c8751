#include "host/file_pass.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "host/mapped_file.h"
#include "text/printed.h"

namespace host {

namespace {

// Eight bytes a packet: the feeder reads these lists from the framer's core, a cache line at a time.
struct FramedPacket {
  uint32_t at;         // from the block's base
  uint16_t flags_pid;  // read while the framer had the packet's first bytes at hand
};

// One block of the mapping, framed: its packets in order, and the framer's events among them.
struct FramedBlock {
  const uint8_t* base = nullptr;  // where the framer's call for this block began
  std::vector<FramedPacket> packets;
  std::vector<std::pair<size_t, SyncEvent>> events;  // each comes before packets[first]
  Statistics framer_counters;                        // as they stood at the end of the block
  uint64_t bytes = 0;                                // of the file, for the after_block hook
  uint64_t next_start = 0;  // where the framer's next call begins: what it held back starts there
  bool cut = false;         // an access failed in this block: the file shrank, or its device failed
  bool last = false;
};

enum class Outcome { whole, stopped, cut };

// The framer and the page thread work for the feeder, which the whole pass waits for: where the cores
// are all busy they give way to it. (Refused, the call changes nothing.)
void give_way_to_the_feeder() noexcept {
  sched_param unused{};
  pthread_setschedparam(pthread_self(), SCHED_BATCH, &unused);
}

// The file as it was when opened is read where the page cache holds it: a mapping copies nothing.
// Three threads share a pass, since each of its parts costs about the same: one sets up the page
// tables of the mapping ahead of the framer, one frames (looks at the sync bytes) and takes the page
// tables down behind the feeder, and the calling thread feeds the packets to the demultiplexer, in
// the same order and with the same events between them as one thread would. When the threads cannot
// be started the calling thread does it all, and its page faults set up the pages.
class MappedPass {
 public:
  MappedPass(MappedFile& map, PacketFramer& framer) : map_(map), framer_(framer) {
    for (FramedBlock& block : slots_) block.packets.reserve(FILE_BLOCK_SIZE / TS_PACKET_SIZE + 1);
  }
  ~MappedPass() { stop_threads(); }
  MappedPass(const MappedPass&) = delete;
  MappedPass& operator=(const MappedPass&) = delete;

  // `held_from` is where the bytes the framer held back at the end of the mapping begin.
  Outcome run(Demux& demux, const FilePassHooks& hooks, uint64_t& held_from) {
    bool threads = true;
    try {
      pager_thread_ = std::thread([this] { set_up_pages(); });
      framer_thread_ = std::thread([this] { frame_all(); });
    } catch (const std::system_error&) {
      stop_threads();
      threads = false;
    }
    for (uint64_t n = 0;; ++n) {
      if (hooks.keep_going && !hooks.keep_going()) return Outcome::stopped;
      FramedBlock& block = slots_[n % SLOTS];
      if (threads) {
        std::unique_lock lock(mutex_);
        while (produced_ <= n) {
          feeder_waiting_ = true;
          feeder_cv_.wait(lock);
          feeder_waiting_ = false;
        }
      } else {
        if (const uint64_t to = claim_release()) map_.release_before(to);
        frame_block(n);
      }
      feed(block, demux, hooks);
      if (block.cut) return Outcome::cut;
      if (hooks.after_block) hooks.after_block(block.bytes, block.framer_counters);
      const bool last = block.last;
      held_from = block.next_start;
      {
        std::lock_guard lock(mutex_);
        consumed_ = n + 1;
        if (framer_waiting_ && produced_ - consumed_ <= SLOTS / 2) framer_cv_.notify_one();
      }
      if (last) return Outcome::whole;
    }
  }

 private:
  // The feeder, which the pass waits for, is woken as soon as a block is ready for it; the helpers only
  // when there is a good deal of work for them, so that a pass costs few wake-ups.
  static constexpr size_t SLOTS = 8;
  // The page tables are set up this far ahead of the framer, in steps of kStep: far enough that the
  // framer does not stop at pages, near enough that a pass stopped early has not made the kernel read
  // much of a file that is not in the page cache. The distance grows with the pass, so that a pass
  // that stops after a block or two (a PSI scan) sets up little.
  static constexpr uint64_t kAhead = 8 << 20;
  static constexpr uint64_t kStep = 2 << 20;
  // Pages behind the feeder are given back in steps this large: a step costs a flush of the page
  // tables on every core.
  static constexpr uint64_t kReleaseStep = 4 << 20;

  static uint64_t ahead_of(uint64_t framed) { return std::min(kAhead, FILE_BLOCK_SIZE + framed); }

  void stop_threads() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    framer_cv_.notify_one();
    pager_cv_.notify_one();
    if (framer_thread_.joinable()) framer_thread_.join();
    if (pager_thread_.joinable()) pager_thread_.join();
  }

  // Where the pages the feeder is done with end: before the oldest block it may still be reading.
  uint64_t done_with() const {
    const uint64_t oldest = consumed_ > 0 ? (consumed_ - 1) * FILE_BLOCK_SIZE : 0;
    return oldest - std::min<uint64_t>(oldest, FRAMER_LOOKAHEAD);
  }
  // Where the next release of pages ends, taken on as done; 0 when no step is due. The caller holds the
  // lock, or is the only thread.
  uint64_t claim_release() {
    if (done_with() < released_to_ + kReleaseStep) return 0;
    released_to_ = done_with();
    return released_to_;
  }
  bool prefault_due() const {
    return prefaulted_to_ < map_.bytes().size() &&
           framed_to_ + ahead_of(framed_to_) >= prefaulted_to_ + kStep;
  }

  void set_up_pages() {
    give_way_to_the_feeder();
    const uint64_t size = map_.bytes().size();
    std::unique_lock lock(mutex_);
    while (!quit_) {
      if (!prefault_due() && prefaulted_to_ > 0) {
        pager_waiting_ = true;
        pager_cv_.wait(lock);
        pager_waiting_ = false;
        continue;
      }
      // Behind the framer (it faulted those pages in itself), the pages are not set up again.
      const uint64_t from = std::max(prefaulted_to_, framed_to_);
      const uint64_t step = std::min(kStep, ahead_of(framed_to_));
      lock.unlock();
      // A part that cannot be set up is left to the framer's page faults.
      const bool ok = map_.prefault(from, step);
      lock.lock();
      prefaulted_to_ = ok ? from + step : size;
    }
  }

  void frame_all() {
    give_way_to_the_feeder();
    for (uint64_t n = 0;; ++n) {
      uint64_t release_to = 0;
      {
        std::unique_lock lock(mutex_);
        while (!quit_ && n - consumed_ >= SLOTS) {
          framer_waiting_ = true;
          framer_cv_.wait(lock);
          framer_waiting_ = false;
        }
        if (quit_) return;
        release_to = claim_release();
      }
      // Here rather than on the page thread, which may lag: what is mapped stays a few blocks.
      if (release_to) map_.release_before(release_to);
      frame_block(n);
      const bool last = slots_[n % SLOTS].last;
      {
        std::lock_guard lock(mutex_);
        produced_ = n + 1;
        framed_to_ = offset_;
        if (feeder_waiting_) feeder_cv_.notify_one();
        if (pager_waiting_ && prefault_due()) pager_cv_.notify_one();
      }
      if (last) return;
    }
  }

  void frame_block(uint64_t n) {
    FramedBlock& block = slots_[n % SLOTS];
    block.packets.clear();
    block.events.clear();
    const std::span<const uint8_t> bytes = map_.bytes();
    const uint64_t end = std::min<uint64_t>(offset_ + FILE_BLOCK_SIZE, bytes.size());
    block.base = bytes.data() + start_;
    start_ += framer_.frame(
        bytes.subspan(start_, end - start_), false,
        [&block](std::span<const uint8_t, TS_PACKET_SIZE> packet) {
          block.packets.push_back({static_cast<uint32_t>(packet.data() - block.base),
                                   static_cast<uint16_t>(packet[1] << 8 | packet[2])});
        },
        [&block](const SyncEvent& e) { block.events.emplace_back(block.packets.size(), e); });
    block.framer_counters = framer_.counters();
    block.bytes = end - offset_;
    block.next_start = start_;
    block.cut = map_.cut();
    offset_ = end;
    block.last = block.cut || offset_ >= bytes.size();
  }

  static void feed(const FramedBlock& block, Demux& demux, const FilePassHooks& hooks) {
    size_t e = 0;
    auto events_before = [&](size_t packet) {
      for (; e < block.events.size() && block.events[e].first <= packet; ++e)
        if (hooks.on_sync) hooks.on_sync(block.events[e].second);
    };
    // The packets that will be assembled are read whole: asked for a few packets ahead, their bytes
    // are on the way from memory while the packets before them are fed.
    constexpr size_t kPrefetch = 32;
    const size_t count = block.packets.size();
    for (size_t i = 0; i < count; ++i) {
      if (i + kPrefetch < count && demux.assembling(block.packets[i + kPrefetch].flags_pid)) {
        const uint8_t* ahead = block.base + block.packets[i + kPrefetch].at;
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
        __builtin_prefetch(ahead + 128);
      }
      events_before(i);
      const FramedPacket& packet = block.packets[i];
      demux.feed(std::span<const uint8_t, TS_PACKET_SIZE>(block.base + packet.at, TS_PACKET_SIZE),
                 packet.flags_pid);
    }
    events_before(count);
  }

  MappedFile& map_;
  PacketFramer& framer_;
  // The framer's alone (the calling thread's when there is no framer thread).
  uint64_t offset_ = 0;
  uint64_t start_ = 0;
  std::array<FramedBlock, SLOTS> slots_;
  std::mutex mutex_;
  std::condition_variable feeder_cv_;
  std::condition_variable framer_cv_;
  std::condition_variable pager_cv_;
  uint64_t produced_ = 0;
  uint64_t consumed_ = 0;
  uint64_t framed_to_ = 0;
  uint64_t prefaulted_to_ = 0;
  uint64_t released_to_ = 0;
  bool feeder_waiting_ = false;
  bool framer_waiting_ = false;
  bool pager_waiting_ = false;
  bool quit_ = false;
  std::thread pager_thread_;
  std::thread framer_thread_;
};

}  // namespace

bool run_file_pass(const FileSource& file, PacketFramer& framer, Demux& demux, const FilePassHooks& hooks,
                   std::string& error) {
  uint64_t offset = 0;  // bytes of the file taken in so far
  std::vector<uint8_t> buffer(FRAMER_LOOKAHEAD + FILE_BLOCK_SIZE);
  size_t held = 0;  // bytes the framer left for the next round, at the front of `buffer`
  // A file of a few blocks is read before threads would have started.
  constexpr uint64_t kMapFrom = 8 * FILE_BLOCK_SIZE;
  if (file.size() >= kMapFrom) {
    MappedFile map(file.descriptor(), file.size());
    if (map.valid()) {
      uint64_t held_from = 0;
      MappedPass pass(map, framer);
      const Outcome outcome = pass.run(demux, hooks, held_from);
      if (outcome == Outcome::stopped) return true;
      const bool shorter = map.shorter();
      if (outcome == Outcome::cut || shorter) {
        error = shorter ? text::printed("cannot read %s: it became shorter while it was read",
                                        file.name().c_str())
                        : text::printed("cannot read %s: %s", file.name().c_str(), std::strerror(EIO));
        return false;
      }
      offset = map.bytes().size();
      held = offset - held_from;
      std::memcpy(buffer.data(), map.bytes().data() + held_from, held);
    }
  }

  // What the mapping does not cover: a file that could not be mapped, or what was added to it since.
  auto on_packet = [&demux](std::span<const uint8_t, TS_PACKET_SIZE> packet) { demux.feed(packet); };
  auto on_sync = [&hooks](const SyncEvent& e) {
    if (hooks.on_sync) hooks.on_sync(e);
  };
  for (;;) {
    if (hooks.keep_going && !hooks.keep_going()) return true;
    const long got = file.read_at(offset, std::span<uint8_t>(buffer).subspan(held), error);
    if (got < 0) return false;
    offset += static_cast<uint64_t>(got);
    const bool final = got == 0;
    const size_t total = held + static_cast<size_t>(got);
    const size_t used =
        framer.frame(std::span<const uint8_t>(buffer.data(), total), final, on_packet, on_sync);
    held = total - used;
    if (held > 0) std::memmove(buffer.data(), buffer.data() + used, held);
    if (hooks.after_block) hooks.after_block(static_cast<uint64_t>(got), framer.counters());
    if (final) return true;
  }
}

}  // namespace host
