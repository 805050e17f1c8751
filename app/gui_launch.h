// `dsmcc gui` and `dsmcc help gui`: the GUI module, loaded from beside the program when asked for.
#pragma once

#include <string>
#include <vector>

namespace app {

// args: what follows "gui". The window's exit status, or 2 when the module cannot be loaded.
int launch_gui(const std::vector<std::string>& args);

}  // namespace app
