// The command line: what each word means, what is refused, and what --help lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli.h"

namespace {

using app::Command;
using app::Page;
using app::parse_command_line;

TEST(CliNumbers, WholeTextsOfTheEditFieldBasesOnly) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {"12", true, 12},         {"0x138e", true, 0x138e}, {"0X1F", true, 0x1f},  {"010", true, 8},
      {"0", true, 0},           {"4294967295", true, 0xFFFFFFFFu},                  {"4294967296", false, 0},
      {"", false, 0},           {"0x", false, 0},         {"09", false, 0},       {"12abc", false, 0},
      {"-1", false, 0},         {" 7", false, 0},         {"+7", false, 0},       {"nonsense", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t v = 77;
    EXPECT_EQ(app::parse_number(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(CliPairs, ProgrammeAndPidWithTheirLimits) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t program_number, pid;
    const char* error_part;
  };
  const Case cases[] = {
      {"1:0x138e", true, 1, 0x138e, ""},
      {"0xd49:0xbb9", true, 0xd49, 0xbb9, ""},
      {"010:010", true, 8, 8, ""},
      {"0xffff:0x1fff", true, 0xffff, 0x1fff, ""},
      {"nonsense", false, 0, 0, "expected PRG:PID"},
      {"1:", false, 0, 0, "the PID '' is not a number"},
      {":5", false, 0, 0, "programme number '' is not a number"},
      {"1:x", false, 0, 0, "the PID 'x' is not a number"},
      {"0x10000:1", false, 0, 0, "at most 0xffff"},
      {"1:0x2000", false, 0, 0, "at most 0x1fff"},
      {"1:0x1000000138e", false, 0, 0, "at most 0x1fff"},
      {"0x100000001:1", false, 0, 0, "at most 0xffff"},
      {"1:99999999999999999999999", false, 0, 0, "at most 0x1fff"},
      {"1:2:3", false, 0, 0, "the PID '2:3' is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    app::PairArg pair;
    std::string error;
    EXPECT_EQ(app::parse_pair(c.text, pair, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(pair.program_number, c.program_number);
      EXPECT_EQ(pair.pid, c.pid);
    } else {
      EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
      EXPECT_NE(error.find(c.text), std::string::npos) << "the message names the value: " << error;
    }
  }
}

TEST(CliCommands, SourceAloneIsACaptureOfEverything) {
  const auto r = parse_command_line({"mux.ts"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.command, Command::capture);
  EXPECT_EQ(r.options.source, "mux.ts");
  EXPECT_TRUE(r.options.all);
  EXPECT_TRUE(r.options.pages.empty());

  const auto with_page = parse_command_line({"mux.ts", "--page", "object", "--json"});
  ASSERT_TRUE(with_page.ok) << with_page.error;
  EXPECT_TRUE(with_page.options.all);
  EXPECT_TRUE(with_page.options.json);
  EXPECT_EQ(with_page.options.pages, std::vector<Page>{Page::object});
}

TEST(CliCommands, CaptureTakesEveryOption) {
  const auto r = parse_command_line({"capture", "--pair", "1:0x138e", "in.ts", "--pair=0xd49:3001", "--page",
                                     "object", "--page", "section", "--page=object", "--json", "--duration",
                                     "1.5", "--save", "out", "--force", "--tuner-type", "0x4", "--all",
                                     "--log", "/tmp/x.txt", "--log-level=-1"});
  ASSERT_TRUE(r.ok) << r.error;
  const app::Options& o = r.options;
  EXPECT_EQ(o.command, Command::capture);
  EXPECT_EQ(o.source, "in.ts");
  ASSERT_EQ(o.pairs.size(), 2u);
  EXPECT_EQ(o.pairs[0].program_text, "1");
  EXPECT_EQ(o.pairs[0].pid_text, "0x138e");
  EXPECT_EQ(o.pairs[1].program_number, 0xd49u);
  EXPECT_EQ(o.pairs[1].pid, 3001u);
  EXPECT_EQ(o.pages, (std::vector<Page>{Page::section, Page::object})) << "tab order, each page once";
  EXPECT_TRUE(o.json);
  ASSERT_TRUE(o.duration_seconds.has_value());
  EXPECT_DOUBLE_EQ(*o.duration_seconds, 1.5);
  ASSERT_TRUE(o.save_dir.has_value());
  EXPECT_EQ(*o.save_dir, "out");
  EXPECT_TRUE(o.force);
  ASSERT_TRUE(o.tuner_type.has_value());
  EXPECT_EQ(*o.tuner_type, 4);
  EXPECT_TRUE(o.all);
  EXPECT_EQ(o.log.path, "/tmp/x.txt");
  EXPECT_EQ(o.log.level, -1);
}

TEST(CliCommands, ScanAndStandardInput) {
  const auto scan = parse_command_line({"scan", "mux.ts", "--tuner-type", "3", "--log-level", "0"});
  ASSERT_TRUE(scan.ok) << scan.error;
  EXPECT_EQ(scan.options.log.level, 0);
  EXPECT_EQ(scan.options.log.path, "") << "beside the module";
  EXPECT_EQ(scan.options.command, Command::scan);
  EXPECT_FALSE(scan.options.all);
  const auto stdin_source = parse_command_line({"capture", "-", "--pair", "1:2"});
  ASSERT_TRUE(stdin_source.ok) << stdin_source.error;
  EXPECT_EQ(stdin_source.options.source, "-");
}

TEST(CliCommands, HelpForEachCommand) {
  struct Case {
    std::vector<std::string> args;
    Command help_for;
  };
  const Case cases[] = {
      {{"--help"}, Command::help},
      {{"-h"}, Command::help},
      {{"scan", "--help"}, Command::scan},
      {{"capture", "in.ts", "-h"}, Command::capture},
      {{"in.ts", "--help"}, Command::capture},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const auto r = parse_command_line(c.args);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.command, Command::help);
    EXPECT_EQ(r.options.help_for, c.help_for);
  }
}

TEST(CliCommands, RefusedCommandLinesSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char* error_part;
  };
  const Case cases[] = {
      {{}, "no SOURCE"},
      {{"capture"}, "no SOURCE"},
      {{"scan"}, "no SOURCE"},
      {{"capture", "a.ts", "b.ts"}, "more than one SOURCE"},
      {{"capture", "a.ts", "--bogus"}, "unknown option '--bogus'"},
      {{"scan", "a.ts", "--pair", "1:2"}, "unknown option '--pair' for scan"},
      {{"scan", "a.ts", "--json"}, "unknown option '--json' for scan"},
      {{"capture", "a.ts", "--pair"}, "--pair needs a value"},
      {{"capture", "a.ts", "--pair", "nonsense"}, "bad --pair 'nonsense'"},
      {{"capture", "a.ts", "--page", "tree"}, "bad --page 'tree'"},
      {{"capture", "a.ts", "--duration", "0"}, "bad --duration '0'"},
      {{"capture", "a.ts", "--duration", "-3"}, "bad --duration '-3'"},
      {{"capture", "a.ts", "--duration", "soon"}, "bad --duration 'soon'"},
      {{"capture", "a.ts", "--duration", "inf"}, "bad --duration 'inf'"},
      {{"capture", "a.ts", "--duration"}, "--duration needs"},
      {{"capture", "a.ts", "--tuner-type", "70000"}, "bad --tuner-type '70000'"},
      {{"capture", "a.ts", "--force"}, "--force goes with --save"},
      {{"capture", "a.ts", "--save", ""}, "--save needs a directory"},
      {{"capture", "a.ts", "--json=yes"}, "--json takes no value"},
      {{"capture", "a.ts", "--page", "object"}, "nothing to capture"},
      {{"capture", "a.ts", "--all", "--log-level", "5"}, "bad --log-level '5'"},
      {{"capture", "a.ts", "--all", "--log-level", "-2"}, "bad --log-level '-2'"},
      {{"scan", "a.ts", "--log-level", "3x"}, "bad --log-level '3x'"},
      {{"scan", "a.ts", "--log-level"}, "--log-level needs"},
      {{"capture", "a.ts", "--all", "--log"}, "--log needs a file path"},
      {{"capture", "a.ts", "--all", "--log="}, "--log needs a file path"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const auto r = parse_command_line(c.args);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.error_part), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line";
  }
}

TEST(CliHelp, EveryOptionWithAnExample) {
  const std::string capture = app::help_text(Command::capture);
  for (const char* option : {"--pair PRG:PID", "--all", "--page", "section", "data", "object", "--json",
                             "--duration SECONDS", "--save DIR", "--force", "--tuner-type N", "--log PATH",
                             "--log-level N", "--help"}) {
    EXPECT_NE(capture.find(option), std::string::npos) << option;
  }
  EXPECT_NE(capture.find("example"), std::string::npos);
  EXPECT_NE(capture.find("dsmcc capture sevent.ts --pair 1:0x138e --page object"), std::string::npos);

  const std::string scan = app::help_text(Command::scan);
  EXPECT_NE(scan.find("--tuner-type N"), std::string::npos);
  EXPECT_NE(scan.find("example"), std::string::npos);
  EXPECT_EQ(scan.find("--pair PRG:PID"), std::string::npos) << "scan takes no pairs";

  const std::string overview = app::help_text(Command::help);
  for (const char* part : {"dsmcc SOURCE", "dsmcc scan SOURCE", "dsmcc capture SOURCE", "udp://", "exit status"})
    EXPECT_NE(overview.find(part), std::string::npos) << part;
}

TEST(CliPages, TitlesAreTheTabTexts) {
  EXPECT_STREQ(app::page_title(Page::section), "Section");
  EXPECT_STREQ(app::page_title(Page::data), "Data Carousel");
  EXPECT_STREQ(app::page_title(Page::object), "Object Carousel");
}

}  // namespace
