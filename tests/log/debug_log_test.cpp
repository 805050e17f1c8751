// The diagnostic log: its line format and threshold, its file at each start, whole lines under threads
// for a follower and after a crash, and a file that takes no more lines.
#include "log/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/helpers.h"

using namespace logio;

namespace fs = std::filesystem;
using testsupport::read_text;

namespace {

// The pinned clock: 2024-01-05 13:04:05.993 UTC at every opening, 2.045 s later at every line.
constexpr time_t kBaseTime = 1704459845;
time_t g_seconds = kBaseTime;
uint16_t g_millis = 993;
void fixed_clock(time_t& seconds, uint16_t& millis) {
  seconds = g_seconds;
  millis = g_millis;
}

// "   1 - <2> - line 1\n" ...: `count` numbered lines as a log with prefixes 0x0C writes them.
std::string numbered_lines(int count) {
  std::string out;
  char line[64];
  for (int i = 1; i <= count; ++i) {
    std::snprintf(line, sizeof line, "%4d - <2> - line %d\n", i, i);
    out += line;
  }
  return out;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  int open(CDebugLog& log, const std::string& path, uint32_t options, uint32_t prefixes, int32_t threshold) {
    g_seconds = kBaseTime;
    g_millis = 993;
    log.set_clock(fixed_clock);
    const int result = log.init(path.c_str(), options, prefixes, threshold);
    g_seconds += 2;
    g_millis = 45;
    return result;
  }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }
  testsupport::TempDir dir_;
};

// The format of each prefix, the threshold, the line numbers, and the file: truncated at each start
// unless appending, deleted at the end when it was made empty and got no line (if asked).
TEST_F(LogTest, LineFormatThresholdNumberingAndTheFileAtEachStart) {
  struct Case {
    uint32_t options, prefixes;
    int32_t threshold;
    std::vector<int32_t> levels;  // one line "x" at each
    const char* existing;         // the file before init; null: none
    const char* expected;         // null: the file is gone
  };
  const Case cases[] = {
      {0x01, 0x10F, 4, {2}, nullptr, "   1 - Jan 05 13:04:07. 45 - (1.052) - <2> -       x\n"},
      {0x01, 0x000, 4, {3}, nullptr, "x\n"},
      {0x01, 0x008, 4, {3}, nullptr, "   1 - x\n"},
      {0x01, 0x001, 4, {3}, nullptr, "Jan 05 13:04:07. 45 - x\n"},
      {0x01, 0x002, 4, {3}, nullptr, "(1.052) - x\n"},
      {0x01, 0x004, 4, {3, -2}, nullptr, "<3> - x\n<-2> - x\n"},
      {0x01, 0x100, 4, {3, 1, 0}, nullptr, "         x\n   x\n x\n"},  // three spaces a level, at least one
      {0x01, 0x2F0, 4, {3}, nullptr, "x\n"},                           // bits without meaning add nothing
      // Lines at the threshold are written, above it dropped and not counted.
      {0x01, 0x00C, 4, {4, 5, 0, 4, 9}, nullptr, "   1 - <4> - x\n   2 - <0> - x\n   3 - <4> - x\n"},
      {0x01, 0x00F, -1, {-5, 0, 4}, nullptr, ""},
      {0x01, 0, 4, {1}, "old line\n", "x\n"},
      {0x11, 0, 4, {1}, "old\n", "old\nx\n"},
      {0x09, 0, 4, {5}, nullptr, nullptr},
      {0x09, 0, 4, {2}, nullptr, "x\n"},
      {0x19, 0, 4, {}, "content\n", "content\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string file = path("f" + std::to_string(n++));
    SCOPED_TRACE(file);
    if (c.existing) std::ofstream(file, std::ios::binary) << c.existing;
    CDebugLog log;
    ASSERT_EQ(open(log, file, c.options, c.prefixes, c.threshold), 0);
    for (int32_t level : c.levels) log.log(level, "%s", "x");
    EXPECT_EQ(log.close(), 0);
    EXPECT_EQ(fs::exists(file), c.expected != nullptr);
    EXPECT_EQ(read_text(file), c.expected ? c.expected : "");
  }
}

TEST_F(LogTest, ALineLongerThanItsBufferIsCutAndStillEnds) {
  CDebugLog log;
  ASSERT_EQ(open(log, path("c.txt"), 0x01, 0x104, INT_MAX), 0);
  log.log(1, "%s", std::string(3000, 'a').c_str());
  log.log(INT_MAX, "y");  // an indentation wider than the line
  log.close();
  const std::string text = read_text(path("c.txt"));
  // 1024 bytes with the terminator: 1022 of line and the line end.
  ASSERT_EQ(text.size(), 2u * 1023u);
  EXPECT_EQ(text.substr(0, 1023), "<1> -    " + std::string(1022 - 9, 'a') + "\n");
  EXPECT_EQ(text.back(), '\n');
}

// Lines of several threads, read as they arrive the way tail -f reads (what was added, a last line
// not ended yet kept for the next read), are whole and numbered in file order, and every line is there
// while the log is still open, with nothing (no NUL padding) behind the last.
TEST_F(LogTest, ConcurrentLinesStayWholeAndNumberedInFileOrderForAReaderFollowingTheFile) {
  CDebugLog log;
  ASSERT_EQ(log.init(path("threads.txt").c_str(), 0x01, 0x10F, 4), 0);
  constexpr int kThreads = 4, kLines = 25000;  // line numbers past four digits
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.log(1 + (i % 4), "thread %d line %d %s", t, i, "payload-payload");
    });
  const int fd = ::open(path("threads.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::regex shape(
      R"(^ *(\d+) - [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2}\.[ \d]{2}\d - \(\d+\.\d{3}\) - <(\d)> - +thread (\d) line (\d+) payload-payload$)");
  std::vector<int> next(kThreads, 0);
  std::string pending;
  size_t n = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[65536];
  while (n < kThreads * kLines && std::chrono::steady_clock::now() < deadline) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (got > 0) pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      std::smatch m;
      const std::string line = pending.substr(0, end);
      ASSERT_TRUE(std::regex_match(line, m, shape)) << "a line cut or torn: " << line;
      EXPECT_EQ(std::stoul(m[1]), ++n);
      const int t = std::stoi(m[3]), i = std::stoi(m[4]);
      EXPECT_EQ(i, next[static_cast<size_t>(t)]++) << "thread " << t;
      EXPECT_EQ(std::stoi(m[2]), 1 + (i % 4));
    }
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(n, static_cast<size_t>(kThreads * kLines));
  EXPECT_EQ(::read(fd, buffer, sizeof buffer), 0);
  EXPECT_EQ(pending, "");
  ::close(fd);
  log.close();
}

// The faults are real ones, so the undefined-behaviour sanitizer must not stop them first: it would end
// the process with an exit of its own, which no signal handler ever sees.
volatile int g_zero = 0;
__attribute__((no_sanitize("undefined"))) void store_through_null(const std::string&) {
  *static_cast<volatile int*>(nullptr) = 1;
}
__attribute__((no_sanitize("undefined"))) void divide_by_zero(const std::string&) {
  g_zero = 7 / g_zero;
}

TEST_F(LogTest, AProcessKilledByAFatalSignalLeavesEveryLineItLogged) {
  struct Case {
    int signal;
    void (*crash)(const std::string& scratch);
  };
  const Case cases[] = {
      {SIGSEGV, store_through_null},
      {SIGFPE, divide_by_zero},
      {SIGILL, [](const std::string&) { __builtin_trap(); }},
      {SIGABRT, [](const std::string&) { std::abort(); }},
      {SIGBUS,  // a mapping beyond the end of its file
       [](const std::string& scratch) {
         const int fd = ::open(scratch.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
         void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
         if (map != MAP_FAILED) static_cast<volatile char*>(map)[0] = 1;
       }},
  };
  constexpr int kLines = 20000;
  for (const Case& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CDebugLog log;
      if (log.init(path("crash.txt").c_str(), 0x01, 0x0C, 4) != 0) _exit(3);
      for (int i = 1; i <= kLines; ++i) log.log(2, "line %d", i);
      c.crash(path("scratch"));
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer reports the fault itself and exits.
    EXPECT_TRUE(WIFSIGNALED(status) ||
                (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 4));
#else
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signal);
#endif
    EXPECT_TRUE(read_text(path("crash.txt")) == numbered_lines(kLines))
        << read_text(path("crash.txt")).size();
  }
}

TEST(LogFile, AFileThatCannotBeOpenedOrTakesNoMoreLinesCostsLinesNeverTheProgram) {
  CDebugLog unwritable;
  EXPECT_EQ(unwritable.init("/proc/no-such-dir/x.txt", 0x41, 0x0F, 4), 1);
  unwritable.log(1, "x");
  EXPECT_EQ(unwritable.line_count(), 0);
  CDebugLog log;
  ASSERT_EQ(log.init("/dev/full", 0x01, 0x0F, 4), 0);
  for (int i = 0; i < 100000; ++i) log.log(2, "line %d", i);
  log.flush();
  EXPECT_EQ(log.line_count(), 100000);
  EXPECT_EQ(log.close(), 0);
}

}  // namespace
