// The `dsmcc` program: a DSM-CC carousel analyzer for DVB transport streams.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/session.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
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
