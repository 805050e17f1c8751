#include "host/file_pass.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "text/printed.h"

namespace host {

namespace {

// Copying a block out of the page cache is most of what a pass over a file costs, and one core copies
// at about half the speed two do: two threads read the blocks ahead, each into its own slot of a ring,
// and the calling thread frames and feeds them in file order. The framing and feeding are then what
// one thread reading the file itself would do, on bytes that are already in the cache.
class ReadAhead {
 public:
  static constexpr size_t READERS = 2;

  explicit ReadAhead(const FileSource& file)
      : file_(file), blocks_((file.size() + FILE_BLOCK_SIZE - 1) / FILE_BLOCK_SIZE) {
    for (Slot& slot : slots_) slot.bytes.resize(FRAMER_LOOKAHEAD + FILE_BLOCK_SIZE);
  }
  ~ReadAhead() { stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // False when the threads cannot be started: the caller then reads the file itself.
  bool start() {
    try {
      for (std::thread& reader : readers_) reader = std::thread([this] { read_blocks(); });
    } catch (const std::system_error&) {
      stop();
      return false;
    }
    return true;
  }

  uint64_t blocks() const noexcept { return blocks_; }

  // Block `n`, once it has been read, at `front` + FRAMER_LOOKAHEAD: the room before it is for what
  // the framer held back. It stays until give_back(n). Returns the bytes read, or -1 with `error` set.
  long wait_for(uint64_t n, uint8_t*& front, std::string& error) {
    Slot& slot = slots_[n % SLOTS];
    std::unique_lock lock(mutex_);
    while (slot.block != n) {
      feeder_waits_for_ = n;
      feeder_cv_.wait(lock);
    }
    feeder_waits_for_ = NO_BLOCK;
    front = slot.bytes.data();
    if (slot.got < 0) error = slot.error;
    return slot.got;
  }

  void give_back(uint64_t n) {
    std::lock_guard lock(mutex_);
    consumed_ = n + 1;
    // Readers are woken when there is a slot for each, not for every slot given back.
    if (readers_waiting_ > 0 && next_ + READERS <= consumed_ + SLOTS) reader_cv_.notify_all();
  }

 private:
  static constexpr size_t SLOTS = 8;
  static constexpr uint64_t NO_BLOCK = UINT64_MAX;

  struct Slot {
    std::vector<uint8_t> bytes;
    uint64_t block = NO_BLOCK;  // the block the slot holds, once it has been read
    long got = 0;
    std::string error;
  };

  void stop() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    reader_cv_.notify_all();
    for (std::thread& reader : readers_)
      if (reader.joinable()) reader.join();
  }

  void read_blocks() {
    // The readers work for the feeder, which the whole pass waits for (and with it the log's writer):
    // where the cores are all busy they give way to it. Refused, the call changes nothing.
    sched_param unused{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &unused);
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!quit_ && next_ < blocks_ && next_ - consumed_ >= SLOTS) {
        ++readers_waiting_;
        reader_cv_.wait(lock);
        --readers_waiting_;
      }
      if (quit_ || next_ >= blocks_) return;
      const uint64_t n = next_++;
      Slot& slot = slots_[n % SLOTS];
      lock.unlock();
      slot.got = file_.read_at(n * FILE_BLOCK_SIZE, std::span<uint8_t>(slot.bytes).subspan(FRAMER_LOOKAHEAD),
                               slot.error);
      lock.lock();
      slot.block = n;
      if (feeder_waits_for_ == n) feeder_cv_.notify_one();
    }
  }

  const FileSource& file_;
  const uint64_t blocks_;  // of the file as it was when opened
  std::array<Slot, SLOTS> slots_;
  std::mutex mutex_;
  std::condition_variable feeder_cv_;
  std::condition_variable reader_cv_;
  uint64_t next_ = 0;      // the next block a reader takes on
  uint64_t consumed_ = 0;  // blocks given back
  uint64_t feeder_waits_for_ = NO_BLOCK;
  size_t readers_waiting_ = 0;
  bool quit_ = false;
  std::array<std::thread, READERS> readers_;
};

}  // namespace

bool run_file_pass(const FileSource& file, PacketFramer& framer, Demux& demux, const FilePassHooks& hooks,
                   std::string& error) {
  auto on_packet = [&demux](std::span<const uint8_t, TS_PACKET_SIZE> packet) { demux.feed(packet); };
  auto on_sync = [&hooks](const SyncEvent& e) {
    if (hooks.on_sync) hooks.on_sync(e);
  };
  uint64_t offset = 0;  // bytes of the file taken in so far
  std::vector<uint8_t> buffer(FRAMER_LOOKAHEAD + FILE_BLOCK_SIZE);
  size_t held = 0;  // bytes the framer left for the next round, at the front of `buffer`
  // Frames `total` bytes from `data` (those held back first); what the framer leaves goes to the front
  // of `buffer`.
  auto frame = [&](const uint8_t* data, size_t total, bool final, long got) {
    const size_t used = framer.frame(std::span<const uint8_t>(data, total), final, on_packet, on_sync);
    held = total - used;
    std::memmove(buffer.data(), data + used, held);
    offset += static_cast<uint64_t>(got);
    if (hooks.after_block) hooks.after_block(static_cast<uint64_t>(got));
  };

  // A file of a few blocks is read before threads would have started.
  constexpr uint64_t kReadAheadFrom = 8 * FILE_BLOCK_SIZE;
  if (file.size() >= kReadAheadFrom) {
    ReadAhead ahead(file);
    if (ahead.start()) {
      for (uint64_t n = 0; n < ahead.blocks(); ++n) {
        if (hooks.keep_going && !hooks.keep_going()) return true;
        uint8_t* front = nullptr;
        const long got = ahead.wait_for(n, front, error);
        if (got < 0) return false;
        uint8_t* from = front + FRAMER_LOOKAHEAD - held;
        std::memcpy(from, buffer.data(), held);
        frame(from, held + static_cast<size_t>(got), false, got);
        ahead.give_back(n);
        if (got < static_cast<long>(FILE_BLOCK_SIZE)) break;
      }
    }
  }

  // What the readers ahead do not cover: a small file, or what was added to the file since it was opened.
  for (;;) {
    if (hooks.keep_going && !hooks.keep_going()) return true;
    const long got = file.read_at(offset, std::span<uint8_t>(buffer).subspan(held), error);
    if (got < 0) return false;
    frame(buffer.data(), held + static_cast<size_t>(got), got == 0, got);
    if (got > 0) continue;
    if (offset >= file.size()) return true;
    error = text::printed("cannot read %s: it became shorter while it was read", file.name().c_str());
    return false;
  }
}

}  // namespace host
