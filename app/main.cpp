// The `dsmcc` program: a DSM-CC carousel analyzer for DVB transport streams.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/plugin_access.h"
#include "app/session.h"
#ifdef DSMCC_HAS_GUI
#include "app/gui_launch.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "gui") {
#ifdef DSMCC_HAS_GUI
    return app::launch_gui(std::vector<std::string>(args.begin() + 1, args.end()));
#else
    std::fprintf(stderr, "dsmcc: this build has no GUI (it was built without Qt)\n");
    return 2;
#endif
  }
  if (!args.empty() && (args[0] == "register" || args[0] == "unregister" || args[0] == "plugins")) {
    if (args.size() > 1 && (args[1] == "-h" || args[1] == "--help")) {
      std::fputs(app::plugin_help_text().c_str(), stdout);
      return 0;
    }
    if (args.size() > 2 || (args[0] == "plugins" && args.size() > 1)) {
      std::fprintf(stderr, "dsmcc: too many arguments for %s (see dsmcc %s --help)\n", args[0].c_str(),
                   args[0].c_str());
      return 2;
    }
    return app::run_plugin_command(args[0], args.size() > 1 ? args[1] : std::string());
  }
  if (!args.empty() && args[0] == "help") {
    // `dsmcc help` and `dsmcc help COMMAND`, as users of other tools type them.
    std::vector<std::string> asked(args.begin() + 1, args.end());
    if (asked.size() > 1) {
      std::fprintf(stderr, "dsmcc: help takes at most one command (see dsmcc --help)\n");
      return 2;
    }
    if (!asked.empty() && (asked[0] == "register" || asked[0] == "unregister" || asked[0] == "plugins")) {
      std::fputs(app::plugin_help_text().c_str(), stdout);
      return 0;
    }
#ifdef DSMCC_HAS_GUI
    if (!asked.empty() && asked[0] == "gui") return app::launch_gui({"--help"});
#endif
    if (!asked.empty() && asked[0] != "scan" && asked[0] != "capture" && asked[0] != "check" && asked[0] != "diff") {
      std::fprintf(stderr, "dsmcc: no command '%s' (see dsmcc --help)\n", asked[0].c_str());
      return 2;
    }
    asked.push_back("--help");
    const app::ParseResult help = app::parse_command_line(asked);
    std::fputs(app::help_text(help.options.help_for).c_str(), stdout);
    return 0;
  }
  const app::ParseResult parsed = app::parse_command_line(args);
  if (!parsed.ok) {
    std::fprintf(stderr, "dsmcc: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.command == app::Command::help) {
    std::fputs(app::help_text(parsed.options.help_for).c_str(), stdout);
    return 0;
  }
  return app::run_session(parsed.options);
}
