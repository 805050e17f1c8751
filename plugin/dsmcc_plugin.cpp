#include "plugin/dsmcc_plugin.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "log/debug_log.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace plugin {

namespace {

// The text of a string resource, or "" when the module lacks it.
const char* string_resource(int id) {
  const char* text = resources::load_string(id);
  return text ? text : "";
}

void show_string(int id) { ui::message_box(nullptr, string_resource(id), "DSMCC", ui::BOX_OK); }

}  // namespace

namespace module_state {
namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace
void object_created() { ++g_objects; }
void object_destroyed() { --g_objects; }
void lock(bool on) {
  if (on)
    ++g_locks;
  else if (g_locks > 0)
    --g_locks;
}
long objects() { return g_objects; }
long locks() { return g_locks; }
}  // namespace module_state

CDSMCCPlugin::CDSMCCPlugin(const AnalysisWindow& window) : window_(window) { module_state::object_created(); }

CDSMCCPlugin::~CDSMCCPlugin() {
  safe_release(driver_);
  safe_release(filter_manager_);
  module_state::object_destroyed();
}

HRESULT CDSMCCPlugin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDSMCCPlugin)
    *out = static_cast<IDSMCCPlugin*>(this);
  else if (iid == IID_IHostPlugin)
    *out = static_cast<IHostPlugin*>(this);
  else if (iid == IID_IHostPluginSink)
    *out = static_cast<IHostPluginSink*>(this);
  else if (iid == IID_ICarouselReport)
    *out = static_cast<ICarouselReport*>(this);
  else if (iid == IID_ILogSettings)
    *out = static_cast<ILogSettings*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

uint32_t CDSMCCPlugin::AddRef() { return ++refs_; }

uint32_t CDSMCCPlugin::Release() {
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT CDSMCCPlugin::StartPlugin(uint32_t, uint32_t, uint32_t) {
  log_error_ = logio::start_plugin_log(log_path_, log_level_);
  return S_OK;
}

HRESULT CDSMCCPlugin::SetLogOptions(const char* path, int32_t level) {
  if (level != kKeepLevel && (level < -1 || level > 4)) return E_INVALIDARG;
  log_path_ = path ? path : "";
  if (level != kKeepLevel) log_level_ = level;
  return S_OK;
}

HRESULT CDSMCCPlugin::GetLogState(char* path, char* reason, uint32_t size) {
  if (!path || !reason || size == 0) return E_POINTER;
  auto copy = [size](char* to, const std::string& text) {
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
  };
  copy(path, logio::g_log.is_open()
                 ? logio::g_log.file_path()
                 : (log_path_.empty() ? logio::log_path_for_module(logio::this_module_path()) : log_path_));
  copy(reason, log_error_);
  return log_error_.empty() ? S_OK : S_FALSE;
}

HRESULT CDSMCCPlugin::Reserved() { return S_OK; }

HRESULT CDSMCCPlugin::GetName(char** name) {
  if (!name) return E_POINTER;
  static const char kName[] = "DSMCC";
  auto* text = static_cast<char*>(task_alloc(sizeof kName));
  if (!text) return E_OUTOFMEMORY;
  std::memcpy(text, kName, sizeof kName);
  *name = text;
  return S_OK;
}

HRESULT CDSMCCPlugin::GetMenu(HostMenu** menu) {
  if (!menu) return E_POINTER;
  *menu = nullptr;
  const resources::Menu* source = resources::find_menu(resources::MENU_PLUGIN);
  if (!source) return E_FAIL;
  auto* copy = new HostMenu;
  copy->id = static_cast<uint32_t>(source->id);
  for (const auto& item : source->items) copy->items.push_back({item.command, std::string(item.text)});
  *menu = copy;
  return S_OK;
}

HRESULT CDSMCCPlugin::OnCommand(uint32_t value, uint32_t command) {
  logio::g_log.log(4, "CDSMCCPlugin::OnCommand(%#x,%u)", value, command);
  if (!filter_manager_) {
    logio::g_log.log(1, "OrvexFltMgr is NULL");
    show_string(resources::STRING_FILTER_MANAGER_NULL);
    return E_FAIL;
  }
  if (!driver_) {
    logio::g_log.log(1, "InitDriver is NULL");
    show_string(resources::STRING_INIT_DRIVER_NULL);
    return E_FAIL;
  }
  uint16_t tuner_type = 0;
  HRESULT hr = driver_->GetTunerType(&tuner_type);
  if (FAILED(hr)) {
    logio::g_log.log(1, "Failed GetTunerType (%#x)", static_cast<unsigned int>(hr));
    return E_FAIL;
  }
  if (tuner_type == TUNER_ATSC || tuner_type == TUNER_ATSC_CABLE) {
    show_string(resources::STRING_NO_ATSC);
    return E_FAIL;
  }
  if (command == resources::COMMAND_ANALYZE) {
    if (window_.run) window_.run(filter_manager_);
  }
  return S_OK;
}

HRESULT CDSMCCPlugin::SetInterface(REFIID iid, IUnknown* host_object) {
  logio::g_log.log(4, "CDSMCCPlugin::SetInterface(REFIID,%#x)",
            static_cast<unsigned int>(reinterpret_cast<uintptr_t>(host_object) & 0xFFFFFFFFu));
  if (iid == IID_OrvexFltMgr) {
    safe_release(filter_manager_);
    if (!host_object) return E_POINTER;
    void* out = nullptr;
    HRESULT hr = host_object->QueryInterface(IID_OrvexFltMgr, &out);
    filter_manager_ = SUCCEEDED(hr) ? static_cast<OrvexFltMgr*>(out) : nullptr;
    return hr;
  }
  if (iid == IID_HostDriver) {
    safe_release(driver_);
    if (!host_object) return E_POINTER;
    void* out = nullptr;
    HRESULT hr = host_object->QueryInterface(IID_InitDriver, &out);
    driver_ = SUCCEEDED(hr) ? static_cast<InitDriver*>(out) : nullptr;
    return hr;
  }
  return S_OK;
}

HRESULT CDSMCCPlugin::Notify() { return S_OK; }
HRESULT CDSMCCPlugin::Notify1(uint32_t) { return S_OK; }
HRESULT CDSMCCPlugin::Notify2(uint32_t) { return S_OK; }

HRESULT CDSMCCPlugin::DescribeCapture(health::CaptureReport** report) {
  if (!report) return E_POINTER;
  // Interface methods never throw: a report that cannot be built is a failure like any other.
  try {
    *report = window_.describe ? window_.describe() : nullptr;
  } catch (...) {
    *report = nullptr;
  }
  return *report ? S_OK : E_FAIL;
}

HRESULT CDSMCCPlugin::GetCaptureCounts(int32_t* dsi, int32_t* dii, int32_t* ddb) {
  if (!dsi || !dii || !ddb) return E_POINTER;
  return window_.count && window_.count(*dsi, *dii, *ddb) ? S_OK : E_FAIL;
}

HRESULT CDSMCCPlugin::SaveCapture(const char* dir, bool force, std::string* summary) {
  if (!dir || !summary) return E_POINTER;
  try {
    bool ok = false;
    if (!window_.save || !window_.save(dir, force, *summary, ok)) return E_FAIL;
    return ok ? S_OK : S_FALSE;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace plugin
