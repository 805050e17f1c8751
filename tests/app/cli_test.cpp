// The command line: what each word means, what is refused, and what --help lists.
#include "app/cli.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "resources/resources.h"

namespace {

using app::Command;
using app::Page;
using app::parse_command_line;

TEST(Cli, PairsTakeTheEditFieldBasesAndTheirLimits) {
  const std::pair<const char*, const char*> pairs[] = {// a pair, and "prg:pid" or a part of the message
                                                       {"0xd49:0X1F", "3401:31"},
                                                       {"010:010", "8:8"},
                                                       {"0xffff:0x1fff", "65535:8191"},
                                                       {"09:1", "'09' is not"},
                                                       {"-1:1", "'-1' is not"},
                                                       {" 7:1", "' 7' is not"},
                                                       {"nonsense", "expected PRG:PID"},
                                                       {"0x10000:1", "at most 0xffff"},
                                                       {"1:0x1000000138e", "at most 0x1fff"},
                                                       {"1:2:3", "the PID '2:3' is not a number"}};
  for (const auto& [text, expected] : pairs) {
    app::PairArg pair;
    std::string error;
    const bool ok = app::parse_pair(text, pair, error);
    const std::string seen =
        ok ? std::to_string(pair.program_number) + ":" + std::to_string(pair.pid) : error;
    EXPECT_NE(seen.find(expected), std::string::npos) << text << ": " << seen;
    EXPECT_TRUE(ok || error.find(text) != std::string::npos) << "the message names the value: " << error;
  }
}

TEST(Cli, EveryOptionIsTakenAndASourceAloneCapturesEverything) {
  const auto r =
      parse_command_line({"capture",    "--pair",        "1:0x138e", "in.ts",   "--pair=0xd49:3001",
                          "--page",     "object",        "--page",   "section", "--page=object",
                          "--json",     "--duration",    "1.5",      "--save",  "out",
                          "--force",    "--tuner-type",  "0x4",      "--all",   "--log",
                          "/tmp/x.txt", "--log-level=-1"});
  ASSERT_TRUE(r.ok) << r.error;
  const app::Options& o = r.options;
  EXPECT_EQ(o.command, Command::capture);
  EXPECT_EQ(o.source, "in.ts");
  ASSERT_EQ(o.pairs.size(), 2u);
  EXPECT_EQ(o.pairs[1].program_number, 0xd49u);
  EXPECT_EQ(o.pages, (std::vector<Page>{Page::section, Page::object})) << "tab order, each page once";
  EXPECT_TRUE(o.json && o.force && o.all);
  EXPECT_EQ(o.duration_seconds.value_or(0), 1.5);
  EXPECT_EQ(o.save_dir.value_or(""), "out");
  EXPECT_EQ(o.tuner_type.value_or(0), 4);
  EXPECT_EQ(o.log.path, "/tmp/x.txt");
  EXPECT_EQ(o.log.level, -1);
  const auto plain = parse_command_line({"mux.ts", "--page", "object"});
  EXPECT_TRUE(plain.ok && plain.options.command == Command::capture && plain.options.all);
  EXPECT_EQ(plain.options.log.path, "") << "beside the module";
  EXPECT_EQ(plain.options.log.level, 4);
}

TEST(Cli, RefusedCommandLinesSayWhatIsWrongInOneLine) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no SOURCE"},
      {{"scan"}, "no SOURCE"},
      {{"capture", "a.ts", "b.ts"}, "more than one SOURCE"},
      {{"capture", "a.ts", "--bogus"}, "unknown option '--bogus'"},
      {{"scan", "a.ts", "--pair", "1:2"}, "unknown option '--pair' for scan"},
      {{"check", "a.ts", "--page", "object"}, "unknown option '--page' for check"},
      {{"capture", "a.ts", "--pair"}, "--pair needs a value"},
      {{"capture", "a.ts", "--pair", "nonsense"}, "bad --pair 'nonsense'"},
      {{"capture", "a.ts", "--page", "tree"}, "bad --page 'tree'"},
      {{"capture", "a.ts", "--duration", "0"}, "bad --duration '0'"},
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
      {{"scan", "a.ts", "--log-level"}, "--log-level needs"},
      {{"capture", "a.ts", "--all", "--log="}, "--log needs a file path"},
      {{"diff", "a.ts", "--all"}, "diff needs two SOURCEs"},
  };
  for (const auto& [args, part] : cases) {
    const auto r = parse_command_line(args);
    EXPECT_FALSE(r.ok) << part;
    EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line: " << r.error;
  }
}

// Each help lists its options with an example, and the fields it names are the analysis window's labels.
TEST(Cli, HelpNamesEveryOptionAndTheWindowsFields) {
  const std::string capture = app::help_text(Command::capture);
  for (const char* part : {"--pair PRG:PID", "--all", "--page", "section", "data", "object", "--json",
                           "--duration SECONDS", "--save DIR", "--force", "--tuner-type N", "--log PATH",
                           "--log-level N", "dsmcc capture sevent.ts --pair 1:0x138e --page object"})
    EXPECT_NE(capture.find(part), std::string::npos) << part;
  EXPECT_EQ(app::help_text(Command::scan).find("--pair PRG:PID"), std::string::npos) << "scan takes no pairs";
  for (const char* part : {"dsmcc SOURCE", "dsmcc scan SOURCE", "dsmcc diff A B", "udp://", "exit status"})
    EXPECT_NE(app::help_text(Command::help).find(part), std::string::npos) << part;
  std::set<std::string> labels;
  for (const auto& c : resources::find_dialog(resources::DIALOG_ANALYSIS)->controls)
    if (c.id == resources::ID_STATIC) labels.insert(std::string(c.text));
  for (const char* field : {"Prg No", "PID", "MUX DSMCC streams"}) {
    EXPECT_NE(capture.find(field), std::string::npos) << field;
    EXPECT_TRUE(labels.contains(field)) << field;
  }
}

}  // namespace
