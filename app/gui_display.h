// Whether `dsmcc gui` can show windows here. Qt ends the process when its platform cannot start, so
// the program looks first and fails with a message instead.
#pragma once

#include <functional>
#include <string>

namespace app {

struct DisplayEnvironment {
  // Reads an environment variable (null when unset).
  std::function<const char*(const char*)> getenv;
  // Whether the Qt platform plugin of this name ("xcb", "wayland", "offscreen") is installed.
  std::function<bool(const std::string&)> has_platform;
  // Whether an X server answers on this display name; "" when it does, else why not.
  std::function<std::string(const std::string&)> probe_x;
};

// The environment of this process: the real variables, the installed Qt plugins, a real connection
// attempt to the X server.
DisplayEnvironment process_display_environment();

// The Qt platform to start ("xcb", "wayland", "offscreen", ... as QT_QPA_PLATFORM names it), or ""
// with `problem` set to a one-line message for the user.
std::string choose_platform(const DisplayEnvironment& env, std::string& problem);

}  // namespace app
