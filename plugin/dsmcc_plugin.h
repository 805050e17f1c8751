// The plug-in object that a host loads: it starts the log, names itself, offers its menu, takes the
// host's interfaces and runs the analysis window for the menu's command.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "plugin/carousel_report.h"
#include "plugin/log_settings.h"
#include "contract/host_contract.h"

// The plug-in's own interface: no methods besides the basic three.
inline constexpr IID IID_IDSMCCPlugin = {
    0x3c5e9a10, 0x7b2d, 0x4f61, {0xa8, 0x44, 0x1d, 0x90, 0x6e, 0x52, 0xb3, 0x01}};
inline constexpr CLSID CLSID_DSMCCPlugin = {
    0x3c5e9a11, 0x7b2d, 0x4f61, {0xa8, 0x44, 0x1d, 0x90, 0x6e, 0x52, 0xb3, 0x01}};
inline constexpr IID LIBID_DSMCCLib = {
    0x3c5e9a12, 0x7b2d, 0x4f61, {0xa8, 0x44, 0x1d, 0x90, 0x6e, 0x52, 0xb3, 0x01}};

class IDSMCCPlugin : public IUnknown {};

namespace plugin {

// The analysis window the plug-in runs for command 0x8000, and what it reports of the window that
// runs. The module's class factory hands each plug-in object the module's own (analysis_window()); a
// member left null makes its command or report fail.
struct AnalysisWindow {
  void (*run)(OrvexFltMgr* filter_manager) = nullptr;
  // The running window's report, or null when none runs.
  health::CaptureReport* (*describe)() = nullptr;
  // Saves the running window's capture; false when none runs.
  bool (*save)(const std::string& dir, bool force, std::string& summary, bool& ok) = nullptr;
  // The running window's counts; false when none runs.
  bool (*count)(int32_t& dsi, int32_t& dii, int32_t& ddb) = nullptr;
};

// The window of whatever links the entry points: the module's analysis dialog, or a test's own.
const AnalysisWindow& analysis_window();

class CDSMCCPlugin : public IDSMCCPlugin, public IHostPlugin, public IHostPluginSink, public ICarouselReport,
                     public ILogSettings {
 public:
  explicit CDSMCCPlugin(const AnalysisWindow& window);
  CDSMCCPlugin(const CDSMCCPlugin&) = delete;
  CDSMCCPlugin& operator=(const CDSMCCPlugin&) = delete;

  // IUnknown (one implementation for the five interfaces)
  HRESULT QueryInterface(REFIID iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // IHostPlugin
  HRESULT StartPlugin(uint32_t a, uint32_t b, uint32_t c) override;
  HRESULT Reserved() override;
  HRESULT GetName(char** name) override;
  HRESULT GetMenu(HostMenu** menu) override;
  HRESULT OnCommand(uint32_t value, uint32_t command) override;
  HRESULT SetInterface(REFIID iid, IUnknown* host_object) override;

  // IHostPluginSink
  HRESULT Notify() override;
  HRESULT Notify1(uint32_t a) override;
  HRESULT Notify2(uint32_t a) override;

  // ICarouselReport
  HRESULT DescribeCapture(health::CaptureReport** report) override;
  HRESULT SaveCapture(const char* dir, bool force, std::string* summary) override;
  HRESULT GetCaptureCounts(int32_t* dsi, int32_t* dii, int32_t* ddb) override;

  // ILogSettings
  HRESULT SetLogOptions(const char* path, int32_t level) override;
  HRESULT GetLogState(char* path, char* reason, uint32_t size) override;

  OrvexFltMgr* filter_manager() const { return filter_manager_; }
  InitDriver* driver() const { return driver_; }

 private:
  ~CDSMCCPlugin() override;

  const AnalysisWindow window_;
  std::atomic<uint32_t> refs_{1};
  OrvexFltMgr* filter_manager_ = nullptr;
  InitDriver* driver_ = nullptr;
  std::string log_path_;
  int32_t log_level_ = 4;
  std::string log_error_;  // why StartPlugin could not open the log file
};

// Objects and locks alive in this module; it may be unloaded only when both are 0.
namespace module_state {
void object_created();
void object_destroyed();
void lock(bool on);
long objects();
long locks();
}  // namespace module_state

}  // namespace plugin
