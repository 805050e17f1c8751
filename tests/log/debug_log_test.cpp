#include "log/debug_log.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The pinned clock: tests move it between init and a line to fix every time prefix.
time_t g_seconds = 0;
uint16_t g_millis = 0;
void fixed_clock(time_t& seconds, uint16_t& millis) {
  seconds = g_seconds;
  millis = g_millis;
}

// 2024-01-05 13:04:05 UTC.
constexpr time_t kBaseTime = 1704459845;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Sets (or, given null, clears) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
    if (had_) saved_ = std::getenv(name);
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_, saved_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string saved_;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "dsmcc-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    tz_ = std::make_unique<ScopedEnv>("TZ", "UTC");
    tzset();
    g_seconds = kBaseTime;
    g_millis = 993;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    tz_.reset();
    tzset();
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // A log on the pinned clock, opened on `name` in the test folder.
  int open(CDebugLog& log, const std::string& name, uint32_t options, uint32_t prefixes, int32_t threshold) {
    log.set_clock(fixed_clock);
    return log.init(path(name).c_str(), options, prefixes, threshold);
  }

  std::string dir_;
  std::unique_ptr<ScopedEnv> tz_;
};

// ---- Line format ----

TEST_F(LogTest, AllPrefixesStandInTheirOrderWithExactFormats) {
  CDebugLog log;
  ASSERT_EQ(open(log, "a.txt", 0x01, 0x10F, 4), 0);
  g_seconds += 1;
  g_millis = 7;  // 1 s later, minus 986 ms: 0.014 s since the opening
  log.log(2, "hello %d", 42);
  log.close();
  EXPECT_EQ(read_text(path("a.txt")), "   1 - Jan 05 13:04:06.  7 - (0.014) - <2> -       hello 42\n");
}

TEST_F(LogTest, EachPrefixAloneHasItsExactFormat) {
  struct Case {
    uint32_t prefixes;
    int32_t level;
    const char* expected;
  };
  const Case cases[] = {{0x000, 3, "x\n"},
                        {0x008, 3, "   1 - x\n"},
                        {0x001, 3, "Jan 05 13:04:07. 45 - x\n"},
                        {0x002, 3, "(1.052) - x\n"},
                        {0x004, 3, "<3> - x\n"},
                        {0x004, -2, "<-2> - x\n"},
                        {0x100, 3, "         x\n"},
                        {0x100, 1, "   x\n"},
                        // Width 0 still prints the one-space string.
                        {0x100, 0, " x\n"},
                        // Bits without meaning add nothing.
                        {0x0F0 & ~0x008u, 3, "x\n"},
                        {0x200, 3, "x\n"}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string name = "p" + std::to_string(n++) + ".txt";
    g_seconds = kBaseTime;
    g_millis = 993;
    CDebugLog log;
    ASSERT_EQ(open(log, name, 0x01, c.prefixes, 10), 0);
    g_seconds += 2;
    g_millis = 45;
    log.log(c.level, "x");
    log.close();
    EXPECT_EQ(read_text(path(name)), c.expected);
  }
}

TEST_F(LogTest, MonthStaysEnglishUnderAnotherLocale) {
  std::string old = setlocale(LC_TIME, nullptr);
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8", "de_DE", "fr_FR"}) {
    if (setlocale(LC_TIME, name)) {
      chosen = name;
      break;
    }
  }
  if (!chosen) {
    // No such locale is installed: compile one for this test from the system's locale sources.
    const std::string dir = path("locales");
    const std::string command =
        "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' > /dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
      setenv("LOCPATH", dir.c_str(), 1);
      if (setlocale(LC_TIME, "de_DE.UTF-8")) chosen = "de_DE.UTF-8 (compiled for the test)";
    }
  }
  if (!chosen) GTEST_SKIP() << "no locale with other month names is installed, and none could be compiled";
  CDebugLog log;
  ASSERT_EQ(open(log, "loc.txt", 0x01, 0x01, 4), 0);
  tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;  // March: "Mär", "mars", "mar" elsewhere
  t.tm_mday = 3;
  g_seconds = timegm(&t);
  g_millis = 0;
  log.log(1, "x");
  log.close();
  setlocale(LC_TIME, old.c_str());
  unsetenv("LOCPATH");
  EXPECT_EQ(read_text(path("loc.txt")), "Mar 03 00:00:00.  0 - x\n") << "under " << chosen;
}

TEST_F(LogTest, LineNumbersCountWrittenLinesOnly) {
  CDebugLog log;
  ASSERT_EQ(open(log, "n.txt", 0x01, 0x0C, 4), 0);
  log.log(4, "one");
  log.log(5, "dropped");
  log.log(0, "two");
  log.write_line("three", 4);
  log.write_line("dropped too", 9);
  EXPECT_EQ(log.line_count(), 3);
  log.close();
  EXPECT_EQ(read_text(path("n.txt")), "   1 - <4> - one\n   2 - <0> - two\n   3 - <4> - three\n");
}

TEST_F(LogTest, LineNumberWiderThanFourDigitsIsNotCut) {
  CDebugLog log;
  ASSERT_EQ(open(log, "w.txt", 0x01, 0x08, 4), 0);
  for (int i = 0; i < 10000; ++i) log.log(1, "l");
  log.close();
  const auto lines = read_lines(path("w.txt"));
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines[8], "   9 - l");
  EXPECT_EQ(lines[9998], "9999 - l");
  EXPECT_EQ(lines[9999], "10000 - l");
}

// ---- Threshold ----

TEST_F(LogTest, NegativeThresholdSilencesEveryLevel) {
  CDebugLog log;
  ASSERT_EQ(open(log, "s.txt", 0x01, 0x0F, -1), 0);
  log.log(-5, "a");
  log.log(0, "b");
  log.log(4, "c");
  EXPECT_EQ(log.line_count(), 0);
  log.set_level(0);
  log.log(0, "d");
  log.close();
  EXPECT_EQ(read_lines(path("s.txt")).size(), 1u);
}

// ---- init results and paths ----

TEST_F(LogTest, NothingIsWrittenBeforeInitOrAfterAFailedInit) {
  CDebugLog log;
  log.set_clock(fixed_clock);
  log.log(0, "before");
  EXPECT_EQ(log.line_count(), 0);
  EXPECT_FALSE(log.is_open());
  const std::string missing = path("no-such-dir/x.txt");
  EXPECT_EQ(log.init(missing.c_str(), 0x41, 0x0F, 4), 1);
  EXPECT_FALSE(log.is_open());
  log.log(0, "after");
  EXPECT_EQ(log.line_count(), 0);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(log.close(), 2);
}

TEST_F(LogTest, InitResults) {
  {
    CDebugLog log;
    EXPECT_EQ(open(log, "r6.txt", 0, 0x0F, 4), 6);
    EXPECT_FALSE(log.is_open());
  }
  for (uint32_t options : {0x08u, 0x10u, 0x20u, 0x80u, 0x38u}) {
    CDebugLog log;
    EXPECT_EQ(open(log, "r5.txt", options, 0x0F, 4), 5) << "options " << options;
    EXPECT_FALSE(log.is_open());
  }
  EXPECT_FALSE(fs::exists(path("r5.txt")));
  {
    CDebugLog log;
    EXPECT_EQ(open(log, "r0.txt", 0x40, 0x0F, 4), 0);
    EXPECT_TRUE(log.is_open());
    EXPECT_FALSE(fs::exists(path("r0.txt")));
  }
}

TEST_F(LogTest, SecondInitIsRefusedAndChangesNothing) {
  CDebugLog log;
  ASSERT_EQ(open(log, "first.txt", 0x01, 0x04, 4), 0);
  EXPECT_EQ(log.init(path("second.txt").c_str(), 0x19, 0x0F, 1), 4);
  EXPECT_EQ(log.file_path(), path("first.txt"));
  EXPECT_EQ(log.options(), 0x01u);
  EXPECT_EQ(log.prefixes(), 0x04u);
  EXPECT_EQ(log.threshold(), 4);
  log.log(3, "still here");
  log.close();
  EXPECT_EQ(read_text(path("first.txt")), "<3> - still here\n");
  EXPECT_FALSE(fs::exists(path("second.txt")));
}

TEST_F(LogTest, TruncatesUnlessAppending) {
  write_text(path("t.txt"), "old line\n");
  {
    CDebugLog log;
    ASSERT_EQ(open(log, "t.txt", 0x01 | 0x40, 0, 4), 0);
    log.log(1, "new");
  }
  EXPECT_EQ(read_text(path("t.txt")), "new\n");
  {
    CDebugLog log;
    ASSERT_EQ(open(log, "t.txt", 0x01 | 0x10, 0, 4), 0);
    log.log(1, "more");
  }
  EXPECT_EQ(read_text(path("t.txt")), "new\nmore\n");
}

TEST_F(LogTest, DeletesAtCloseOnlyAFileCreatedEmptyThatGotNoLine) {
  struct Case {
    const char* name;
    uint32_t options;
    const char* existing;  // null: no file before init
    int32_t level;         // < 0: no line; otherwise one line at that level (threshold 4)
    bool kept;
  };
  const Case cases[] = {
      {"created-no-line", 0x09, nullptr, -1, false},        {"created-line", 0x09, nullptr, 2, true},
      {"created-dropped-line", 0x09, nullptr, 5, false},    {"no-delete-option", 0x01, nullptr, -1, true},
      {"appended-to-content", 0x19, "content\n", -1, true}, {"appended-to-empty", 0x19, "", -1, false},
      {"truncated-content", 0x09, "content\n", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".txt";
    if (c.existing) write_text(path(name), c.existing);
    CDebugLog log;
    ASSERT_EQ(open(log, name, c.options, 0, 4), 0);
    if (c.level >= 0) log.log(c.level, "line");
    EXPECT_EQ(log.close(), 0);
    EXPECT_EQ(fs::exists(path(name)), c.kept);
    EXPECT_EQ(log.close(), 2);
  }
}

TEST_F(LogTest, TempDirectoryOptionTakesTmpThenTemp) {
  const std::string tmp_dir = path("tmp");
  const std::string temp_dir = path("temp");
  fs::create_directory(tmp_dir);
  fs::create_directory(temp_dir);
  {
    ScopedEnv tmp("TMP", tmp_dir.c_str());
    ScopedEnv temp("TEMP", temp_dir.c_str());
    CDebugLog log;
    log.set_clock(fixed_clock);
    ASSERT_EQ(log.init("x.log", 0x02, 0, 4), 0);
    EXPECT_EQ(log.file_path(), tmp_dir + "/x.log");
  }
  {
    ScopedEnv tmp("TMP", "");
    ScopedEnv temp("TEMP", (temp_dir + "/").c_str());
    CDebugLog log;
    log.set_clock(fixed_clock);
    ASSERT_EQ(log.init("y.log", 0x02, 0, 4), 0);
    EXPECT_EQ(log.file_path(), temp_dir + "/y.log");
    log.log(1, "in temp");
    log.close();
    EXPECT_EQ(read_text(temp_dir + "/y.log"), "in temp\n");
  }
}

TEST_F(LogTest, DatedNameOptionNamesTheFileAfterTheOpening) {
  for (const std::string& given : {dir_, dir_ + "/"}) {
    CDebugLog log;
    log.set_clock(fixed_clock);
    ASSERT_EQ(log.init(given.c_str(), 0x04, 0, 4), 0);
    EXPECT_EQ(log.file_path(), dir_ + "/05-Jan-24-13-04-05.log");
    log.log(1, "dated");
    log.close();
    EXPECT_EQ(read_text(dir_ + "/05-Jan-24-13-04-05.log"), "dated\n");
    fs::remove(dir_ + "/05-Jan-24-13-04-05.log");
  }
}

TEST_F(LogTest, PathLongerThan259CharactersIsRefused) {
  const std::string long_name(259 - dir_.size(), 'n');  // dir + "/" + name = 260 characters
  CDebugLog log;
  EXPECT_EQ(open(log, long_name, 0x01, 0, 4), 1);
  EXPECT_FALSE(log.is_open());
  const std::string fitting(258 - dir_.size(), 'n');  // 259 characters
  EXPECT_EQ(open(log, fitting, 0x01, 0, 4), 0);
  EXPECT_EQ(log.file_path().size(), 259u);
}

// ---- Cutting ----

TEST_F(LogTest, LongTextIsCutAndTheLineStillEnds) {
  CDebugLog log;
  ASSERT_EQ(open(log, "c.txt", 0x01, 0x0F, 4), 0);
  const std::string big(3000, 'a');
  log.log(1, "%s", big.c_str());
  log.write_line(big.c_str(), 1);
  log.close();
  const auto lines = read_lines(path("c.txt"));
  ASSERT_EQ(lines.size(), 2u);
  const std::string prefix1 = "   1 - Jan 05 13:04:05.993 - (0.000) - <1> - ";
  const std::string prefix2 = "   2 - Jan 05 13:04:05.993 - (0.000) - <1> - ";
  // 1024 characters with the terminator: 1022 of line and the line end.
  EXPECT_EQ(lines[0], prefix1 + big.substr(0, 1022 - prefix1.size()));
  EXPECT_EQ(lines[1], prefix2 + big.substr(0, 1022 - prefix2.size()));
}

TEST_F(LogTest, HugeLevelIndentationIsBoundedAndLineEnds) {
  CDebugLog log;
  ASSERT_EQ(open(log, "h.txt", 0x01, 0x100, INT_MAX), 0);
  log.log(INT_MAX, "x");
  log.log(1000, "y");
  log.close();
  const std::string text = read_text(path("h.txt"));
  ASSERT_EQ(text.size(), 2u * 1023u);
  EXPECT_EQ(text[1022], '\n');
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find_first_not_of(" \n"), std::string::npos);
}

// ---- Threads ----

TEST_F(LogTest, ConcurrentLinesStayWholeAndNumberedInFileOrder) {
  CDebugLog log;
  ASSERT_EQ(log.init(path("threads.txt").c_str(), 0x01, 0x10F, 4), 0);
  constexpr int kThreads = 4;
  constexpr int kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.log(1 + (i % 4), "thread %d line %d %s", t, i, "payload-payload-payload");
    });
  }
  for (auto& th : threads) th.join();
  log.close();

  const auto lines = read_lines(path("threads.txt"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex shape(
      R"(^ *(\d+) - [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2}\.[ \d]{2}\d - \(\d+\.\d{3}\) - <(\d)> - +thread (\d) line (\d+) payload-payload-payload$)");
  std::vector<int> next(kThreads, 0);
  for (size_t n = 0; n < lines.size(); ++n) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[n], m, shape)) << lines[n];
    EXPECT_EQ(std::stoul(m[1]), n + 1);
    const int t = std::stoi(m[3]);
    const int i = std::stoi(m[4]);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[static_cast<size_t>(t)]++) << "thread " << t;
    EXPECT_EQ(std::stoi(m[2]), 1 + (i % 4));
  }
}

// ---- Debugger output ----

TEST(TracerPid, ReadsTheTracerPidLine) {
  EXPECT_EQ(tracer_pid_from_status("Name:\tx\nTracerPid:\t4321\nUid:\t0\n"), 4321);
  EXPECT_EQ(tracer_pid_from_status("TracerPid:\t17"), 17);
  EXPECT_EQ(tracer_pid_from_status("Name:\tTracerPid:\t9\n"), 0);
  EXPECT_EQ(tracer_pid_from_status(nullptr), 0);
}

TEST_F(LogTest, DebuggerCopyStaysSilentWithoutADebugger) {
  if (debugger_attached()) GTEST_SKIP() << "this run is traced; the silent case cannot be observed";
  CDebugLog log;
  ASSERT_EQ(open(log, "d.txt", 0x41, 0x0F, 4), 0);
  ::testing::internal::CaptureStderr();
  log.log(2, "only in the file");
  const std::string err = ::testing::internal::GetCapturedStderr();
  log.close();
  EXPECT_EQ(err, "");
  EXPECT_EQ(read_lines(path("d.txt")).size(), 1u);
}

TEST_F(LogTest, DebuggerCopyGoesToStderrWhileTraced) {
  if (debugger_attached()) GTEST_SKIP() << "this run is already traced";
  const std::string err_path = path("stderr.txt");
  const std::string log_path = path("traced.txt");
  // The child asks to be traced by this process, then logs; 2 means tracing is not permitted here.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(2);
    if (!freopen(err_path.c_str(), "w", stderr)) _exit(3);
    CDebugLog log;
    if (log.init(log_path.c_str(), 0x41, 0x04, 4) != 0) _exit(4);
    log.log(2, "seen by the debugger");
    log.close();
    CDebugLog silent;  // without 0x40 nothing goes to stderr, traced or not
    if (silent.init(path("silent.txt").c_str(), 0x01, 0x04, 4) != 0) _exit(5);
    silent.log(2, "file only");
    silent.close();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "ptrace is not permitted in this environment";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_text(err_path), "<2> - seen by the debugger\n");
  EXPECT_EQ(read_text(log_path), "<2> - seen by the debugger\n");
}

// ---- Module path and start-up ----

TEST(LogPathForModule, ReplacesTheLastExtensionOfTheFileName) {
  const std::pair<const char*, const char*> cases[] = {{"/x/dsmcc.so", "/x/dsmcc.txt"},
                                                       {"/x.d/dsmcc", "/x.d/dsmcc.txt"},
                                                       {"/x/libdsmcc.so.1", "/x/libdsmcc.so.txt"},
                                                       {"/x/.hidden", "/x/.hidden.txt"},
                                                       {"ab.so", "ab.txt"},
                                                       {"a.so", "orvex.txt"},
                                                       {"", "orvex.txt"}};
  for (const auto& [module, log] : cases) EXPECT_EQ(log_path_for_module(module), log) << module;
}

std::string exe_path() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

TEST(ModulePath, IsTheExecutableWhenTheCodeIsLinkedIn) {
  const std::string exe = exe_path();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(this_module_path(), exe);
}

TEST(ModulePath, IsTheLoadedModuleWhenTheCodeLivesInOne) {
  void* handle = dlopen(LOG_PROBE_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  using Probe = size_t (*)(char*, size_t);
  auto probe = reinterpret_cast<Probe>(dlsym(handle, "log_probe_module_path"));
  ASSERT_NE(probe, nullptr);
  char buffer[4096];
  probe(buffer, sizeof buffer);
  EXPECT_EQ(fs::canonical(buffer), fs::canonical(LOG_PROBE_MODULE));
  EXPECT_NE(std::string(buffer), exe_path());
  dlclose(handle);
}

TEST(StartPluginLog, OpensBesideTheModuleAndWritesTheFirstLine) {
  const std::string expected_path = log_path_for_module(exe_path());
  std::error_code ec;
  fs::remove(expected_path, ec);
  start_plugin_log();
  EXPECT_TRUE(g_log.is_open());
  EXPECT_EQ(g_log.file_path(), expected_path);
  EXPECT_EQ(g_log.options(), 0x41u);
  EXPECT_EQ(g_log.prefixes(), 0x0Fu);
  EXPECT_EQ(g_log.threshold(), 4);
  g_log.log(5, "not written");
  g_log.log(4, "trace %s", "line");
  EXPECT_EQ(g_log.close(), 0);

  const auto lines = read_lines(expected_path);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex first(
      R"(^   1 - (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-3]\d [0-2]\d:[0-5]\d:[0-5]\d\.[ \d]{2}\d - \(0\.\d{3}\) - <2> - Starting DSMCC plugin$)");
  EXPECT_TRUE(std::regex_match(lines[0], first)) << lines[0];
  const std::regex second(R"(^   2 - .* - <4> - trace line$)");
  EXPECT_TRUE(std::regex_match(lines[1], second)) << lines[1];
  fs::remove(expected_path, ec);
}

}  // namespace
