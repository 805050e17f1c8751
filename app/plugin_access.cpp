#include "app/plugin_access.h"

#include <sys/stat.h>

#include <cstdio>

#include "contract/registry.h"
#include "plugin/log_settings.h"

namespace app {

namespace {

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::unique_ptr<host::LoadedPlugin> load_analyzer_plugin(std::string& error) {
  contract::Registry registry;
  if (registry.load()) {
    for (const host::RegisteredPlugin& entry : host::registered_plugins(registry)) {
      if (!file_exists(entry.module_path)) continue;
      std::string why;
      if (auto loaded = host::LoadedPlugin::load(entry.module_path, &entry.clsid, why)) return loaded;
      std::fprintf(stderr, "dsmcc: registered plug-in %s skipped: %s\n", entry.clsid_text.c_str(),
                   why.c_str());
    }
  }
  const std::string beside = host::module_beside_program();
  auto loaded = host::LoadedPlugin::load(beside, nullptr, error);
  return loaded;
}

std::string plugin_help_text() {
  return "usage: dsmcc register [MODULE]\n"
         "       dsmcc unregister [MODULE]\n"
         "       dsmcc plugins\n"
         "\n"
         "register writes the plug-in class of MODULE (default: dsmcc.so beside the program) into the "
         "per-user\n"
         "registry " +
         contract::Registry::default_path() +
         "; unregister removes it; plugins lists every registered\n"
         "class with its module, name and menu. The analysis commands load the registered plug-in, or the\n"
         "module beside the program when none is registered.\n"
         "\n"
         "examples:\n"
         "  dsmcc register /usr/local/lib/dsmcc/dsmcc.so\n"
         "  dsmcc plugins\n";
}

int run_plugin_command(const std::string& command, const std::string& module_arg) {
  const std::string module_path = module_arg.empty() ? host::module_beside_program() : module_arg;
  if (command == "register" || command == "unregister") {
    std::string error;
    const char* entry = command == "register" ? "DllRegisterServer" : "DllUnregisterServer";
    const HRESULT hr = host::call_module_entry(module_path, entry, error);
    if (!error.empty()) {
      std::fprintf(stderr, "dsmcc: %s\n", error.c_str());
      return 2;
    }
    if (FAILED(hr)) {
      std::fprintf(stderr, "dsmcc: %s of %s failed (%#x); registry %s\n", entry, module_path.c_str(),
                   static_cast<unsigned int>(hr), contract::Registry::default_path().c_str());
      return 1;
    }
    std::printf("%s %s in %s\n", command == "register" ? "registered" : "unregistered", module_path.c_str(),
                contract::Registry::default_path().c_str());
    return 0;
  }

  // plugins: every registered class, loaded and asked for its name and menu.
  contract::Registry registry;
  if (!registry.load()) {
    std::fprintf(stderr, "dsmcc: %s\n", registry.error().c_str());
    return 2;
  }
  const auto entries = host::registered_plugins(registry);
  if (entries.empty()) std::printf("no plug-in registered in %s\n", registry.path().c_str());
  for (const host::RegisteredPlugin& entry : entries) {
    std::printf("%s %s\n  module: %s\n  threading model: %s\n", entry.clsid_text.c_str(),
                entry.prog_id.c_str(), entry.module_path.c_str(), entry.threading_model.c_str());
    std::string error;
    auto loaded = host::LoadedPlugin::load(entry.module_path, &entry.clsid, error);
    if (!loaded) {
      std::printf("  not loadable: %s\n", error.c_str());
      continue;
    }
    char* name = nullptr;
    if (SUCCEEDED(loaded->plugin()->GetName(&name)) && name) {
      std::printf("  name: %s\n", name);
      task_free(name);
    }
    HostMenu* menu = nullptr;
    if (SUCCEEDED(loaded->plugin()->GetMenu(&menu)) && menu) {
      std::printf("  menu %u:\n", menu->id);
      for (const HostMenuItem& item : menu->items)
        std::printf("    %#x %s\n", item.command, item.text.c_str());
      delete menu;
    }
  }
  return 0;
}

void start_analyzer_plugin(IHostPlugin* plugin, const LogOptions& log) {
  void* out = nullptr;
  ILogSettings* settings = nullptr;
  if (SUCCEEDED(plugin->QueryInterface(IID_ILogSettings, &out)) && out)
    settings = static_cast<ILogSettings*>(out);
  if (settings) settings->SetLogOptions(log.path.c_str(), log.level);
  plugin->StartPlugin(0, 0, 0);
  if (!settings) return;
  char path[512], reason[512];
  if (settings->GetLogState(path, reason, sizeof path) == S_FALSE)
    std::fprintf(stderr,
                 "dsmcc: cannot write the log %s: %s; going on without it (--log PATH puts it elsewhere)\n",
                 path, reason);
  settings->Release();
}

}  // namespace app
