// The file side of the diagnostic log: whole lines are copied into memory and written to the file by a
// thread of the writer's own, in writes that never end inside a line, so that no line costs a system
// call. The lines still pending when the process dies of a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) are written by a signal handler before the process ends; SIGKILL loses at most the last
// millisecond or two. Write errors (a full disk) drop lines and never stop the program.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace logio {

class LogWriter {
 public:
  // Takes over `fd`, open for writing; the writer closes it.
  explicit LogWriter(int fd);
  // Writes everything appended, then closes the file.
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // One or more whole lines (the last byte is a line end). One caller at a time; waits only when the
  // file falls a whole buffer behind.
  void append(const char* text, size_t size);
  // Returns once every byte appended so far has been written (or dropped by a write error).
  void flush();

  // What the fatal-signal handler does for every open writer; async-signal-safe.
  void write_pending_on_crash() noexcept;
  // In the child of a fork the writer's thread is gone: from then on append() writes at once.
  void continue_without_thread() noexcept;

 private:
  static void* thread_main(void* self);
  void run();
  void wait_for_space(size_t size);
  // Writes [tail, head) while holding the file; called by the thread, flush() and the destructor.
  void drain();
  void write_range(uint64_t from, uint64_t to) noexcept;
  void write_all(const char* first, size_t first_size, const char* second, size_t second_size) noexcept;
  uint64_t last_line_end(uint64_t from, uint64_t to) const noexcept;
  uint64_t next_line_end(uint64_t from, uint64_t to) const noexcept;
  void lock_file() noexcept;

  int fd_;
  std::unique_ptr<char[]> ring_;
  // Positions counted from the start, never wrapped: head_ is the end of the lines appended, tail_
  // the end of those written. A byte at position p lies at ring_[p % capacity].
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};
  // Held while lines go to the file; the crash handler takes it and never gives it back.
  std::atomic<bool> file_busy_{false};
  // Where the next write lands in the file, to keep each write within one page of it.
  uint64_t file_offset_ = 0;
  // A write failed inside a line: the next successful write first ends that line.
  bool line_cut_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;   // the thread: lines arrived, space wanted, or stop
  std::condition_variable space_;  // the appender: the thread has made room
  std::atomic<bool> sleeping_{false};
  std::atomic<bool> space_wanted_{false};
  std::atomic<bool> stop_{false};
  pthread_t thread_{};
  std::atomic<bool> has_thread_{false};
};

}  // namespace logio
