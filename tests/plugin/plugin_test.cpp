#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "plugin/dsmcc_plugin.h"
#include "plugin/module.h"
#include "contract/registry.h"
#include "tests/dsmcc/log_capture.h"
#include "tests/support/fake_host.h"
#include "ui/headless/headless_backend.h"

namespace {

int g_runs = 0;
void count_runs(OrvexFltMgr*) { ++g_runs; }

}  // namespace

// The window these tests give the plug-in: it counts the runs, and reports nothing.
const AnalysisWindow& analysis_window() {
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

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_runs = 0;
    ui::headless::instance().clear_message_boxes();
  }
  std::vector<std::string> boxes() {
    std::vector<std::string> texts;
    for (const auto& b : ui::headless::instance().shown_message_boxes()) texts.push_back(b.text);
    return texts;
  }
};

struct CommandCase {
  const char* name;
  bool filter_manager;
  bool driver;
  HRESULT tuner_result;
  uint16_t tuner_type;
  uint32_t command;
  // expected
  const char* level1_line;  // "" for none
  const char* box;          // "" for none
  HRESULT result;
  int tuner_queries;
  int runs;
};

const CommandCase kCommandCases[] = {
    {"no filter manager, driver set", false, true, S_OK, TUNER_DVB_T, 0x8000, "OrvexFltMgr is NULL",
     "OrvexFltMgr is NULL", E_FAIL, 0, 0},
    {"neither interface", false, false, S_OK, TUNER_DVB_T, 0x8000, "OrvexFltMgr is NULL", "OrvexFltMgr is NULL",
     E_FAIL, 0, 0},
    {"no driver", true, false, S_OK, TUNER_DVB_T, 0x8000, "InitDriver is NULL", "InitDriver is NULL", E_FAIL, 0, 0},
    {"tuner query fails", true, true, E_FAIL, TUNER_DVB_T, 0x8000, "Failed GetTunerType (0x80004005)", "", E_FAIL,
     1, 0},
    {"ATSC tuner", true, true, S_OK, TUNER_ATSC, 0x8000, "", "This plug-in does not yet support ATSC", E_FAIL, 1, 0},
    {"ATSC cable tuner blocks any command", true, true, S_OK, TUNER_ATSC_CABLE, 5, "",
     "This plug-in does not yet support ATSC", E_FAIL, 1, 0},
    {"command 5 queries the tuner and opens nothing", true, true, S_OK, TUNER_DVB_S, 5, "", "", S_OK, 1, 0},
    {"analysis command", true, true, S_OK, TUNER_DVB_C, 0x8000, "", "", S_OK, 1, 1},
};

TEST_F(PluginTest, OnCommandRunsItsChecksInOrder) {
  for (const auto& c : kCommandCases) {
    SCOPED_TRACE(c.name);
    testlog::LogCapture log;
    ui::headless::instance().clear_message_boxes();
    g_runs = 0;
    fakehost::FakeFilterManager fm;
    fakehost::FakeDriver driver;
    driver.result = c.tuner_result;
    driver.tuner_type = c.tuner_type;
    CDSMCCPlugin* plugin = new_plugin();
    if (c.filter_manager) {
      ASSERT_EQ(plugin->SetInterface(IID_OrvexFltMgr, &fm), S_OK);
    }
    if (c.driver) {
      ASSERT_EQ(plugin->SetInterface(IID_HostDriver, &driver), S_OK);
    }

    EXPECT_EQ(plugin->OnCommand(7, c.command), c.result);
    EXPECT_EQ(driver.queries, c.tuner_queries);
    EXPECT_EQ(g_runs, c.runs);
    char trace[64];
    std::snprintf(trace, sizeof trace, "CDSMCCPlugin::OnCommand(0x7,%u)", c.command);
    EXPECT_TRUE(log.has(4, trace)) << log.dump();
    size_t failures = 0;
    for (const auto& line : log.lines()) failures += line.level == 1;
    if (*c.level1_line) {
      EXPECT_TRUE(log.has(1, c.level1_line)) << log.dump();
      EXPECT_EQ(failures, 1u);
    } else {
      EXPECT_EQ(failures, 0u) << log.dump();
    }
    if (*c.box) {
      EXPECT_EQ(boxes(), std::vector<std::string>{c.box});
    } else {
      EXPECT_TRUE(boxes().empty());
    }
    plugin->Release();
  }
}

TEST_F(PluginTest, SetInterfaceTakesKnownIdsAndIgnoresOthers) {
  testlog::LogCapture log;
  fakehost::FakeFilterManager fm;
  fakehost::FakeDriver driver;
  CDSMCCPlugin* plugin = new_plugin();
  EXPECT_EQ(plugin->SetInterface(IID_ISISection, &fm), S_OK);
  EXPECT_EQ(plugin->filter_manager(), nullptr);
  EXPECT_EQ(plugin->driver(), nullptr);
  EXPECT_EQ(fm.refs, 1u);

  fm.refuse_query = true;
  EXPECT_EQ(plugin->SetInterface(IID_OrvexFltMgr, &fm), E_NOINTERFACE);
  EXPECT_EQ(plugin->filter_manager(), nullptr);
  fm.refuse_query = false;
  EXPECT_EQ(plugin->SetInterface(IID_OrvexFltMgr, &fm), S_OK);
  EXPECT_EQ(plugin->filter_manager(), &fm);
  EXPECT_EQ(plugin->SetInterface(IID_HostDriver, &driver), S_OK);
  EXPECT_EQ(plugin->driver(), &driver);
  EXPECT_EQ(fm.refs, 2u);
  EXPECT_EQ(driver.refs, 2u);

  char line[80];
  std::snprintf(line, sizeof line, "CDSMCCPlugin::SetInterface(REFIID,%#x)",
                static_cast<unsigned int>(reinterpret_cast<uintptr_t>(&fm) & 0xFFFFFFFFu));
  EXPECT_EQ(log.count(4, line), 3u) << log.dump();
  plugin->Release();
  EXPECT_EQ(fm.refs, 1u);
  EXPECT_EQ(driver.refs, 1u);
}

TEST_F(PluginTest, DestructionReleasesTheDriverFirst) {
  std::vector<std::string> releases;
  fakehost::FakeFilterManager fm(&releases);
  fakehost::FakeDriver driver(&releases);
  CDSMCCPlugin* plugin = new_plugin();
  plugin->SetInterface(IID_OrvexFltMgr, &fm);
  plugin->SetInterface(IID_HostDriver, &driver);
  releases.clear();
  plugin->Release();
  EXPECT_EQ(releases, (std::vector<std::string>{"driver", "filter manager"}));
}

TEST_F(PluginTest, NameIsANewStringEachCall) {
  CDSMCCPlugin* plugin = new_plugin();
  char* a = nullptr;
  char* b = nullptr;
  ASSERT_EQ(plugin->GetName(&a), S_OK);
  ASSERT_EQ(plugin->GetName(&b), S_OK);
  EXPECT_STREQ(a, "DSMCC");
  EXPECT_STREQ(b, "DSMCC");
  EXPECT_NE(a, b);
  task_free(a);
  task_free(b);
  plugin->Release();
}

TEST_F(PluginTest, MenuCarriesTheAnalysisCommand) {
  CDSMCCPlugin* plugin = new_plugin();
  HostMenu* menu = nullptr;
  ASSERT_EQ(plugin->GetMenu(&menu), S_OK);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->id, 201u);
  ASSERT_EQ(menu->items.size(), 1u);
  EXPECT_EQ(menu->items[0].command, 0x8000u);
  EXPECT_EQ(menu->items[0].text, "DSMCC Analyzing...");
  delete menu;
  plugin->Release();
}

TEST_F(PluginTest, AnswersForItsThreeInterfacesOnly) {
  CDSMCCPlugin* plugin = new_plugin();
  void* out = nullptr;
  ASSERT_EQ(plugin->QueryInterface(IID_IDSMCCPlugin, &out), S_OK);
  static_cast<IUnknown*>(out)->Release();
  ASSERT_EQ(plugin->QueryInterface(IID_IHostPluginSink, &out), S_OK);
  auto* sink = static_cast<IHostPluginSink*>(out);
  EXPECT_EQ(sink->Notify(), S_OK);
  EXPECT_EQ(sink->Notify1(3), S_OK);
  EXPECT_EQ(sink->Notify2(4), S_OK);
  sink->Release();
  EXPECT_EQ(plugin->QueryInterface(IID_ISectionFilter, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  plugin->Release();
}

TEST_F(PluginTest, ModuleMayUnloadOnlyWithoutObjectsAndLocks) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  void* factory_ptr = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_DSMCCPlugin, IID_IClassFactory, &factory_ptr), S_OK);
  auto* factory = static_cast<IClassFactory*>(factory_ptr);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  void* obj = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IHostPlugin, &obj), S_OK);
  factory->LockServer(1);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the object and the lock
  static_cast<IHostPlugin*>(obj)->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(DllGetClassObject(CLSID_DSMCCPlugin, IID_IClassFactory, &factory_ptr), S_OK);
  factory = static_cast<IClassFactory*>(factory_ptr);
  factory->LockServer(0);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  void* none = nullptr;
  EXPECT_EQ(DllGetClassObject(IID_IHostPlugin, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
}

TEST(Registration, RegisterListUnregisterRoundTrip) {
  const std::string path = ::testing::TempDir() + "dsmcc-registry-" + std::to_string(::getpid()) + ".ini";
  std::remove(path.c_str());
  ASSERT_EQ(register_module(path, "/opt/dsmcc/lib/dsmcc.so"), S_OK);

  Registry reg(path);
  ASSERT_TRUE(reg.load());
  const std::string clsid = iid_to_string(CLSID_DSMCCPlugin);
  const std::string libid = iid_to_string(LIBID_DSMCCLib);
  struct Expect {
    std::string key, name, value;
  };
  const Expect expected[] = {
      {"HKEY_CLASSES_ROOT\\Dsmcc.DSMCCPlugin.1", "@", "DSMCCPlugin Class"},
      {"HKEY_CLASSES_ROOT\\Dsmcc.DSMCCPlugin.1\\CLSID", "@", clsid},
      {"HKEY_CLASSES_ROOT\\Dsmcc.DSMCCPlugin", "@", "DSMCCPlugin Class"},
      {"HKEY_CLASSES_ROOT\\Dsmcc.DSMCCPlugin\\CurVer", "@", "Dsmcc.DSMCCPlugin.1"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid, "@", "DSMCCPlugin Class"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\ProgID", "@", "Dsmcc.DSMCCPlugin.1"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\VersionIndependentProgID", "@", "Dsmcc.DSMCCPlugin"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\InprocServer32", "@", "/opt/dsmcc/lib/dsmcc.so"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\InprocServer32", "ThreadingModel", "Both"},
      {"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\TypeLib", "@", libid},
      {"HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\1.0", "@", "dsmcc 1.0 Type Library"},
      {"HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\1.0", "Name", "DSMCCLib"},
  };
  for (const auto& e : expected) EXPECT_EQ(reg.value(e.key, e.name).value_or("<absent>"), e.value) << e.key;

  auto listed = host::registered_plugins(reg);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_TRUE(listed[0].clsid == CLSID_DSMCCPlugin);
  EXPECT_EQ(listed[0].prog_id, "Dsmcc.DSMCCPlugin.1");
  EXPECT_EQ(listed[0].description, "DSMCCPlugin Class");
  EXPECT_EQ(listed[0].module_path, "/opt/dsmcc/lib/dsmcc.so");
  EXPECT_EQ(listed[0].threading_model, "Both");

  // Another class registered beside ours survives our unregistration.
  reg.set_value("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32", "@", "/x.so");
  ASSERT_TRUE(reg.save());
  ASSERT_EQ(unregister_module(path), S_OK);
  Registry after(path);
  ASSERT_TRUE(after.load());
  auto left = host::registered_plugins(after);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].module_path, "/x.so");
  EXPECT_FALSE(after.has_key("HKEY_CLASSES_ROOT\\Dsmcc.DSMCCPlugin.1"));
  EXPECT_FALSE(after.has_key("HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\1.0"));
  std::remove(path.c_str());
}

TEST(Registration, ClassIdsRoundTripThroughText) {
  const IID ids[] = {CLSID_DSMCCPlugin, IID_IUnknown, IID_ISISection};
  for (const auto& id : ids) {
    auto back = host::parse_iid(iid_to_string(id));
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == id);
  }
  for (const char* bad : {"", "{}", "{3C5E9A11-7B2D-4F61-A844-1D906E52B301", "{3C5E9A11X7B2D-4F61-A844-1D906E52B301}",
                          "{3C5E9A11-7B2D-4F61-A844-1D906E52B3G1}"})
    EXPECT_FALSE(host::parse_iid(bad).has_value()) << bad;
}

}  // namespace
