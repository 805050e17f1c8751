#include "app/cli.h"

#include "app/report_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

const char kOverview[] =
    "usage: dsmcc SOURCE [capture options]\n"
    "       dsmcc scan SOURCE [--tuner-type N]\n"
    "       dsmcc capture SOURCE [--pair PRG:PID]... [--all] [--page section|data|object]... [--json]\n"
    "                            [--duration SECONDS] [--save DIR] [--force] [--tuner-type N]\n"
    "       dsmcc check SOURCE [--pair PRG:PID]... [--all] [--json] [--duration SECONDS] [--tuner-type N]\n"
    "       dsmcc diff A B [--pair PRG:PID]... [--all] [--json] [--duration SECONDS] [--tuner-type N]\n"
    "       dsmcc gui [SOURCE]\n"
    "       dsmcc register [MODULE] | unregister [MODULE] | plugins\n"
    "\n"
    "Finds, captures and shows the DSM-CC data and object carousels of a DVB transport stream.\n"
    "\n"
    "commands:\n"
    "  scan      scan the PAT and PMTs and print the \"MUX DSMCC streams\" list, one entry per line\n"
    "  capture   capture the given programme/PID pairs and print the Section, Data Carousel and\n"
    "            Object Carousel pages\n"
    "  check     capture as capture does, then check every carousel: sizes, blocks, versions,\n"
    "            compression, BIOP messages and names; one finding a line\n"
    "  diff      capture A and B as capture does, then print what changed from A to B, carousel by\n"
    "            carousel: versions, modules, files and directories\n"
    "  gui       the analysis window on the desktop, from the host's menu (see dsmcc gui --help)\n"
    "  register, unregister, plugins\n"
    "            register the plug-in module in the per-user registry, remove it, list what is there\n"
    "  (none)    dsmcc SOURCE is dsmcc capture SOURCE --all: every DSM-CC stream the PSI lists\n"
    "\n"
    "SOURCE is a transport-stream file (188, 192 or 204-byte packets), - for standard input, or\n"
    "udp://[group@]host:port (unicast or multicast, plain or RTP).\n"
    "\n"
    "Run dsmcc scan --help, dsmcc capture --help, dsmcc check --help or dsmcc diff --help for the\n"
    "options of each command. Every command, gui included, takes --log PATH (the diagnostic log there\n"
    "instead of beside the plug-in module) and --log-level N (0 to 4, default 4; -1 writes no line).\n"
    "\n"
    "examples:\n"
    "  dsmcc capture.ts\n"
    "  dsmcc scan capture.ts\n"
    "  dsmcc capture capture.ts --pair 1:0x138e --page object\n"
    "  dsmcc check capture.ts --pair 1:0x138e\n"
    "  dsmcc diff yesterday.ts today.ts --pair 1:0x138e\n"
    "\n"
    "exit status: 0 when the scan or capture ran; 1 when --save could not write what it should, or\n"
    "register/unregister failed; 2 for a usage or input error (a missing file, not a transport\n"
    "stream, a bad option, a module that cannot be loaded); check and diff say in their help what\n"
    "else they answer (3: check found an error; 1: diff found a difference).\n";

const char kScanHelp[] =
    "usage: dsmcc scan SOURCE [--tuner-type N]\n"
    "\n"
    "Scans the PAT and every PMT of SOURCE and prints the \"MUX DSMCC streams\" list, one entry per line,\n"
    "as \"Prg 0xPPPP PID 0xPPPP\". A stream is listed when its stream_type is 0x0B, 0x0D or 0x80 and above\n"
    "and its descriptors name a data or object carousel. When nothing is listed, the PIDs of the file\n"
    "that carry DSM-CC sections (tables 0x3B and 0x3C) are named on stderr with the --pair to use.\n"
    "\n"
    "options:\n"
    "  --tuner-type N   the tuner type the host reports (4 and 8 are ATSC tuners, which the analyzer\n"
    "                   refuses); default 3, a DVB-T tuner\n";

const char kScanHelpEnd[] =
    "  -h, --help       this text\n"
    "\n"
    "example:\n"
    "  dsmcc scan multiplex.ts\n";

const char kCaptureHelp[] =
    "usage: dsmcc capture SOURCE [--pair PRG:PID]... [--all] [--page section|data|object]... [--json]\n"
    "                            [--duration SECONDS] [--save DIR] [--force] [--tuner-type N]\n"
    "\n"
    "Scans the PSI, adds the given pairs to the capture list, captures until the end of a file, the end\n"
    "of --duration or Ctrl-C, and prints the pages as text trees (two spaces of indentation a level) or\n"
    "as JSON. While a capture runs on a terminal, stderr shows the DSI, DII and DDB counts.\n"
    "\n"
    "options:\n"
    "  --pair PRG:PID     capture PID under programme PRG; numbers are decimal, 0x-prefixed hexadecimal\n"
    "                     or 0-prefixed octal, as the Prg No and PID fields take them; repeatable\n"
    "  --all              capture every entry of the \"MUX DSMCC streams\" list; when the PSI lists none\n"
    "                     and no --pair is given, the PIDs of the file that carry DSM-CC sections are\n"
    "                     captured under programme 1\n"
    "  --page NAME        print only this page: section, data or object; repeatable; pages are printed\n"
    "                     in tab order (Section, Data Carousel, Object Carousel)\n"
    "  --json             print the pages as one JSON object: {\"Section\": [tree], \"Data Carousel\": [...],\n"
    "                     \"Object Carousel\": [...]}, each node {\"text\", \"image\", \"selected_image\",\n"
    "                     \"expanded\", \"children\"}\n"
    "  --duration SECONDS end the capture after this many seconds (a live source runs until Ctrl-C\n"
    "                     otherwise)\n"
    "  --save DIR         write the rebuilt carousel files and module images below DIR\n"
    "  --force            with --save: replace files that already exist\n"
    "  --tuner-type N     the tuner type the host reports (4 and 8 are refused); default 3\n";

const char kCaptureHelpEnd[] =
    "  -h, --help         this text\n"
    "\n"
    "examples:\n"
    "  dsmcc capture sevent.ts --pair 1:0x138e --page object\n"
    "  dsmcc capture multiplex.ts --all --json > pages.json\n"
    "  dsmcc capture udp://239.1.1.1:1234 --pair 0xd49:0xbb9 --duration 60\n";

bool is_option(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

// Splits "--name=value" into name and value.
bool split_inline_value(const std::string& word, std::string& name, std::string& value) {
  const auto eq = word.find('=');
  if (word.rfind("--", 0) != 0 || eq == std::string::npos) return false;
  name = word.substr(0, eq);
  value = word.substr(eq + 1);
  return true;
}

}  // namespace

const char* page_title(Page page) {
  switch (page) {
    case Page::section:
      return "Section";
    case Page::data:
      return "Data Carousel";
    case Page::object:
      return "Object Carousel";
  }
  return "";
}

std::string help_text(Command command) {
  switch (command) {
    case Command::scan:
      return kScanHelp + log_option_help(19) + kScanHelpEnd;
    case Command::capture:
      return kCaptureHelp + log_option_help(21) + kCaptureHelpEnd;
    case Command::check:
      return check_help_text();
    case Command::diff:
      return diff_help_text();
    case Command::help:
      break;
  }
  return kOverview;
}

namespace {

// The whole text as one number of the edit fields' bases; a number past 64 bits gives UINT64_MAX.
bool parse_wide_number(const std::string& text, uint64_t& value) {
  if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  // strtoull reads "0x" as the number 0 followed by an "x", and "09" as 0 followed by a "9": the whole
  // text must be used.
  if (end == text.c_str() || *end != '\0' || (errno != 0 && errno != ERANGE)) return false;
  value = v;
  return true;
}

}  // namespace

bool parse_number(const std::string& text, uint32_t& value) {
  uint64_t v = 0;
  if (!parse_wide_number(text, v) || v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool parse_pair(const std::string& text, PairArg& pair, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) {
    error = "bad --pair '" + text + "': expected PRG:PID, for example 1:0x138e";
    return false;
  }
  pair.program_text = text.substr(0, colon);
  pair.pid_text = text.substr(colon + 1);
  uint64_t program = 0, pid = 0;
  if (!parse_wide_number(pair.program_text, program)) {
    error = "bad --pair '" + text + "': the programme number '" + pair.program_text + "' is not a number";
    return false;
  }
  if (!parse_wide_number(pair.pid_text, pid)) {
    error = "bad --pair '" + text + "': the PID '" + pair.pid_text + "' is not a number";
    return false;
  }
  if (program > 0xFFFF) {
    error = "bad --pair '" + text + "': a programme number is at most 0xffff";
    return false;
  }
  if (pid > 0x1FFF) {
    error = "bad --pair '" + text + "': a PID is at most 0x1fff";
    return false;
  }
  pair.program_number = static_cast<uint32_t>(program);
  pair.pid = static_cast<uint32_t>(pid);
  return true;
}

ParseResult parse_command_line(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  auto fail = [&](std::string message) {
    result.ok = false;
    result.error = std::move(message);
    return result;
  };
  if (args.empty()) return fail("no SOURCE given (see dsmcc --help)");

  size_t i = 0;
  bool implicit_all = false;
  const std::string& first = args[0];
  if (first == "-h" || first == "--help") {
    o.command = Command::help;
    result.ok = true;
    return result;
  }
  if (first == "scan") {
    o.command = Command::scan;
    ++i;
  } else if (first == "capture") {
    o.command = Command::capture;
    ++i;
  } else if (first == "check" || first == "diff") {
    o.command = first == "check" ? Command::check : Command::diff;
    ++i;
  } else {
    o.command = Command::capture;
    implicit_all = true;
  }
  const char* command_name = o.command == Command::scan    ? "scan"
                             : o.command == Command::check ? "check"
                             : o.command == Command::diff  ? "diff"
                                                           : "capture";
  const bool reports = o.command == Command::check || o.command == Command::diff;
  // The options of `dsmcc SOURCE` are capture's, but the user typed no command: the overview is the
  // help they know.
  const std::string see = implicit_all ? std::string(" (see dsmcc --help)")
                                       : std::string(" (see dsmcc ") + command_name + " --help)";

  std::vector<bool> page_wanted(3, false);
  bool any_page = false;
  for (; i < args.size(); ++i) {
    std::string word = args[i];
    std::string option_name, inline_value;
    const bool has_inline = split_inline_value(args[i], option_name, inline_value);
    if (has_inline) word = option_name;
    auto value = [&](std::string& out) -> bool {
      if (has_inline) {
        out = inline_value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto takes_no_value = [&]() { return !has_inline; };

    if (word == "-h" || word == "--help") {
      o.help_for = o.command;
      o.command = Command::help;
      result.ok = true;
      return result;
    }
    if (!is_option(word)) {
      if (o.command == Command::diff && !o.source.empty() && o.other_source.empty()) {
        o.other_source = word;
        continue;
      }
      if (o.command == Command::diff && !o.source.empty())
        return fail("more than two SOURCEs given: '" + o.source + "', '" + o.other_source + "' and '" + word + "'" + see);
      if (!o.source.empty()) return fail("more than one SOURCE given: '" + o.source + "' and '" + word + "'" + see);
      o.source = word;
      continue;
    }
    if (word == "--tuner-type") {
      std::string v;
      uint32_t n = 0;
      if (!value(v)) return fail("--tuner-type needs a value" + see);
      if (!parse_number(v, n) || n > 0xFFFF) return fail("bad --tuner-type '" + v + "': expected a number up to 65535");
      o.tuner_type = static_cast<uint16_t>(n);
      continue;
    }
    if (std::string log_error; take_log_option(args, i, o.log, log_error)) {
      if (!log_error.empty()) return fail(log_error + see);
      continue;
    }
    if (o.command == Command::scan) return fail("unknown option '" + args[i] + "' for scan" + see);
    if (reports && (word == "--page" || word == "--save" || word == "--force"))
      return fail("unknown option '" + args[i] + "' for " + command_name + see);

    if (word == "--pair") {
      std::string v, error;
      if (!value(v)) return fail("--pair needs a value PRG:PID" + see);
      PairArg pair;
      if (!parse_pair(v, pair, error)) return fail(error);
      o.pairs.push_back(pair);
    } else if (word == "--all") {
      if (!takes_no_value()) return fail("--all takes no value" + see);
      o.all = true;
    } else if (word == "--page") {
      std::string v;
      if (!value(v)) return fail("--page needs a value: section, data or object" + see);
      Page p;
      if (v == "section")
        p = Page::section;
      else if (v == "data")
        p = Page::data;
      else if (v == "object")
        p = Page::object;
      else
        return fail("bad --page '" + v + "': expected section, data or object");
      page_wanted[static_cast<size_t>(p)] = true;
      any_page = true;
    } else if (word == "--json") {
      if (!takes_no_value()) return fail("--json takes no value" + see);
      o.json = true;
    } else if (word == "--duration") {
      std::string v;
      if (!value(v)) return fail("--duration needs a number of seconds" + see);
      char* end = nullptr;
      errno = 0;
      const double seconds = std::strtod(v.c_str(), &end);
      if (v.empty() || errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0)
        return fail("bad --duration '" + v + "': expected a number of seconds above 0");
      o.duration_seconds = seconds;
    } else if (word == "--save") {
      std::string v;
      if (!value(v) || v.empty()) return fail("--save needs a directory" + see);
      o.save_dir = v;
    } else if (word == "--force") {
      if (!takes_no_value()) return fail("--force takes no value" + see);
      o.force = true;
    } else {
      return fail("unknown option '" + args[i] + "'" + see);
    }
  }
  if (o.source.empty()) return fail(std::string("no SOURCE given") + see);
  if (o.command == Command::diff && o.other_source.empty()) return fail("diff needs two SOURCEs, A and B" + see);
  if (implicit_all) o.all = true;
  if (o.force && !o.save_dir) return fail("--force goes with --save DIR" + see);
  if ((o.command == Command::capture || reports) && o.pairs.empty() && !o.all)
    return fail("nothing to capture: give --pair PRG:PID or --all" + see);
  if (any_page)
    for (size_t p = 0; p < page_wanted.size(); ++p)
      if (page_wanted[p]) o.pages.push_back(static_cast<Page>(p));
  result.ok = true;
  return result;
}

std::string log_option_help(size_t column) {
  const std::string indent(column, ' ');
  auto name = [&](const char* text) { return "  " + std::string(text) + std::string(column - 2 - std::strlen(text), ' '); };
  return name("--log PATH") + "write the diagnostic log to PATH instead of beside the plug-in module\n" +
         name("--log-level N") + "the log's threshold after start-up: 0 to 4 (default 4, the full trace),\n" + indent +
         "-1 for no line\n";
}

bool take_log_option(const std::vector<std::string>& args, size_t& i, LogOptions& log, std::string& error) {
  std::string word = args[i], value;
  const bool has_inline = split_inline_value(args[i], word, value);
  if (word != "--log" && word != "--log-level") return false;
  if (!has_inline) {
    if (i + 1 >= args.size()) {
      error = word == "--log" ? "--log needs a file path" : "--log-level needs a level from -1 to 4";
      return true;
    }
    value = args[++i];
  }
  if (word == "--log") {
    if (value.empty()) error = "--log needs a file path";
    log.path = value;
    return true;
  }
  char* end = nullptr;
  const long level = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || level < -1 || level > 4)
    error = "bad --log-level '" + value + "': expected a level from -1 (no line) to 4 (the full trace)";
  else
    log.level = static_cast<int32_t>(level);
  return true;
}

}  // namespace app
