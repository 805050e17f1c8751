#include "app/gui_main.h"

#include <QApplication>
#include <cstdio>

#include "app/gui_display.h"
#include "app/gui_host.h"
#include "host/host.h"
#include "ui/qt/qt_backend.h"

namespace app {

namespace {

const char kGuiHelp[] =
    "usage: dsmcc gui [SOURCE] [--log PATH] [--log-level N]\n"
    "\n"
    "Opens the host's main window with the analyzer's menu: File > Open stream... picks a transport\n"
    "stream, DSMCC > DSMCC Analyzing... opens the analysis window on it. SOURCE, when given, is opened\n"
    "at once (a file, - for standard input, or udp://[group@]host:port).\n"
    "\n"
    "Needs a display (DISPLAY or WAYLAND_DISPLAY); QT_QPA_PLATFORM=offscreen runs without a screen.\n"
    "With DSMCC_SCREENSHOT_DIR set, every window is written there as a PNG file when it closes.\n"
    "\n"
    "options:\n";

const char kGuiHelpEnd[] =
    "\n"
    "example:\n"
    "  dsmcc gui capture.ts\n";

}  // namespace

int run_gui(const std::vector<std::string>& args) {
  std::string source;
  LogOptions log;
  for (size_t i = 0; i < args.size(); ++i) {
    if (std::string error; take_log_option(args, i, log, error)) {
      if (!error.empty()) {
        std::fprintf(stderr, "dsmcc: %s (see dsmcc gui --help)\n", error.c_str());
        return 2;
      }
      continue;
    }
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs((kGuiHelp + log_option_help(20) + kGuiHelpEnd).c_str(), stdout);
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "dsmcc: unknown option '%s' for gui (see dsmcc gui --help)\n", arg.c_str());
      return 2;
    }
    if (!source.empty()) {
      std::fprintf(stderr, "dsmcc: more than one SOURCE given: '%s' and '%s' (see dsmcc gui --help)\n",
                   source.c_str(), arg.c_str());
      return 2;
    }
    source = arg;
  }

  std::string problem;
  const std::string platform = choose_platform(process_display_environment(), problem);
  if (platform.empty()) {
    std::fprintf(stderr, "dsmcc: cannot open the GUI: %s\n", problem.c_str());
    return 2;
  }
  if (!source.empty()) {
    // Checked before any window exists, so that a wrong name is said in one line on the terminal.
    host::Host probe;
    if (std::string error = probe.open(source); !error.empty()) {
      std::fprintf(stderr, "dsmcc: %s\n", error.c_str());
      return 2;
    }
  }
  qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform));

  int argc = 1;
  char program[] = "dsmcc";
  char* argv[] = {program, nullptr};
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("dsmcc"));

  int status = 0;
  {
    ui::qt::QtBackend backend;
    ui::set_backend(&backend);
    {
      GuiHost window(log);
      backend.set_main_window(&window);
      if (!window.plugin_error().empty()) {
        std::fprintf(stderr, "dsmcc: %s\n", window.plugin_error().c_str());
        status = 2;
      } else if (!source.empty()) {
        if (std::string error = window.open_source(source); !error.empty()) {
          std::fprintf(stderr, "dsmcc: %s\n", error.c_str());
          status = 2;
        }
      }
      if (status == 0) {
        window.show();
        status = QApplication::exec();
      }
      backend.set_main_window(nullptr);
    }
    ui::set_backend(nullptr);
  }
  return status;
}

}  // namespace app
