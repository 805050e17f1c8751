// The entry point of the GUI module: `dsmcc gui` loads it, so that no other command pays for loading Qt.
#include <string>
#include <vector>

#include "app/gui_main.h"

extern "C" __attribute__((visibility("default"))) int dsmcc_run_gui(int argc, const char* const* argv) {
  return app::run_gui(std::vector<std::string>(argv, argv + argc));
}
