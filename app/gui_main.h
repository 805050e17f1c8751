// `dsmcc gui [SOURCE]`: the host's main window on the Qt backend.
#pragma once

#include <string>
#include <vector>

namespace app {

// args: what follows "gui" on the command line. Returns the exit status: 0 after the window closed,
// 2 for a usage error, a source that cannot be opened, or no display to show windows on.
int run_gui(const std::vector<std::string>& args);

}  // namespace app
