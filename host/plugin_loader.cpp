#include "host/plugin_loader.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>

namespace host {
namespace {

using CanUnloadFn = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(const CLSID&, REFIID, void**);
using NoArgFn = HRESULT (*)();
using GetPluginClassFn = HRESULT (*)(CLSID*);

std::string dl_error() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<IID> parse_iid(const std::string& text) {
  // {8-4-4-4-12}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::string hex;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    char c = text[i];
    bool dash_here = (i == 9 || i == 14 || i == 19 || i == 24);
    if (dash_here) {
      if (c != '-') return std::nullopt;
      continue;
    }
    if (hex_value(c) < 0) return std::nullopt;
    hex.push_back(c);
  }
  auto byte_at = [&](size_t i) {
    return static_cast<uint8_t>(hex_value(hex[2 * i]) * 16 + hex_value(hex[2 * i + 1]));
  };
  IID id{};
  id.data1 = static_cast<uint32_t>(byte_at(0)) << 24 | static_cast<uint32_t>(byte_at(1)) << 16 |
             static_cast<uint32_t>(byte_at(2)) << 8 | byte_at(3);
  id.data2 = static_cast<uint16_t>(byte_at(4) << 8 | byte_at(5));
  id.data3 = static_cast<uint16_t>(byte_at(6) << 8 | byte_at(7));
  for (size_t i = 0; i < 8; ++i) id.data4[i] = byte_at(8 + i);
  return id;
}

std::vector<RegisteredPlugin> registered_plugins(const contract::Registry& registry) {
  std::vector<RegisteredPlugin> found;
  const std::string root = "HKEY_CLASSES_ROOT\\CLSID";
  for (const std::string& name : registry.subkeys(root)) {
    const std::string key = root + "\\" + name;
    auto module = registry.value(key + "\\InprocServer32");
    auto id = parse_iid(name);
    if (!module || module->empty() || !id) continue;
    RegisteredPlugin p;
    p.clsid = *id;
    p.clsid_text = name;
    p.description = registry.value(key).value_or("");
    p.prog_id = registry.value(key + "\\ProgID").value_or("");
    p.module_path = *module;
    p.threading_model = registry.value(key + "\\InprocServer32", "ThreadingModel").value_or("");
    found.push_back(std::move(p));
  }
  return found;
}

std::string beside_program(const std::string& name) {
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return name;
  exe[n] = '\0';
  std::string path(exe);
  auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  // In the build tree the module lies beside the program; installed, it lies in lib/dsmcc beside bin.
  const std::string beside = dir + "/" + name;
  const std::string installed = dir + "/../lib/dsmcc/" + name;
  if (::access(beside.c_str(), F_OK) != 0 && ::access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

std::unique_ptr<LoadedPlugin> LoadedPlugin::load(const std::string& module_path, const CLSID* clsid,
                                                 std::string& error) {
  std::unique_ptr<LoadedPlugin> loaded(new LoadedPlugin);
  loaded->module_path_ = module_path;
  loaded->handle_ = ::dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!loaded->handle_) {
    error = "cannot load plug-in module " + module_path + ": " + dl_error();
    return nullptr;
  }
  auto get_class = reinterpret_cast<GetClassObjectFn>(::dlsym(loaded->handle_, "DllGetClassObject"));
  if (!get_class) {
    error = module_path + " is not a plug-in module (no DllGetClassObject)";
    return nullptr;
  }
  CLSID wanted{};
  if (clsid) {
    wanted = *clsid;
  } else {
    auto own = reinterpret_cast<GetPluginClassFn>(::dlsym(loaded->handle_, "DllGetPluginClass"));
    if (!own || FAILED(own(&wanted))) {
      error = module_path + " does not name its plug-in class";
      return nullptr;
    }
  }
  void* factory_ptr = nullptr;
  HRESULT hr = get_class(wanted, IID_IClassFactory, &factory_ptr);
  if (FAILED(hr) || !factory_ptr) {
    char text[64];
    std::snprintf(text, sizeof text, "%#x", static_cast<unsigned int>(hr));
    error = module_path + ": no class factory for " + iid_to_string(wanted) + " (" + text + ")";
    return nullptr;
  }
  auto* factory = static_cast<IClassFactory*>(factory_ptr);
  void* plugin_ptr = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IHostPlugin, &plugin_ptr);
  factory->Release();
  if (FAILED(hr) || !plugin_ptr) {
    char text[64];
    std::snprintf(text, sizeof text, "%#x", static_cast<unsigned int>(hr));
    error = module_path + ": the plug-in object could not be created (" + text + ")";
    return nullptr;
  }
  loaded->plugin_ = static_cast<IHostPlugin*>(plugin_ptr);
  return loaded;
}

LoadedPlugin::~LoadedPlugin() {
  safe_release(plugin_);
  // The module stays mapped unless it says nothing of it is alive any more.
  if (handle_ && can_unload()) ::dlclose(handle_);
}

HRESULT LoadedPlugin::call_entry(const char* name) const {
  auto fn = reinterpret_cast<NoArgFn>(handle_ ? ::dlsym(handle_, name) : nullptr);
  return fn ? fn() : E_FAIL;
}

bool LoadedPlugin::can_unload() const {
  auto fn = reinterpret_cast<CanUnloadFn>(handle_ ? ::dlsym(handle_, "DllCanUnloadNow") : nullptr);
  return fn && fn() == S_OK;
}

HRESULT call_module_entry(const std::string& module_path, const char* name, std::string& error) {
  void* handle = ::dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    error = "cannot load plug-in module " + module_path + ": " + dl_error();
    return E_FAIL;
  }
  auto fn = reinterpret_cast<NoArgFn>(::dlsym(handle, name));
  if (!fn) {
    error = module_path + " has no entry point " + name;
    ::dlclose(handle);
    return E_FAIL;
  }
  HRESULT hr = fn();
  // Registration leaves no object behind; the module may go.
  ::dlclose(handle);
  return hr;
}

}  // namespace host
