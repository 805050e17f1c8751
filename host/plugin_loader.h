// Finding, loading and starting plug-in modules: the host's side of the plug-in contract.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contract/host_contract.h"
#include "contract/registry.h"

namespace host {

// One class registered in the per-user registry with a module that serves it.
struct RegisteredPlugin {
  CLSID clsid{};
  std::string clsid_text;
  std::string description;  // the class entry's default value
  std::string prog_id;
  std::string module_path;  // InprocServer32
  std::string threading_model;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" back into an id.
std::optional<IID> parse_iid(const std::string& text);

// Every class of the registry whose InprocServer32 names a module, in key order.
std::vector<RegisteredPlugin> registered_plugins(const contract::Registry& registry);

// A module file of the program's own: NAME in the program's folder (the build tree), else
// ../lib/dsmcc/NAME from it (an installed program).
std::string beside_program(const std::string& name);
// The module file that holds the plug-ins: beside_program("dsmcc.so").
inline std::string module_beside_program() { return beside_program("dsmcc.so"); }

// A loaded module and one plug-in object created through its class factory.
class LoadedPlugin {
 public:
  // Loads module_path and creates the object of clsid (or, when clsid is null, of the class the module
  // names itself). Null with `error` set on failure.
  static std::unique_ptr<LoadedPlugin> load(const std::string& module_path, const CLSID* clsid,
                                            std::string& error);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  IHostPlugin* plugin() const { return plugin_; }
  const std::string& module_path() const { return module_path_; }
  // Calls one of the module's registration entry points by name ("DllRegisterServer", ...).
  HRESULT call_entry(const char* name) const;
  // Whether the module says it may be unloaded now.
  bool can_unload() const;

 private:
  LoadedPlugin() = default;
  void* handle_ = nullptr;
  IHostPlugin* plugin_ = nullptr;
  std::string module_path_;
};

// Loads just the module and calls one of its argument-less entry points; for register / unregister.
HRESULT call_module_entry(const std::string& module_path, const char* name, std::string& error);

}  // namespace host
