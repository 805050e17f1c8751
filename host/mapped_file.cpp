#include "host/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace host {

namespace {

// The live mappings, for the SIGBUS handler, which may read nothing that a lock guards.
constexpr size_t kGuards = 8;
struct Guard {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> cut{false};
};
Guard g_guards[kGuards];
std::mutex g_guard_mutex;
struct sigaction g_previous {};
uintptr_t g_page = 4096;

uint64_t page_floor(uint64_t n) {
  return n & ~(static_cast<uint64_t>(g_page) - 1);
}

extern "C" void on_bus_error(int signal_number, siginfo_t* info, void* context) {
  if (info && info->si_code > 0) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Guard& guard : g_guards) {
      const uintptr_t begin = guard.begin.load();
      const uintptr_t end = guard.end.load();
      if (begin == 0 || address < begin || address >= end) continue;
      const uintptr_t page = page_floor(address);
      // Zeros over the rest of the mapping: the access that failed runs again and reads them. (mmap is
      // a plain system call, safe here although the standard does not list it.)
      if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
        guard.cut.store(true);
        return;
      }
    }
  }
  // Not ours: whatever handled SIGBUS before runs (the log writes what it holds), then the default
  // action ends the process, whatever that handler left installed, so no two handlers can bounce it.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction) g_previous.sa_sigaction(signal_number, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal_number);
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  if (!info || info->si_code <= 0) raise(signal_number);
}

// On top of whatever handles SIGBUS now, so that a fault in a mapping is taken care of before a
// crash handler sees it.
void install_guard_handler() {
  struct sigaction current {};
  if (sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
      current.sa_sigaction == on_bus_error)
    return;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) g_page = static_cast<uintptr_t>(page);
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

MappedFile::MappedFile(int fd, uint64_t length) : fd_(fd) {
  if (length == 0 || length > SIZE_MAX) return;
  std::lock_guard lock(g_guard_mutex);
  for (size_t i = 0; i < kGuards && guard_ < 0; ++i)
    if (g_guards[i].begin.load() == 0) guard_ = static_cast<int>(i);
  if (guard_ < 0) return;
  void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) {
    guard_ = -1;
    return;
  }
  install_guard_handler();
  data_ = static_cast<uint8_t*>(map);
  length_ = length;
  Guard& guard = g_guards[guard_];
  guard.cut.store(false);
  guard.end.store(reinterpret_cast<uintptr_t>(data_) + page_floor(length + g_page - 1));
  guard.begin.store(reinterpret_cast<uintptr_t>(data_));
}

MappedFile::~MappedFile() {
  if (!data_) return;
  std::lock_guard lock(g_guard_mutex);
  Guard& guard = g_guards[guard_];
  guard.begin.store(0);
  guard.end.store(0);
  ::munmap(data_, length_);
}

bool MappedFile::cut() const noexcept {
  return data_ && g_guards[guard_].cut.load(std::memory_order_acquire);
}

bool MappedFile::shorter() const noexcept {
  struct stat now {};
  return data_ && ::fstat(fd_, &now) == 0 && static_cast<uint64_t>(now.st_size) < length_;
}

bool MappedFile::prefault(uint64_t offset, uint64_t length) const noexcept {
  if (!data_ || offset >= length_) return false;
  const uint64_t begin = page_floor(offset);
  const uint64_t end = std::min(offset + length, length_);
  // False also on a kernel without populate (EINVAL): the reader's own page faults do the work then.
  return ::madvise(data_ + begin, end - begin, MADV_POPULATE_READ) == 0;
}

void MappedFile::release_before(uint64_t end) noexcept {
  const uint64_t upto = page_floor(std::min(end, length_));
  if (!data_ || upto <= released_) return;
  ::madvise(data_ + released_, upto - released_, MADV_DONTNEED);
  released_ = upto;
}

}  // namespace host
