#include "log/log_writer.h"

#include <errno.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace logio {

namespace {

// 4 MB: tens of milliseconds of the densest trace, so the appender waits only when the disk stalls.
constexpr uint64_t kCapacity = uint64_t{1} << 22;
// A write that stays within one page of the file is copied whole or not at all when the process is
// killed (the kernel checks for a fatal signal between pages), so a killed run never ends in half a
// line. Only a line that straddles two pages is written by a write of its own across them.
constexpr uint64_t kPage = 4096;
// Below this much pending text the thread pauses before writing again, so that lines arriving one by
// one still go out in batches; the pause is what SIGKILL can lose.
constexpr uint64_t kBatch = 64 * 1024;
constexpr auto kPause = std::chrono::milliseconds(1);

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

// The open writers, for the crash handler, which may read nothing that a lock guards.
constexpr size_t kSlots = 32;
std::atomic<LogWriter*> g_writers[kSlots];
std::mutex g_registry_mutex;
size_t g_registered = 0;
struct sigaction g_previous[kSignalCount];
std::atomic<int> g_crash_state{0};  // 0 running, 1 a handler is writing, 2 written

void sleep_ms(long ms) noexcept {
  timespec t{0, ms * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

extern "C" void on_fatal_signal(int signal_number, siginfo_t* info, void*) {
  const int saved_errno = errno;
  int expected = 0;
  if (g_crash_state.compare_exchange_strong(expected, 1)) {
    for (auto& slot : g_writers)
      if (LogWriter* w = slot.load()) w->write_pending_on_crash();
    g_crash_state.store(2);
  } else {
    // Another thread is writing the lines: let it finish before this one ends the process.
    for (int i = 0; i < 2000 && g_crash_state.load() != 2; ++i) sleep_ms(1);
  }
  for (size_t i = 0; i < kSignalCount; ++i)
    if (kFatalSignals[i] == signal_number) sigaction(signal_number, &g_previous[i], nullptr);
  errno = saved_errno;
  // A fault raised by the processor comes back by itself when the faulting instruction runs again,
  // now to the previous handler (or the default action); a signal that was sent has to be sent again.
  if (!info || info->si_code <= 0) raise(signal_number);
}

void install_handlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(kFatalSignals[i], &action, &g_previous[i]);
  }
}

void remove_handlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction current {};
    // A handler installed after ours may chain to it; it stays, and so does ours.
    if (sigaction(kFatalSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == on_fatal_signal)
      sigaction(kFatalSignals[i], &g_previous[i], nullptr);
  }
}

void after_fork_in_child() {
  for (auto& slot : g_writers)
    if (LogWriter* w = slot.load()) w->continue_without_thread();
}

void register_writer(LogWriter* writer) {
  static std::once_flag fork_hook;
  std::call_once(fork_hook, [] { pthread_atfork(nullptr, nullptr, after_fork_in_child); });
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  for (auto& slot : g_writers) {
    LogWriter* empty = nullptr;
    if (slot.compare_exchange_strong(empty, writer)) {
      if (g_registered++ == 0) install_handlers();
      return;
    }
  }
  // More open logs than slots: the extra ones are written normally but not on a crash.
}

void unregister_writer(LogWriter* writer) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  for (auto& slot : g_writers) {
    LogWriter* mine = writer;
    if (slot.compare_exchange_strong(mine, nullptr)) {
      if (--g_registered == 0) remove_handlers();
      return;
    }
  }
}

}  // namespace

LogWriter::LogWriter(int fd) : fd_(fd), ring_(new char[kCapacity]) {
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  file_offset_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  // The thread takes no signal meant for the process (Ctrl-C and the like go to the program's own).
  sigset_t all, previous;
  sigfillset(&all);
  for (int signal_number : kFatalSignals) sigdelset(&all, signal_number);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  if (pthread_create(&thread_, nullptr, &LogWriter::thread_main, this) == 0) has_thread_.store(true);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  register_writer(this);
}

LogWriter::~LogWriter() {
  unregister_writer(this);
  if (has_thread_.load()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true);
    }
    wake_.notify_all();
    pthread_join(thread_, nullptr);
  }
  drain();
  ::close(fd_);
}

void* LogWriter::thread_main(void* self) {
  static_cast<LogWriter*>(self)->run();
  return nullptr;
}

void LogWriter::run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Announced before the test, so an appender that finds it set knows it must wake the thread.
      sleeping_.store(true);
      wake_.wait(lock, [&] { return stop_.load() || head_.load() != tail_.load(); });
      sleeping_.store(false);
    }
    drain();
    if (stop_.load()) return;
    if (head_.load() - tail_.load() < kBatch) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, kPause, [&] { return stop_.load() || space_wanted_.load(); });
    }
  }
}

void LogWriter::append(const char* text, size_t size) {
  if (size == 0) return;
  if (size > kCapacity) size = kCapacity;
  const uint64_t head = head_.load(std::memory_order_relaxed);
  if (kCapacity - (head - tail_.load()) < size) wait_for_space(size);
  const uint64_t at = head % kCapacity;
  const uint64_t first = size < kCapacity - at ? size : kCapacity - at;
  std::memcpy(&ring_[at], text, first);
  if (first < size) std::memcpy(&ring_[0], text + first, size - first);
  head_.store(head + size);
  if (!has_thread_.load(std::memory_order_relaxed)) {
    drain();
  } else if (sleeping_.load()) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_one();
  }
}

void LogWriter::wait_for_space(size_t size) {
  auto room = [&] { return kCapacity - (head_.load() - tail_.load()) >= size; };
  if (!has_thread_.load()) {
    drain();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  space_wanted_.store(true);
  wake_.notify_all();
  space_.wait(lock, room);
  space_wanted_.store(false);
}

void LogWriter::flush() { drain(); }

void LogWriter::lock_file() noexcept {
  while (file_busy_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
}

void LogWriter::drain() {
  lock_file();
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  const uint64_t head = head_.load();
  if (head != tail) write_range(tail, head);
  tail_.store(head);
  file_busy_.store(false, std::memory_order_release);
  if (space_wanted_.load()) {
    std::lock_guard<std::mutex> lock(mutex_);
    space_.notify_all();
  }
}

void LogWriter::write_pending_on_crash() noexcept {
  // The thread may be in the middle of a write: wait for it (up to a second), then keep the file.
  for (int i = 0; i < 1000 && file_busy_.exchange(true, std::memory_order_acquire); ++i) sleep_ms(1);
  const uint64_t tail = tail_.load();
  const uint64_t head = head_.load();
  if (head != tail) write_range(tail, head);
  tail_.store(head);
}

void LogWriter::continue_without_thread() noexcept {
  has_thread_.store(false);
  file_busy_.store(false);
  // What was pending at the fork is the parent's to write; written here too it would stand twice.
  tail_.store(head_.load());
}

uint64_t LogWriter::last_line_end(uint64_t from, uint64_t to) const noexcept {
  for (uint64_t p = to; p > from; --p)
    if (ring_[(p - 1) % kCapacity] == '\n') return p;
  return 0;
}

uint64_t LogWriter::next_line_end(uint64_t from, uint64_t to) const noexcept {
  for (uint64_t p = from; p < to; ++p)
    if (ring_[p % kCapacity] == '\n') return p + 1;
  return to;
}

void LogWriter::write_range(uint64_t from, uint64_t to) noexcept {
  while (from < to) {
    const uint64_t room = kPage - file_offset_ % kPage;
    uint64_t end = to;
    if (to - from > room) {
      end = last_line_end(from, from + room);
      if (end == 0) end = next_line_end(from + room, to);
    }
    const uint64_t at = from % kCapacity;
    const uint64_t size = end - from;
    const uint64_t first = size < kCapacity - at ? size : kCapacity - at;
    write_all(&ring_[at], first, &ring_[0], size - first);
    from = end;
  }
}

void LogWriter::write_all(const char* first, size_t first_size, const char* second,
                          size_t second_size) noexcept {
  if (line_cut_) {
    if (::write(fd_, "\n", 1) != 1) return;  // still failing: these lines are dropped too
    ++file_offset_;
    line_cut_ = false;
  }
  iovec parts[2] = {{const_cast<char*>(first), first_size}, {const_cast<char*>(second), second_size}};
  int count = second_size ? 2 : 1;
  iovec* next = parts;
  size_t left = first_size + second_size;
  char last = '\n';
  while (left > 0) {
    const ssize_t n = ::writev(fd_, next, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A full disk or a broken file: these lines are lost, and the file must not run the line cut
      // here into the next one written.
      line_cut_ = last != '\n';
      return;
    }
    file_offset_ += static_cast<uint64_t>(n);
    left -= static_cast<size_t>(n);
    size_t done = static_cast<size_t>(n);
    while (count > 0 && done >= next->iov_len) {
      done -= next->iov_len;
      if (next->iov_len) last = static_cast<const char*>(next->iov_base)[next->iov_len - 1];
      ++next;
      --count;
    }
    if (count > 0 && done > 0) {
      last = static_cast<const char*>(next->iov_base)[done - 1];
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
}

}  // namespace logio
