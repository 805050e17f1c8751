// The `dsmcc` program run as a user runs it: exit statuses and messages, help, live input on standard
// input and named pipes, its log, its plug-in registry, and the bundled sample. The pages, logs
// and saved files of every shared stream are held by the golden test; this is what it cannot see.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
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
using testsupport::TempDir;
using namespace std::chrono_literals;

const std::string kProgram = DSMCC_PROGRAM;
const std::string kSample = std::string(DSMCC_SOURCE_DIR) + "/samples/carousel-sample.ts";
const std::string kSeventObject =
    std::string(DSMCC_SOURCE_DIR) + "/tests/app/expected/hbbtv-sevent.object.txt";

std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exit_code) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

size_t lines_in(const std::string& text) {
  return static_cast<size_t>(std::ranges::count(text, '\n'));
}

TEST(App, ExitStatusesMessagesAndHelp) {
  TempDir dir;
  const std::string d = dir.path(), text_file = d + "/notes.ts";
  dir.write("notes.ts", std::vector<uint8_t>(4000, 'x'));
  dir.write("plain", {});
  // A copy of the program without the plug-in module beside it.
  fs::copy_file(kProgram, d + "/dsmcc");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char *out, *err;  // parts; an error is one line
  };
  const Case cases[] = {
      {{kProgram, "capture", d + "/no-such-file.ts", "--pair", "1:2"}, 2, "", "no-such-file.ts"},
      {{kProgram, "capture", text_file, "--pair", "1:2"}, 2, "", "not a transport stream"},
      {{kProgram, "--bogus", text_file}, 2, "", "unknown option '--bogus' (see dsmcc --help)"},
      {{kProgram, "help", "bogus"}, 2, "", "no command 'bogus'"},
      {{d + "/dsmcc", "scan", kSample}, 2, "", "cannot load plug-in module"},
      {{kProgram, "capture", d + "/none.ts", "--pair", "1:2", "--save", d + "/plain/out"},
       1,
       "",
       "cannot save"},
      {{kProgram, "diff", kSample, kSample, "--all"}, 0, "", ""},
      {{kProgram, "check", kSample, "--all"}, 0, "3/3 modules complete, 6/6 files resolved, 0 errors", ""},
      {{kProgram, "--help"}, 0, "usage: dsmcc", ""},
      {{kProgram, "help"}, 0, "usage: dsmcc", ""},
      {{kProgram, "capture", "x.ts", "-h"}, 0, "usage: dsmcc capture", ""},
      {{kProgram, "help", "check"}, 0, "usage: dsmcc check", ""},
      {{kProgram, "diff", "--help"}, 0, "usage: dsmcc diff", ""},
      {{kProgram, "gui", "--help"}, 0, "usage: dsmcc gui", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    const RunResult r = run(c.args);
    EXPECT_EQ(r.exit_code, c.status) << describe(r);
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_TRUE(c.status == 0 || r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(lines_in(r.err), *c.err ? 1u : 0u) << r.err;
    EXPECT_TRUE(!std::string(c.out).starts_with("usage") || r.out.find("example") != std::string::npos)
        << r.out;
  }
  const RunResult differ =
      run({kProgram, "diff", kSample, testsupport::stream_path("hbbtv-sevent.ts"), "--all"});
  EXPECT_EQ(differ.exit_code, testsupport::stream_path("hbbtv-sevent.ts").empty() ? 2 : 1)
      << describe(differ);
}

// A live source is read once: its end, --duration, Ctrl-C, a PSI-less carousel found from the scan's own
// bytes, and a writer that stays silent.
TEST(App, LiveInputOnStandardInput) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const std::string object = testapp::slurp(kSeventObject);
  namespace ts = testsupport;
  ts::Packetizer two_carousels;
  for (const uint16_t pid : {uint16_t{0x100}, uint16_t{0x200}}) {
    ts::OcCarousel oc(pid);
    oc.add_file(oc.gateway(), "file-of-" + std::to_string(pid) + ".txt", ts::text_bytes("carousel"), 1);
    two_carousels.add_sections(pid, oc.sections());
  }
  const std::vector<uint8_t> sevent = ts::read_file(path), two = two_carousels.take();
  const std::vector<std::string> capture = {kProgram, "capture", "-", "--pair", "1:0x138e", "--page"};
  struct Case {
    std::vector<std::string> args;
    testapp::LiveInput live;
    std::string out, err;  // out whole when it ends with a line end, else a part
    std::chrono::milliseconds at_least, below;
  };
  const Case cases[] = {
      {{"object"}, {sevent, 500ms, -1ms, true}, object, "", 0ms, 20s},
      {{"object", "--duration", "2"}, {sevent, 500ms, -1ms, false}, object, "", 2000ms, 20s},
      {{"object"}, {sevent, 500ms, 500ms, false}, object, "", 0ms, 20s},
      {{"data", "--duration", "1"},
       {{}, 2500ms, -1ms, false},
       "Program Number 0x0001 (1)",
       "nothing arrived on - within --duration 1 s",
       0ms,
       2200ms},
      {{"data"},
       {{}, 0ms, 500ms, false},
       "Program Number 0x0001 (1)",
       "nothing arrived on - before Ctrl-C",
       0ms,
       1700ms},
      {{"-", "--page", "object"},
       {sevent, 0ms, -1ms, true},
       object,
       "capturing PID 0x138e under programme 1",
       0ms,
       20s},
      {{"-", "--page", "object"}, {two, 0ms, -1ms, true}, "file-of-256.txt - size=8", "", 0ms, 20s},
      {{"-", "--page", "object"}, {two, 0ms, -1ms, true}, "file-of-512.txt - size=8", "", 0ms, 20s},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args.front() == "-" ? std::vector<std::string>{kProgram} : capture;
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.back() + " " + c.out.substr(0, 30));
    const RunResult r = run(args, &c.live);
    EXPECT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_TRUE(c.out.ends_with('\n') ? r.out == c.out : r.out.find(c.out) != std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_TRUE(r.elapsed >= c.at_least && r.elapsed < c.below) << r.elapsed.count() << " ms";
  }
}

// A named pipe nobody opens is bounded by --duration (one that is written is read by the host's tests).
TEST(App, ANamedPipeNobodyOpensEndsWithTheDuration) {
  TempDir dir;
  const std::string silent = dir.path() + "/nobody.fifo";
  ASSERT_EQ(::mkfifo(silent.c_str(), 0600), 0);
  const RunResult nobody = run({kProgram, "capture", silent, "--pair", "1:0x138e", "--duration", "1"});
  EXPECT_EQ(nobody.exit_code, 0) << describe(nobody);
  EXPECT_LT(nobody.elapsed, 3000ms);
}

// The log beside the module that runs (a registered one elsewhere too), where --log puts it, at the
// threshold of --log-level; a log that cannot be opened is said once and the capture goes on.
TEST(App, TheLogAndTheRegisteredModule) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  TempDir dir;
  const std::vector<std::string> data = {kProgram, "capture", path, "--pair", "1:0x138e", "--page", "data"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), data.begin(), data.end());
    return run(more);
  };
  const RunResult quiet = with({"--log", dir.path() + "/chosen.txt", "--log-level", "1"});
  const std::string chosen = testapp::slurp(dir.path() + "/chosen.txt");
  EXPECT_TRUE(fs::exists(dir.path() + "/chosen.txt"));
  EXPECT_TRUE(chosen.find("<2> - ") == std::string::npos && chosen.find("<4> - ") == std::string::npos)
      << chosen;
  const RunResult lost = with({"--log", dir.path() + "/no/such/folder/log.txt"});
  EXPECT_EQ(lost.out, quiet.out) << "the pages do not depend on the log";
  EXPECT_NE(lost.err.find("cannot write the log " + dir.path() +
                          "/no/such/folder/log.txt: No such file or directory"),
            std::string::npos);
  EXPECT_EQ(lines_in(lost.err), 1u) << lost.err;

  const std::string module = dir.path() + "/dsmcc.so";
  fs::copy_file(DSMCC_MODULE, module);
  ::setenv("DSMCC_TEST_CONFIG_HOME_OVERRIDE", (dir.path() + "/config").c_str(), 1);
  EXPECT_EQ(run({kProgram, "register", module}).exit_code, 0);
  const RunResult listed = run({kProgram, "plugins"});
  for (const std::string& part :
       std::vector<std::string>{"Dsmcc.DSMCCPlugin.1", "module: " + module, "threading model: Both",
                                "name: DSMCC", "0x8000 DSMCC Analyzing..."})
    EXPECT_NE(listed.out.find(part), std::string::npos) << part << "\n" << listed.out;
  EXPECT_EQ(with({}).exit_code, 0);
  // The log's lines themselves are held by the golden test.
  EXPECT_NE(testapp::slurp(dir.path() + "/dsmcc.txt").find("Starting DSMCC plugin"), std::string::npos);
  EXPECT_EQ(run({kProgram, "unregister", module}).exit_code, 0);
  EXPECT_NE(run({kProgram, "plugins"}).out.find("no plug-in registered"), std::string::npos);
  ::unsetenv("DSMCC_TEST_CONFIG_HOME_OVERRIDE");
}

// The bundled sample: rebuilt exactly by its generator, and every file of its folder shown with its size
// at the depth of its folder (its check, above, finds every module complete).
TEST(App, TheSampleIsItsFolderAsACarousel) {
  TempDir dir;
  const RunResult made =
      run({MAKE_SAMPLE_PROGRAM, std::string(DSMCC_SOURCE_DIR) + "/samples/carousel", dir.path() + "/s.ts"});
  ASSERT_EQ(made.exit_code, 0) << describe(made);
  EXPECT_TRUE(testapp::slurp(dir.path() + "/s.ts") == testapp::slurp(kSample)) << "run samples/regenerate.sh";
  const RunResult r = run({kProgram, kSample, "--page", "object"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.err, "") << "the sample's PSI lists its carousel";
  const fs::path root = std::string(DSMCC_SOURCE_DIR) + "/samples/carousel";
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path relative = fs::relative(entry.path(), root);
    const std::string line =
        std::string(2 * (2 + std::distance(relative.begin(), relative.end())), ' ') +
        entry.path().filename().string() +
        (entry.is_regular_file() ? " - size=" + std::to_string(fs::file_size(entry.path())) : "");
    EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << line << "\n" << r.out;
  }
}

}  // namespace
