// The `dsmcc` program run as a user runs it: its output on real and bundled streams, its exit codes and
// messages, live input on standard input, and its log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/subprocess.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace {

namespace fs = std::filesystem;
using testapp::run;
using testapp::RunResult;

const std::string kProgram = DSMCC_PROGRAM;
const std::string kMakeSample = MAKE_SAMPLE_PROGRAM;
const std::string kSourceDir = DSMCC_SOURCE_DIR;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

RunResult dsmcc(std::vector<std::string> args) {
  args.insert(args.begin(), kProgram);
  return run(args);
}

// The Data Carousel page of the HbbTV capture at `path`, with the options in `more`.
RunResult sevent_data_page(const std::string& path, std::vector<std::string> more = {}) {
  std::vector<std::string> args{"capture", path, "--pair", "1:0x138e", "--page", "data"};
  args.insert(args.end(), more.begin(), more.end());
  return dsmcc(args);
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exit_code) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

using testsupport::TempDir;

// The scan, the pages in text and JSON, the default mode and the save on every shared stream are held
// by the golden test (golden_test.cpp); what follows is what it cannot see.

// ---- live input on standard input

TEST(AppLive, EndOfThePipeEndsTheCapture) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  testapp::LiveInput live;
  live.bytes = testsupport::read_file(path);
  live.delay = std::chrono::milliseconds(500);  // the filters are in place before the packets come
  live.close_after_write = true;
  const RunResult r = run({kProgram, "capture", "-", "--pair", "1:0x138e", "--page", "object"}, &live);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.out, testapp::slurp(kSourceDir + "/tests/app/expected/hbbtv-sevent.object.txt"));
}

TEST(AppLive, DurationEndsTheCaptureOfAnOpenPipe) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  testapp::LiveInput live;
  live.bytes = testsupport::read_file(path);
  live.delay = std::chrono::milliseconds(500);
  // The pipe stays open until the child has ended: only --duration can end the capture.
  const RunResult r = run({kProgram, "capture", "-", "--pair", "1:0x138e", "--page", "object", "--duration", "2"},
                          &live);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.out, testapp::slurp(kSourceDir + "/tests/app/expected/hbbtv-sevent.object.txt"));
  EXPECT_GE(r.elapsed, std::chrono::milliseconds(2000));
}

TEST(AppLive, CtrlCEndsTheCaptureAndThePagesFollow) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  testapp::LiveInput live;
  live.bytes = testsupport::read_file(path);
  live.delay = std::chrono::milliseconds(500);
  live.interrupt_after = std::chrono::milliseconds(500);
  const RunResult r = run({kProgram, "capture", "-", "--pair", "1:0x138e", "--page", "object"}, &live);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.out, testapp::slurp(kSourceDir + "/tests/app/expected/hbbtv-sevent.object.txt"));
}

// A live source is read once: the default mode finds a PSI-less carousel from the bytes its PSI scan
// read, and its capture gets those bytes again, whether the pipe is standard input or a named pipe.
TEST(AppLive, DefaultModeFindsAndRebuildsAPsiLessCarouselFromOnePass) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const std::string expected = testapp::slurp(kSourceDir + "/tests/app/expected/hbbtv-sevent.object.txt");
  testapp::LiveInput live;
  live.bytes = testsupport::read_file(path);
  live.close_after_write = true;
  const RunResult piped = run({kProgram, "-", "--page", "object"}, &live);
  ASSERT_EQ(piped.exit_code, 0) << describe(piped);
  EXPECT_EQ(piped.out, expected);
  EXPECT_NE(piped.err.find("capturing PID 0x138e under programme 1"), std::string::npos) << piped.err;

  TempDir dir;
  const std::string fifo = dir.path() + "/live.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const std::vector<uint8_t> bytes = testsupport::read_file(path);
    if (FILE* f = std::fopen(fifo.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  });
  const RunResult named = run({kProgram, fifo, "--page", "object"});
  writer.join();
  ASSERT_EQ(named.exit_code, 0) << describe(named);
  EXPECT_EQ(named.out, expected);
}

// Two PSI-less carousels through a pipe that has ended before the capture begins: each of the
// capture's filters gets the scan's bytes, however the filters are installed one after the other.
TEST(AppLive, EveryPidOfAPsiLessPipeGetsTheScansBytes) {
  namespace ts = testsupport;
  std::vector<uint8_t> stream;
  ts::Packetizer packets;
  for (const uint16_t pid : {uint16_t{0x100}, uint16_t{0x200}}) {
    ts::OcCarousel oc(pid);
    oc.add_file(oc.gateway(), "file-of-" + std::to_string(pid) + ".txt", ts::text_bytes("carousel"), 1);
    packets.add_sections(pid, oc.sections());
  }
  testapp::LiveInput live;
  live.bytes = packets.take();
  live.close_after_write = true;
  const RunResult r = run({kProgram, "-", "--page", "object"}, &live);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_NE(r.out.find("file-of-256.txt - size=8"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("file-of-512.txt - size=8"), std::string::npos) << r.out;
}

// A UDP feed without PSI: the default mode finds the carousel PID from the scan's own datagrams, with
// one socket, and rebuilds the carousel (it repeats while the capture runs).
TEST(AppLive, AUdpFeedWithoutPsiIsFoundAndRebuiltInTheDefaultMode) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const std::vector<uint8_t> bytes = testsupport::read_file(path);
  const uint16_t port = static_cast<uint16_t>(32000 + ::getpid() % 20000);
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    while (sending)
      for (size_t at = 0; at < bytes.size() && sending; at += 1316) {
        ::sendto(s, bytes.data() + at, std::min<size_t>(1316, bytes.size() - at), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        std::this_thread::sleep_for(std::chrono::microseconds(400));
      }
    ::close(s);
  });
  const RunResult r = run({kProgram, "udp://127.0.0.1:" + std::to_string(port), "--page", "object", "--duration", "3"});
  sending = false;
  sender.join();
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.out, testapp::slurp(kSourceDir + "/tests/app/expected/hbbtv-sevent.object.txt"));
  EXPECT_NE(r.err.find("capturing PID 0x138e under programme 1"), std::string::npos) << r.err;
}

// --duration and Ctrl-C bound a pipe whose writer is silent, and a named pipe that nobody opens for
// writing.
TEST(AppLive, DurationBoundsASilentPipeAndAFifoWithoutWriter) {
  testapp::LiveInput silent;
  silent.delay = std::chrono::milliseconds(2500);
  const RunResult piped = run({kProgram, "capture", "-", "--pair", "1:0x138e", "--page", "data", "--duration", "1"}, &silent);
  EXPECT_EQ(piped.exit_code, 0) << describe(piped);
  EXPECT_LT(piped.elapsed, std::chrono::milliseconds(2200));
  EXPECT_NE(piped.err.find("nothing arrived on - within --duration 1 s"), std::string::npos) << piped.err;
  EXPECT_NE(piped.out.find("Program Number 0x0001 (1)"), std::string::npos) << "the pages of what arrived";

  testapp::LiveInput interrupted;  // nothing written; Ctrl-C half a second in
  interrupted.interrupt_after = std::chrono::milliseconds(500);
  const RunResult stopped = run({kProgram, "capture", "-", "--pair", "1:0x138e", "--page", "data"}, &interrupted);
  EXPECT_EQ(stopped.exit_code, 0) << describe(stopped);
  EXPECT_LT(stopped.elapsed, std::chrono::milliseconds(1700));
  EXPECT_NE(stopped.err.find("nothing arrived on - before Ctrl-C"), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.out.find("Program Number 0x0001 (1)"), std::string::npos);

  TempDir dir;
  const std::string fifo = dir.path() + "/nobody.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const RunResult named = run({kProgram, "capture", fifo, "--pair", "1:0x138e", "--duration", "1"});
  EXPECT_EQ(named.exit_code, 0) << describe(named);
  EXPECT_LT(named.elapsed, std::chrono::milliseconds(3000));
}

// A capture that waits for datagrams waits in the kernel: one more idle second costs next to no CPU.
TEST(AppLive, AnIdleUdpCaptureCostsNoCpu) {
  const std::string source = "udp://127.0.0.1:" + std::to_string(31000 + ::getpid() % 20000);
  const RunResult short_run = run({kProgram, "capture", source, "--pair", "1:0x138e", "--duration", "0.3"});
  const RunResult long_run = run({kProgram, "capture", source, "--pair", "1:0x138e", "--duration", "1.3"});
  ASSERT_EQ(short_run.exit_code, 0) << describe(short_run);
  ASSERT_EQ(long_run.exit_code, 0) << describe(long_run);
  EXPECT_LT(long_run.cpu_seconds - short_run.cpu_seconds, 0.1)
      << "one idle second took " << long_run.cpu_seconds - short_run.cpu_seconds << " s of CPU";
}

// On a terminal the last counter line gives what the capture stored, however short the capture.
TEST(AppTerminal, TheLastCounterLineHoldsTheStoredCounts) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  int master = -1;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("XDG_CONFIG_HOME", DSMCC_TEST_CONFIG_HOME, 1);
    const int null_out = ::open("/dev/null", O_WRONLY);
    ::dup2(null_out, 1);  // the pages; the counters stay on the terminal
    ::execl(kProgram.c_str(), kProgram.c_str(), "capture", path.c_str(), "--pair", "1:0x138e", "--page", "data",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string terminal;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) terminal.append(buffer, static_cast<size_t>(n));
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(master);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << terminal;
  const std::string last = "DownloadServerInitiate: 1  DownloadIndicationInfo: 1  DownloadDataBlock: 2\r\n";
  ASSERT_GE(terminal.size(), last.size()) << terminal;
  EXPECT_EQ(terminal.substr(terminal.size() - last.size()), last) << terminal;
}

// ---- errors and help

TEST(AppErrors, EachErrorIsOneLineAndExitCodeTwo) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string text_file = dir.path() + "/notes.ts";
  {
    std::ofstream f(text_file);
    for (int i = 0; i < 100; ++i) f << "this is a text file, not packets\n";
  }
  const std::string sevent = testsupport::stream_path("hbbtv-sevent.ts");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* message_part;
  };
  std::vector<Case> cases = {
      {"missing file", {"capture", dir.path() + "/no-such-file.ts", "--pair", "1:2"}, "no-such-file.ts"},
      {"not a transport stream", {"capture", text_file, "--pair", "1:2"}, "not a transport stream"},
      {"unknown option", {"capture", text_file, "--frobnicate"}, "unknown option '--frobnicate'"},
      {"bad pair", {"capture", text_file, "--pair", "nonsense"}, "bad --pair 'nonsense'"},
      {"no source", {"scan"}, "no SOURCE"},
      {"unknown option, no command", {"--bogus", text_file}, "unknown option '--bogus' (see dsmcc --help)"},
      {"help of no command", {"help", "bogus"}, "no command 'bogus'"},
  };
  if (!sevent.empty()) cases.push_back({"refused tuner", {"capture", sevent, "--pair", "1:0x138e", "--tuner-type", "4"}, "ATSC"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = dsmcc(c.args);
    EXPECT_EQ(r.exit_code, 2) << describe(r);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message_part), std::string::npos) << r.err;
    if (std::string(c.name) != "refused tuner") {
      EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
    }
  }
}

TEST(AppErrors, HelpOnEveryCommand) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"scan", "--help"}, {"capture", "--help"}, {"capture", "x.ts", "-h"},
        {"help"}, {"help", "capture"}, {"help", "check"}, {"gui", "--help"}}) {
    SCOPED_TRACE(args.front());
    const RunResult r = dsmcc(args);
    EXPECT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.out.rfind("usage: dsmcc", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("example"), std::string::npos);
  }
}

// ---- the log beside the program

TEST(AppLog, LogBesideTheProgramStartsWithTheStartUpLine) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  // A copy of its own, so that no other test's run truncates the log being read: the program and the
  // plug-in module it loads from beside itself.
  const std::string program = dir.path() + "/dsmcc";
  fs::copy_file(kProgram, program);
  fs::copy_file(DSMCC_MODULE, dir.path() + "/dsmcc.so");
  fs::permissions(program, fs::perms::owner_all);
  const RunResult r = run({program, "capture", path, "--pair", "1:0x138e", "--page", "data"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const auto log = lines_of(testapp::slurp(dir.path() + "/dsmcc.txt"));
  ASSERT_FALSE(log.empty()) << "no log file beside the plug-in module";
  const std::regex first(R"(^ +1 - [A-Z][a-z]{2} [0-9]{2} [0-9:]{8}\.[ 0-9]{3} - \([0-9.]+\) - <2> - Starting DSMCC plugin$)");
  EXPECT_TRUE(std::regex_match(log[0], first)) << log[0];
  bool filter_line = false;
  for (const auto& line : log)
    if (line.find("<4> - Adding PID filter (5006)") != std::string::npos) filter_line = true;
  EXPECT_TRUE(filter_line) << "the capture's trace is in the log";
}

// The log where --log puts it, at the threshold of --log-level; a log that cannot be opened is said
// once and the capture goes on.
TEST(AppLog, LogOptionsChooseTheFileAndTheThreshold) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  TempDir dir;
  const std::string log_path = dir.path() + "/chosen.txt";
  const RunResult full = sevent_data_page(path, {"--log", log_path});
  ASSERT_EQ(full.exit_code, 0) << describe(full);
  const auto trace = lines_of(testapp::slurp(log_path));
  ASSERT_GT(trace.size(), 1000u) << "the level-4 trace by default";
  EXPECT_NE(trace[0].find("<2> - Starting DSMCC plugin"), std::string::npos) << trace[0];

  const RunResult quiet = sevent_data_page(path, {"--log", log_path, "--log-level", "1"});
  ASSERT_EQ(quiet.exit_code, 0) << describe(quiet);
  EXPECT_EQ(quiet.out, full.out) << "the pages do not depend on the log";
  for (const auto& line : lines_of(testapp::slurp(log_path)))
    EXPECT_TRUE(line.find("<0> - ") != std::string::npos || line.find("<1> - ") != std::string::npos) << line;

  const RunResult lost = sevent_data_page(path, {"--log", dir.path() + "/no/such/folder/log.txt"});
  ASSERT_EQ(lost.exit_code, 0) << describe(lost);
  EXPECT_EQ(lost.out, full.out);
  EXPECT_EQ(occurrences(lost.err, "cannot write the log"), 1u) << lost.err;
  EXPECT_NE(lost.err.find("no/such/folder/log.txt: No such file or directory"), std::string::npos) << lost.err;
}

// --save: its parent folders made, one summary of the whole save; a folder that cannot be made is
// refused with status 1 before the source is even opened.
TEST(AppSave, OneSummaryForTheWholeSaveAndAnImpossibleFolderRefusedFirst) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  TempDir dir;
  const std::string out = dir.path() + "/new/parents/out";
  const RunResult saved = sevent_data_page(path, {"--save", out});
  ASSERT_EQ(saved.exit_code, 0) << describe(saved);
  EXPECT_EQ(saved.err, "Save: Saved to " + out +
                           ": 4 files of 1 object carousel, 1 module image of 1 download group, 19765 bytes in all.\n");
  EXPECT_TRUE(fs::exists(out + "/object/prg-0x0001/carousel-0x0000000c/index.html")) << "the files are written";

  {
    std::ofstream f(dir.path() + "/plain");
  }
  const RunResult refused = run({kProgram, "capture", dir.path() + "/no-such-source.ts", "--pair", "1:0x138e",
                                 "--save", dir.path() + "/plain/out"});
  EXPECT_EQ(refused.exit_code, 1) << describe(refused);
  EXPECT_EQ(lines_of(refused.err).size(), 1u) << refused.err;
  EXPECT_NE(refused.err.find("cannot save into " + dir.path() + "/plain/out"), std::string::npos) << refused.err;
}

TEST(AppPlugins, RegisterListUnregisterThroughTheModule) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  // A module registered from elsewhere is the one that runs: the program finds it through the registry.
  const std::string module = dir.path() + "/dsmcc.so";
  fs::copy_file(DSMCC_MODULE, module);
  const std::string config = dir.path() + "/config";
  ::setenv("DSMCC_TEST_CONFIG_HOME_OVERRIDE", config.c_str(), 1);
  RunResult r = run({kProgram, "register", module});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  r = run({kProgram, "plugins"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_NE(r.out.find("Dsmcc.DSMCCPlugin.1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("module: " + module), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("threading model: Both"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("name: DSMCC"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x8000 DSMCC Analyzing..."), std::string::npos) << r.out;

  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  r = sevent_data_page(path);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const auto log = lines_of(testapp::slurp(dir.path() + "/dsmcc.txt"));
  ASSERT_FALSE(log.empty()) << "the registered module did not run";

  r = run({kProgram, "unregister", module});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  r = run({kProgram, "plugins"});
  EXPECT_NE(r.out.find("no plug-in registered"), std::string::npos) << r.out;
  ::unsetenv("DSMCC_TEST_CONFIG_HOME_OVERRIDE");
}

TEST(AppPlugins, MissingModuleIsOneClearLine) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string program = dir.path() + "/dsmcc";
  fs::copy_file(kProgram, program);
  fs::permissions(program, fs::perms::owner_all);
  const RunResult r = run({program, "scan", kSourceDir + "/samples/carousel-sample.ts"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("cannot load plug-in module"), std::string::npos) << r.err;
}

// ---- the bundled sample

TEST(AppSample, SampleShowsEveryFileOfItsFolderWithItsSize) {
  const std::string sample = kSourceDir + "/samples/carousel-sample.ts";
  const RunResult r = dsmcc({sample, "--page", "object"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_TRUE(r.err.empty()) << "the sample's PSI lists its carousel: " << r.err;
  // Every file of samples/carousel appears with its size, at the depth of its folder.
  size_t files = 0;
  const fs::path root = kSourceDir + "/samples/carousel";
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path relative = fs::relative(entry.path(), root);
    const size_t depth = static_cast<size_t>(std::distance(relative.begin(), relative.end()));
    const std::string indent(2 * (2 + depth), ' ');
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file()) {
      ++files;
      const std::string line = indent + name + " - size=" + std::to_string(fs::file_size(entry.path())) + "\n";
      EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    } else {
      EXPECT_NE(r.out.find(indent + name + "\n"), std::string::npos) << name << r.out;
    }
  }
  EXPECT_GE(files, 5u);
  EXPECT_NE(r.out.find("    carouselId 0x00000010 (16)\n"), std::string::npos) << r.out;
}

TEST(AppSample, EveryModuleOfTheSampleIsComplete) {
  const RunResult r = dsmcc({kSourceDir + "/samples/carousel-sample.ts", "--page", "data"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const std::regex module(R"(^      0x[0-9a-f]+ \([0-9]+\) Length: 0x[0-9a-f]+ \([0-9]+\) Sections: \(([0-9]+)/([0-9]+)\)$)");
  int modules = 0;
  for (const auto& line : lines_of(r.out)) {
    std::smatch m;
    if (!std::regex_match(line, m, module)) continue;
    ++modules;
    EXPECT_EQ(m[1].str(), m[2].str()) << line;
  }
  EXPECT_EQ(modules, 3) << r.out;
}

TEST(AppSample, GeneratorRebuildsTheCommittedSampleExactly) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.path() + "/sample.ts";
  const RunResult r = run({kMakeSample, kSourceDir + "/samples/carousel", out});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const std::string rebuilt = testapp::slurp(out);
  const std::string committed = testapp::slurp(kSourceDir + "/samples/carousel-sample.ts");
  ASSERT_FALSE(rebuilt.empty());
  EXPECT_TRUE(rebuilt == committed) << "samples/carousel-sample.ts is out of date: run samples/regenerate.sh";
}

}  // namespace
