#include "host/file_pass.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

namespace {

// The reads of a pass run one step ahead of the framing, on a thread of their own: on a multiplex
// most of a pass is the copy out of the page cache, and with the two overlapped a pass costs little
// more than the read alone. Each slot keeps room in front of its block for the bytes the framer held
// back from the block before, so no block is copied again.
constexpr size_t kSlots = 3;
constexpr size_t kRoom = FRAMER_LOOKAHEAD;

struct Slot {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kRoom + FILE_BLOCK_SIZE);
  long got = 0;  // bytes read into the block; 0 at the end of the file, -1 after a failed read
  std::string error;
  bool filled = false;
};

class ReadAhead {
 public:
  explicit ReadAhead(const FileSource& file) : file_(file), thread_([this] { run(); }) {}
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block in file order; valid until release().
  Slot& next() {
    Slot& slot = slots_[consumed_ % kSlots];
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slot.filled; });
    return slot;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      slots_[consumed_ % kSlots].filled = false;
      ++consumed_;
    }
    changed_.notify_all();
  }

 private:
  void run() {
    uint64_t offset = 0;
    for (size_t produced = 0;; ++produced) {
      Slot& slot = slots_[produced % kSlots];
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || !slot.filled; });
        if (stop_) return;
      }
      std::string error;
      const long got = file_.read_at(offset, std::span<uint8_t>(slot.bytes).subspan(kRoom), error);
      {
        std::lock_guard lock(mutex_);
        slot.got = got;
        slot.error = std::move(error);
        slot.filled = true;
      }
      changed_.notify_all();
      if (got <= 0) return;
      offset += static_cast<uint64_t>(got);
    }
  }

  const FileSource& file_;
  Slot slots_[kSlots];
  size_t consumed_ = 0;  // the consumer's alone
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once everything it uses exists
};

}  // namespace

bool run_file_pass(const FileSource& file, PacketFramer& framer, Demux& demux, const FilePassHooks& hooks,
                   std::string& error) {
  if (hooks.keep_going && !hooks.keep_going()) return true;
  ReadAhead reads(file);
  uint8_t held_bytes[kRoom];
  size_t held = 0;  // bytes the framer left for the next round
  auto on_packet = [&demux](std::span<const uint8_t, TS_PACKET_SIZE> packet) { demux.feed(packet); };
  auto on_sync = [&hooks](const SyncEvent& e) {
    if (hooks.on_sync) hooks.on_sync(e);
  };
  for (;;) {
    Slot& slot = reads.next();
    if (slot.got < 0) {
      error = slot.error;
      return false;
    }
    const bool final = slot.got == 0;
    uint8_t* start = slot.bytes.data() + kRoom - held;
    std::memcpy(start, held_bytes, held);
    const size_t total = held + static_cast<size_t>(slot.got);
    const size_t used = framer.frame(std::span<const uint8_t>(start, total), final, on_packet, on_sync);
    held = std::min(total - used, kRoom);
    std::memcpy(held_bytes, start + total - held, held);
    const auto got = static_cast<uint64_t>(slot.got);
    reads.release();
    if (hooks.after_block) hooks.after_block(got);
    if (final) return true;
    if (hooks.keep_going && !hooks.keep_going()) return true;
  }
}

}  // namespace host
