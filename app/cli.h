// The command line of the `dsmcc` program: commands, options, help texts.
//
//   dsmcc SOURCE [options]          the same as: dsmcc capture SOURCE --all [options]
//   dsmcc scan SOURCE [options]     the "MUX DSMCC streams" list
//   dsmcc capture SOURCE [options]  a capture, then the pages
//   dsmcc check SOURCE [options]    a capture, then the findings of the health check
//   dsmcc diff A B [options]        a capture of each, then what changed from A to B
//
// Parsing never touches the source: it only checks the words typed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

enum class Command { help, scan, capture, check, diff };

// The three pages, in tab order.
enum class Page { section = 0, data = 1, object = 2 };

// A --pair as typed: the two texts go into the Prg No and PID fields as they are.
struct PairArg {
  std::string program_text;
  std::string pid_text;
  uint32_t program_number = 0;
  uint32_t pid = 0;
};

// --log PATH and --log-level N: where the diagnostic log goes and its threshold after start-up.
struct LogOptions {
  std::string path;  // "": beside the module
  int32_t level = 4;
};

// Whether args[i] is --log or --log-level ("--log=PATH" included); when it is, takes its value (behind
// "=", or the next word, advancing `i`) into `log`. `error` is set when the value is missing or bad.
bool take_log_option(const std::vector<std::string>& args, size_t& i, LogOptions& log, std::string& error);

struct Options {
  Command command = Command::help;
  // Which command's help to show (Command::help: the general one).
  Command help_for = Command::help;
  std::string source;
  std::string other_source;  // diff: B
  std::vector<PairArg> pairs;
  bool all = false;
  // The pages to print, in tab order, each once; empty means all three.
  std::vector<Page> pages;
  bool json = false;
  std::optional<double> duration_seconds;
  std::optional<std::string> save_dir;
  bool force = false;
  std::optional<uint16_t> tuner_type;
  LogOptions log;
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // one line, without the program name, when !ok
};

ParseResult parse_command_line(const std::vector<std::string>& args);

// A number as the Prg No and PID fields take it ("0x" hexadecimal, leading "0" octal, else decimal),
// but only when the whole text is one: false for "", "0x", "12abc", "-1", "09".
bool parse_number(const std::string& text, uint32_t& value);

// PRG:PID with PRG at most 0xFFFF and PID at most 0x1FFF.
bool parse_pair(const std::string& text, PairArg& pair, std::string& error);

// The help lines of --log and --log-level, their texts starting at `column` as in the help they stand in.
std::string log_option_help(size_t column);

// The help text of a command (Command::help: the overview).
std::string help_text(Command command);

// The tab text of a page: "Section", "Data Carousel", "Object Carousel".
const char* page_title(Page page);

}  // namespace app
