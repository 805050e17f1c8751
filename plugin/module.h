// The entry points of the loadable plug-in module, as a host resolves them by name.
#pragma once

#include "contract/host_contract.h"

#define DSMCC_EXPORT extern "C" __attribute__((visibility("default")))


// S_OK when no object and no lock of the module is alive, else S_FALSE.
DSMCC_EXPORT HRESULT DllCanUnloadNow();
// The class factory of a class of this module.
DSMCC_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, REFIID iid, void** out);
// Writes (removes) the module's classes, ProgIDs and type library in the per-user registry.
DSMCC_EXPORT HRESULT DllRegisterServer();
DSMCC_EXPORT HRESULT DllUnregisterServer();
// The class id of the host plug-in this module offers, so that a host can load the module without a
// registry entry (the module beside the program).
DSMCC_EXPORT HRESULT DllGetPluginClass(CLSID* clsid);

// Function types, for hosts that resolve the entry points with dlsym.
using DllCanUnloadNowFn = HRESULT (*)();
using DllGetClassObjectFn = HRESULT (*)(const CLSID&, REFIID, void**);
using DllRegisterServerFn = HRESULT (*)();
using DllGetPluginClassFn = HRESULT (*)(CLSID*);

namespace plugin {

// Registry keys and values the module writes (the host reads the same names).
namespace registration {
inline constexpr const char* kRoot = "HKEY_CLASSES_ROOT";
inline constexpr const char* kProgId = "Dsmcc.DSMCCPlugin.1";
inline constexpr const char* kVersionIndependentProgId = "Dsmcc.DSMCCPlugin";
inline constexpr const char* kClassDescription = "DSMCCPlugin Class";
inline constexpr const char* kThreadingModel = "Both";
inline constexpr const char* kTypeLibName = "DSMCCLib";
inline constexpr const char* kTypeLibDescription = "dsmcc 1.0 Type Library";
}  // namespace registration

// Registration against a given registry file and module path (the entry points use the defaults).
HRESULT register_module(const std::string& registry_path, const std::string& module_path);
HRESULT unregister_module(const std::string& registry_path);

}  // namespace plugin
