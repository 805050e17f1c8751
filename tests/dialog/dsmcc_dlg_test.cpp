// The analysis window on the headless window layer against a fake host: the capture list and the PID
// map, the MUX list and its scans, and Start from the filters it installs to the pages it rebuilds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/dsmcc_dlg.h"
#include "tests/dialog/automation.h"
#include "tests/support/helpers.h"
#include "tests/support/fake_host.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/psi_builder.h"
#include "ui/headless/headless_backend.h"

using namespace capture;

namespace {

using fakehost::FakeHost;
using testdialog::Automation;
using testsupport::Bytes;
namespace r = resources;

// ---- the text form of a pair and the numbers typed into the edits

TEST(PairText, PairsAndEditNumbersReadBackOnlyInTheirForm) {
  struct Case {
    const char* text;
    bool matches;
    uint32_t program_number, pid;
  };
  const Case cases[] = {
      {"Prg 0x000c PID 0x0100", true, 12, 0x100},
      {"Prg 0xffff PID 0x1fff", true, 0xffff, 0x1fff},
      {"Prg 0x000C PID 0x0100", false, 0, 0},   // upper case is not the list's form
      {"Prg 0x12345 PID 0x0100", false, 0, 0},  // five digits: a value above 0xFFFF
      {" Prg 0x000c PID 0x0100", false, 0, 0},
      {"Prg 0x000c  PID 0x0100", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t prg = 99, pid = 99;
    EXPECT_EQ(parse_pair_text(c.text, prg, pid), c.matches);
    if (c.matches) {
      EXPECT_EQ(prg, c.program_number);
      EXPECT_EQ(pid, c.pid);
    }
  }
  // The numbers typed into the edits take their base from their prefix.
  const std::pair<const char*, uint64_t> numbers[] = {{"12", 12}, {"0X1f", 0x1f}, {"010", 8}, {"", 0}, {"12abc", 12},
                                                      {"09", 0},  {"0x1000000000000000000", UINT64_MAX}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(auto_base_value(text), value) << text;
}

// ---- the window

class DsmccDlgTest : public ::testing::Test {
 protected:
  // Runs the window; `act` plays the user once it has initialised (the PSI scan included), then the
  // window is closed with OK.
  void run(CDSMCCDlg& dlg, std::function<void(CDSMCCDlg&)> act) {
    automation.on(r::DIALOG_ANALYSIS, [act](ui::Dialog& w) {
      auto& d = dynamic_cast<CDSMCCDlg&>(w);
      act(d);
      d.button(r::ID_OK)->click();
    });
    EXPECT_EQ(dlg.run_modal(), ui::RESULT_OK);
  }

  static void type_pair(CDSMCCDlg& d, const char* prg, const char* pid) {
    d.edit(r::ANALYSIS_PRG_EDIT)->set_text(prg);
    d.edit(r::ANALYSIS_PID_EDIT)->set_text(pid);
    d.button(r::ANALYSIS_ADD)->click();
  }

  // The progress window ends as soon as it shows, after `during` ran.
  void close_progress_at_once(std::function<void()> during = {}) {
    automation.on(r::DIALOG_SCANNING, [during](ui::Dialog& w) {
      if (during) during();
      w.button(r::ID_CANCEL)->click();
    });
  }

  testsupport::LogCapture log;
  FakeHost host;
  Automation automation;
};

// ---- Start

TEST_F(DsmccDlgTest, StartInstallsOneFilterPerDistinctPid) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> pairs;
    std::vector<uint32_t> pids;
  };
  const Case cases[] = {
      {"two programmes, three PIDs", {{"1", "0x101"}, {"1", "0x100"}, {"2", "0x102"}}, {0x100, 0x101, 0x102}},
      {"two programmes sharing a PID", {{"1", "0x100"}, {"1", "0x101"}, {"2", "0x101"}}, {0x100, 0x101}},
      {"empty capture list", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost h;
    close_progress_at_once();
    CDSMCCDlg dlg(static_cast<OrvexFltMgr*>(&h));
    run(dlg, [&](CDSMCCDlg& d) {
      for (const auto& [prg, pid] : c.pairs) type_pair(d, prg, pid);
      d.button(r::ANALYSIS_START)->click();
      EXPECT_TRUE(d.installed_filters().empty()) << "every filter is removed when the capture ends";
    });
    const auto added = h.added();
    std::vector<uint32_t> pids;
    for (const auto& f : added) {
      pids.push_back(f.pid);
      EXPECT_EQ(f.match, Bytes{0x38});
      EXPECT_EQ(f.mask, Bytes{0x38});
      EXPECT_EQ(f.callback, &store::section_callback);
      ASSERT_NE(f.context, nullptr);
    }
    EXPECT_EQ(pids, c.pids);
    EXPECT_EQ(h.removed().size(), added.size());
    EXPECT_EQ(h.installed_count(), 0u);
  }
}

TEST_F(DsmccDlgTest, SectionsDeliveredDuringTheCaptureReachTheStoreAndThePages) {
  testsupport::DsiSpec dsi;
  dsi.private_data = testsupport::build_service_gateway_info(
      testsupport::gateway_info(testsupport::gateway_profile(7, 1, {0, 0, 0, 1}, 0x0b, 0x80000002)));
  const Bytes dsi_bytes = testsupport::dsi_section(dsi);
  const Bytes ddb_bytes = testsupport::ddb_section(testsupport::block(0x10, 1, 0, Bytes(16, 0xAB)));
  const Bytes other_table = testsupport::build_section(Bytes(8, 0), {.table_id = 0x3D});
  int delivered = 0;
  close_progress_at_once([&] {
    delivered += host.deliver(0x100, dsi_bytes);
    delivered += host.deliver(0x101, ddb_bytes);
    delivered += host.deliver(0x100, other_table);
    delivered += host.deliver(0x555, dsi_bytes);  // no filter there
  });
  CDSMCCDlg dlg(static_cast<OrvexFltMgr*>(&host));
  run(dlg, [](CDSMCCDlg& d) {
    type_pair(d, "1", "0x100");
    type_pair(d, "2", "0x100");
    type_pair(d, "2", "0x101");
    d.button(r::ANALYSIS_START)->click();
  });
  EXPECT_EQ(delivered, 3);
  const store::CarouselStore& s = dlg.store();
  ASSERT_EQ(s.programs.size(), 2u);
  EXPECT_EQ(s.programs.at(1).pids.at(0x100)->dsi.size(), 1u);
  EXPECT_EQ(s.programs.at(2).pids.at(0x100)->dsi.size(), 1u) << "a shared PID files under each programme";
  EXPECT_EQ(s.programs.at(2).pids.at(0x101)->ddb.size(), 1u);
  EXPECT_EQ(dlg.counters().dsi_count.load(), 2);
  EXPECT_TRUE(log.has(4, "unsupported message"));
  // The model is built from the store once the capture ends; the pages show it.
  EXPECT_EQ(dlg.model().programs.size(), 2u);

  // Programme nodes on each page, under its root.
  const char* programme_nodes[] = {"Program Number 0x0002 (2)", "Program Number 0x0002 (2)",
                                   "Program Number: 0x0002 (2)"};
  for (int tab = 0; tab < 3; ++tab) {
    const ui::Dialog* page = dlg.tabs(r::ANALYSIS_TABS)->page(tab);
    ASSERT_TRUE(page && page->tree(r::PAGE_TREE));
    const ui::TreeNode& root = *page->tree(r::PAGE_TREE)->top_level()[0];
    EXPECT_TRUE(root.expanded());
    ASSERT_EQ(root.child_count(), 2u);
    EXPECT_EQ(root.child(1)->text(), programme_nodes[tab]);
  }
}

}  // namespace
