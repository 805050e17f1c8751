// The log file's promises now that lines reach it from memory in batches: a process that dies of a
// fatal signal leaves every line it logged; a reader following the file sees whole lines while the log
// is open; a file that cannot take the lines costs lines, never the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "log/debug_log.h"

namespace fs = std::filesystem;

namespace {

std::string temp_path(const std::string& name) {
  return (fs::temp_directory_path() / ("dsmcc-logfile-" + std::to_string(::getpid()) + "-" + name)).string();
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// "   1 - <2> - line 1\n" ... : the lines a run of `count` numbered lines writes with prefixes 0x0C.
std::string numbered_lines(int first, int count) {
  std::string out;
  char line[64];
  for (int i = first; i < first + count; ++i) {
    std::snprintf(line, sizeof line, "%4d - <2> - line %d\n", i, i);
    out += line;
  }
  return out;
}

volatile int g_zero = 0;

// The faults are real ones, so the undefined-behaviour sanitizer must not stop them first: it would end
// the process with an exit of its own, which no signal handler ever sees.
__attribute__((no_sanitize("undefined"))) void store_through_null(const std::string&) {
  *static_cast<volatile int*>(nullptr) = 1;
}
__attribute__((no_sanitize("undefined"))) void divide_by_zero(const std::string&) { g_zero = 7 / g_zero; }

TEST(LogFile, AProcessKilledByAFatalSignalLeavesEveryLineItLogged) {
  const std::string bus_file = temp_path("bus");
  struct Case {
    const char* name;
    int signal;
    void (*crash)(const std::string& bus_file);
  };
  const Case cases[] = {
      {"segmentation fault", SIGSEGV, store_through_null},
      {"division by zero", SIGFPE, divide_by_zero},
      {"illegal instruction", SIGILL, [](const std::string&) { __builtin_trap(); }},
      {"abort", SIGABRT, [](const std::string&) { std::abort(); }},
      {"bus error: a mapping beyond the end of its file", SIGBUS,
       [](const std::string& path) {
         const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
         void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
         if (map != MAP_FAILED) static_cast<volatile char*>(map)[0] = 1;
       }},
  };
  constexpr int kLines = 20000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = temp_path("crash.txt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CDebugLog log;
      if (log.init(path.c_str(), 0x01, 0x0C, 4) != 0) _exit(3);
      for (int i = 1; i <= kLines; ++i) log.log(2, "line %d", i);
      c.crash(bus_file);
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer reports the fault itself and exits.
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 4));
#else
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signal);
#endif
    EXPECT_TRUE(read_all(path) == numbered_lines(1, kLines)) << "the file holds " << read_all(path).size()
                                                             << " bytes";
    fs::remove(path);
  }
  fs::remove(bus_file);
}

TEST(LogFile, AReaderFollowingTheFileSeesWholeLinesWhileTheLogIsOpen) {
  const std::string path = temp_path("follow.txt");
  CDebugLog log;
  ASSERT_EQ(log.init(path.c_str(), 0x01, 0x0C, 4), 0);
  constexpr int kLines = 200000;
  std::thread writer([&] {
    for (int i = 1; i <= kLines; ++i) log.log(2, "line %d", i);
  });
  // Like tail -f: read what has been added, keep a last line that has not ended yet for the next read.
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string seen, pending;
  int next = 1;
  bool whole = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[65536];
  while (next <= kLines && whole && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; whole && (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%4d - <2> - line %d", next, next);
      whole = pending.compare(start, end - start, expected) == 0;
      if (!whole) ADD_FAILURE() << "line " << next << " reads '" << pending.substr(start, end - start) << "'";
      ++next;
    }
    pending.erase(0, start);
  }
  ::close(fd);
  writer.join();
  // Every line arrived while the log was still open, with nothing (no NUL padding) behind the last.
  EXPECT_EQ(next, kLines + 1);
  EXPECT_EQ(pending, "");
  log.close();
  fs::remove(path);
}

TEST(LogFile, AFileThatTakesNoMoreLinesDropsThemAndTheProgramGoesOn) {
  CDebugLog log;
  ASSERT_EQ(log.init("/dev/full", 0x01, 0x0F, 4), 0);
  for (int i = 0; i < 100000; ++i) log.log(2, "line %d", i);
  log.flush();
  EXPECT_EQ(log.line_count(), 100000);
  EXPECT_EQ(log.close(), 0);
}

}  // namespace
