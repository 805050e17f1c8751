// The plug-in object as a host meets it: the class factory and the module's unloading, the interfaces
// the host hands it, and the checks each menu command runs before the analysis window opens.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/dsmcc_plugin.h"
#include "plugin/module.h"
#include "tests/support/fake_host.h"
#include "tests/support/helpers.h"
#include "ui/headless/headless_backend.h"

using namespace plugin;

namespace {

int g_runs = 0;
void count_runs(OrvexFltMgr*) {
  ++g_runs;
}

}  // namespace

// The window these tests give the plug-in: it counts the runs, and reports nothing.
const AnalysisWindow& plugin::analysis_window() {
  static const AnalysisWindow window{&count_runs};
  return window;
}

namespace {

CDSMCCPlugin* new_plugin() {
  void* out = nullptr;
  void* factory = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_DSMCCPlugin, IID_IClassFactory, &factory), S_OK);
  auto* f = static_cast<IClassFactory*>(factory);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IHostPlugin, &out), S_OK);
  f->Release();
  return static_cast<CDSMCCPlugin*>(static_cast<IHostPlugin*>(out));
}

TEST(Plugin, OnCommandRunsItsChecksInOrder) {
  struct Case {
    bool filter_manager, driver;
    HRESULT tuner_result;
    uint16_t tuner_type;
    uint32_t command;
    const char* level1_line;  // "" for none
    const char* box;          // "" for none
    HRESULT result;
    int tuner_queries, runs;
  };
  const Case cases[] = {
      {false, true, S_OK, TUNER_DVB_T, 0x8000, "OrvexFltMgr is NULL", "OrvexFltMgr is NULL", E_FAIL, 0, 0},
      {true, false, S_OK, TUNER_DVB_T, 0x8000, "InitDriver is NULL", "InitDriver is NULL", E_FAIL, 0, 0},
      {true, true, E_FAIL, TUNER_DVB_T, 0x8000, "Failed GetTunerType (0x80004005)", "", E_FAIL, 1, 0},
      {true, true, S_OK, TUNER_ATSC, 0x8000, "", "This plug-in does not yet support ATSC", E_FAIL, 1, 0},
      {true, true, S_OK, TUNER_ATSC_CABLE, 5, "", "This plug-in does not yet support ATSC", E_FAIL, 1, 0},
      {true, true, S_OK, TUNER_DVB_S, 5, "", "", S_OK, 1, 0},  // queries the tuner and opens nothing
      {true, true, S_OK, TUNER_DVB_C, 0x8000, "", "", S_OK, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.level1_line) + c.box + std::to_string(c.tuner_type));
    testsupport::LogCapture log;
    ui::headless::instance().clear_message_boxes();
    g_runs = 0;
    fakehost::FakeFilterManager fm;
    fakehost::FakeDriver driver;
    driver.result = c.tuner_result;
    driver.tuner_type = c.tuner_type;
    CDSMCCPlugin* plugin = new_plugin();
    if (c.filter_manager) plugin->SetInterface(IID_OrvexFltMgr, &fm);
    if (c.driver) plugin->SetInterface(IID_HostDriver, &driver);
    EXPECT_EQ(plugin->OnCommand(7, c.command), c.result);
    EXPECT_EQ(driver.queries, c.tuner_queries);
    EXPECT_EQ(g_runs, c.runs);
    EXPECT_TRUE(log.has(4, "CDSMCCPlugin::OnCommand(0x7," + std::to_string(c.command) + ")")) << log.dump();
    size_t failures = 0;
    for (const auto& line : log.lines()) failures += line.level == 1;
    EXPECT_EQ(failures, *c.level1_line ? 1u : 0u) << log.dump();
    EXPECT_TRUE(!*c.level1_line || log.has(1, c.level1_line)) << log.dump();
    std::vector<std::string> boxes;
    for (const auto& b : ui::headless::instance().shown_message_boxes()) boxes.push_back(b.text);
    EXPECT_EQ(boxes, *c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
    plugin->Release();
  }
}

TEST(Plugin, FactoryServesItsClassOnlyAndTheModuleUnloadsWithoutObjectsAndLocks) {
  void* none = nullptr;
  EXPECT_EQ(DllGetClassObject(IID_IHostPlugin, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  void* factory_ptr = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_DSMCCPlugin, IID_IClassFactory, &factory_ptr), S_OK);
  auto* factory = static_cast<IClassFactory*>(factory_ptr);
  void* obj = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IHostPlugin, &obj), S_OK);
  factory->LockServer(1);
  factory->Release();
  static_cast<IHostPlugin*>(obj)->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(DllGetClassObject(CLSID_DSMCCPlugin, IID_IClassFactory, &factory_ptr), S_OK);
  factory = static_cast<IClassFactory*>(factory_ptr);
  factory->LockServer(0);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
