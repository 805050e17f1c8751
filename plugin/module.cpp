#include "plugin/module.h"

#include <atomic>
#include <string>

#include "log/debug_log.h"
#include "plugin/dsmcc_plugin.h"
#include "contract/registry.h"

namespace plugin {
namespace {

class ClassFactory : public IClassFactory {
 public:
  ClassFactory() { module_state::object_created(); }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* plugin = new CDSMCCPlugin(analysis_window());  // one reference, ours
    HRESULT hr = plugin->QueryInterface(iid, out);
    plugin->Release();
    return hr;
  }
  HRESULT LockServer(int lock) override {
    module_state::lock(lock != 0);
    return S_OK;
  }

 private:
  ~ClassFactory() override { module_state::object_destroyed(); }
  std::atomic<uint32_t> refs_{1};
};

std::string key(const std::string& path) { return std::string(registration::kRoot) + "\\" + path; }

}  // namespace
}  // namespace plugin

using namespace plugin;

HRESULT DllCanUnloadNow() {
  return module_state::objects() == 0 && module_state::locks() == 0 ? S_OK : S_FALSE;
}

HRESULT DllGetClassObject(const CLSID& clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(clsid == CLSID_DSMCCPlugin)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new ClassFactory;
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

HRESULT DllGetPluginClass(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_DSMCCPlugin;
  return S_OK;
}

HRESULT plugin::register_module(const std::string& registry_path, const std::string& module_path) {
  using namespace registration;
  contract::Registry reg(registry_path);
  if (!reg.load()) return E_FAIL;
  const std::string clsid = iid_to_string(CLSID_DSMCCPlugin);
  const std::string libid = iid_to_string(LIBID_DSMCCLib);
  const std::string iid = iid_to_string(IID_IDSMCCPlugin);

  reg.set_value(key(kProgId), "@", kClassDescription);
  reg.set_value(key(kProgId) + "\\CLSID", "@", clsid);
  reg.set_value(key(kVersionIndependentProgId), "@", kClassDescription);
  reg.set_value(key(kVersionIndependentProgId) + "\\CLSID", "@", clsid);
  reg.set_value(key(kVersionIndependentProgId) + "\\CurVer", "@", kProgId);

  const std::string cls = key("CLSID\\" + clsid);
  reg.set_value(cls, "@", kClassDescription);
  reg.set_value(cls + "\\ProgID", "@", kProgId);
  reg.set_value(cls + "\\VersionIndependentProgID", "@", kVersionIndependentProgId);
  reg.set_value(cls + "\\InprocServer32", "@", module_path);
  reg.set_value(cls + "\\InprocServer32", "ThreadingModel", kThreadingModel);
  reg.set_value(cls + "\\TypeLib", "@", libid);

  const std::string lib = key("TypeLib\\" + libid + "\\1.0");
  reg.set_value(lib, "@", kTypeLibDescription);
  reg.set_value(lib, "Name", kTypeLibName);
  reg.set_value(lib + "\\0\\linux", "@", module_path);
  reg.set_value(lib + "\\FLAGS", "@", "0");
  reg.set_value(lib + "\\Interface\\IDSMCCPlugin", "@", iid);
  reg.set_value(lib + "\\CoClass\\DSMCCPlugin", "@", clsid);

  const std::string itf = key("Interface\\" + iid);
  reg.set_value(itf, "@", "IDSMCCPlugin");
  reg.set_value(itf + "\\TypeLib", "@", libid);
  reg.set_value(itf + "\\TypeLib", "Version", "1.0");
  return reg.save() ? S_OK : E_FAIL;
}

HRESULT plugin::unregister_module(const std::string& registry_path) {
  using namespace registration;
  contract::Registry reg(registry_path);
  if (!reg.load()) return E_FAIL;
  reg.delete_tree(key(kProgId));
  reg.delete_tree(key(kVersionIndependentProgId));
  reg.delete_tree(key("CLSID\\" + iid_to_string(CLSID_DSMCCPlugin)));
  reg.delete_tree(key("TypeLib\\" + iid_to_string(LIBID_DSMCCLib)));
  reg.delete_tree(key("Interface\\" + iid_to_string(IID_IDSMCCPlugin)));
  return reg.save() ? S_OK : E_FAIL;
}

HRESULT DllRegisterServer() {
  std::string path = logio::this_module_path();
  if (path.empty()) return E_FAIL;
  return register_module(contract::Registry::default_path(), path);
}

HRESULT DllUnregisterServer() { return unregister_module(contract::Registry::default_path()); }
