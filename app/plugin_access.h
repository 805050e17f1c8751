// How the program reaches the analyzer: the plug-in module, found in the per-user registry or beside
// the program, loaded, its object created through the class factory and started as a host starts it.
#pragma once

#include <memory>
#include <string>

#include "app/cli.h"
#include "host/plugin_loader.h"

namespace app {

// Loads the analyzer's plug-in module: the registered class whose module exists and loads (the first
// in registry order), else the module beside the program. The object is created; nothing is called on
// it yet. Null with `error` set when no module can be loaded.
std::unique_ptr<host::LoadedPlugin> load_analyzer_plugin(std::string& error);

// Starts the plug-in object as a host starts it, with the log where `log` says. When the log file
// cannot be opened, says so once on stderr; the analysis goes on without it.
void start_analyzer_plugin(IHostPlugin* plugin, const LogOptions& log);

// `dsmcc register [MODULE]`, `dsmcc unregister [MODULE]`, `dsmcc plugins`: exit status, messages on
// stdout and stderr.
int run_plugin_command(const std::string& command, const std::string& module_path);
std::string plugin_help_text();

}  // namespace app
