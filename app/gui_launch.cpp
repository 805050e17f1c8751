#include "app/gui_launch.h"

#include <dlfcn.h>

#include <cstdio>

#include "host/plugin_loader.h"

namespace app {

int launch_gui(const std::vector<std::string>& args) {
  const std::string path = host::beside_program("dsmcc-gui.so");
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "dsmcc: cannot load the GUI module %s: %s\n", path.c_str(), why ? why : "unknown error");
    return 2;
  }
  using RunGui = int (*)(int, const char* const*);
  auto run = reinterpret_cast<RunGui>(::dlsym(module, "dsmcc_run_gui"));
  if (!run) {
    std::fprintf(stderr, "dsmcc: %s has no GUI entry point\n", path.c_str());
    return 2;
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  // The module stays loaded to the end: Qt's exit handlers live in it.
  return run(static_cast<int>(argv.size()), argv.data());
}

}  // namespace app
