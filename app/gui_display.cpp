#include "app/gui_display.h"

#include <dlfcn.h>

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <cstdlib>

namespace app {

namespace {

bool set(const char* value) {
  return value && *value;
}

// The plugin named first in a QT_QPA_PLATFORM value ("offscreen:fontengine=freetype", "xcb;offscreen").
std::string first_platform(const std::string& desc) {
  const size_t end = desc.find_first_of(":;");
  return desc.substr(0, end);
}

bool qt_platform_installed(const std::string& name) {
  const QDir dir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  // The Wayland plugins are named after the shell integration ("libqwayland-generic.so").
  const QString stem = QStringLiteral("libq") + QString::fromStdString(name);
  for (const QString& file : dir.entryList(QDir::Files))
    if (file == stem + ".so" || (name == "wayland" && file.startsWith(stem + "-"))) return true;
  return false;
}

// Connects to the X server through libxcb, loaded here only for the question, so that the program
// itself does not depend on it.
std::string x_server_answers(const std::string& display) {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return "the X client library (libxcb.so.1) is not installed";
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  std::string problem;
  if (!connect || !has_error || !disconnect) {
    problem = "the X client library (libxcb.so.1) lacks xcb_connect";
  } else {
    void* connection = connect(display.c_str(), nullptr);
    if (!connection || has_error(connection) != 0) problem = "cannot connect to the X display " + display;
    if (connection) disconnect(connection);
  }
  ::dlclose(xcb);
  return problem;
}

}  // namespace

DisplayEnvironment process_display_environment() {
  return {[](const char* name) -> const char* { return std::getenv(name); }, qt_platform_installed,
          x_server_answers};
}

std::string choose_platform(const DisplayEnvironment& env, std::string& problem) {
  problem.clear();
  if (const char* chosen = env.getenv("QT_QPA_PLATFORM"); set(chosen)) {
    const std::string name = first_platform(chosen);
    if (!env.has_platform(name)) {
      problem = "QT_QPA_PLATFORM names the Qt platform '" + name + "', which is not installed";
      return {};
    }
    return chosen;
  }
  const char* display = env.getenv("DISPLAY");
  const char* wayland = env.getenv("WAYLAND_DISPLAY");
  if (set(wayland) && env.has_platform("wayland")) return "wayland";
  if (set(display)) {
    if (!env.has_platform("xcb")) {
      problem = "the Qt platform for X (xcb) is not installed";
      return {};
    }
    if (std::string why = env.probe_x(display); !why.empty()) {
      problem = why;
      return {};
    }
    return "xcb";
  }
  if (set(wayland)) {
    problem =
        "WAYLAND_DISPLAY is set but the Qt platform for Wayland is not installed (set DISPLAY for XWayland)";
    return {};
  }
  problem =
      "no display: neither DISPLAY nor WAYLAND_DISPLAY is set (QT_QPA_PLATFORM=offscreen runs without a "
      "screen)";
  return {};
}

}  // namespace app
