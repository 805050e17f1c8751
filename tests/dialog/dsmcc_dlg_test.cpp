// The analysis window on the headless window layer against a fake host: the capture list and the PID
// map, the MUX list and its scans, and Start from the filters it installs to the pages it rebuilds.
#include "capture/dsmcc_dlg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dialog/automation.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/fake_host.h"
#include "tests/support/helpers.h"
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
  const char* huge = "0x1000000000000000000";
  const std::pair<const char*, uint64_t> numbers[] = {
      {"12", 12}, {"0X1f", 0x1f}, {"010", 8}, {"", 0}, {"12abc", 12}, {"09", 0}, {huge, UINT64_MAX}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(auto_base_value(text), value) << text;
}

// ---- the window

// Start installs one filter per distinct PID, in PID order, and removes them all when the capture ends;
// what the host delivers meanwhile reaches the store and, once the capture ends, the pages.
TEST(DsmccDlg, StartFiltersEachPidOnceAndTheSectionsDeliveredReachTheStoreAndThePages) {
  testsupport::LogCapture log;
  FakeHost host;
  Automation automation;
  testsupport::DsiSpec dsi;
  dsi.private_data = testsupport::build_service_gateway_info(
      testsupport::gateway_info(testsupport::gateway_profile(7, 1, {0, 0, 0, 1}, 0x0b, 0x80000002)));
  const Bytes dsi_bytes = testsupport::dsi_section(dsi);
  const Bytes ddb_bytes = testsupport::ddb_section(testsupport::block(0x10, 1, 0, Bytes(16, 0xAB)));
  const Bytes other_table = testsupport::long_section({.table_id = 0x3D}, Bytes(8, 0));
  int delivered = 0;
  automation.on(r::DIALOG_SCANNING, [&](ui::Dialog& progress) {
    delivered += host.deliver(0x100, dsi_bytes);
    delivered += host.deliver(0x101, ddb_bytes);
    delivered += host.deliver(0x100, other_table);
    delivered += host.deliver(0x555, dsi_bytes);  // no filter there
    progress.button(r::ID_CANCEL)->click();
  });
  CDSMCCDlg dlg(static_cast<OrvexFltMgr*>(&host));
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    for (const auto& [prg, pid] : {std::pair{"2", "0x101"}, {"1", "0x100"}, {"2", "0x100"}}) {
      dlg.edit(r::ANALYSIS_PRG_EDIT)->set_text(prg);
      dlg.edit(r::ANALYSIS_PID_EDIT)->set_text(pid);
      dlg.button(r::ANALYSIS_ADD)->click();
    }
    dlg.button(r::ANALYSIS_START)->click();
    EXPECT_TRUE(dlg.installed_filters().empty());
    dlg.button(r::ID_OK)->click();
  });
  EXPECT_EQ(dlg.run_modal(), ui::RESULT_OK);
  std::vector<uint32_t> pids;
  for (const auto& f : host.added()) {
    pids.push_back(f.pid);
    EXPECT_EQ(f.match, Bytes{0x38});
    EXPECT_EQ(f.mask, Bytes{0x38});
    EXPECT_EQ(f.callback, &store::section_callback);
    ASSERT_NE(f.context, nullptr);
  }
  EXPECT_EQ(pids, (std::vector<uint32_t>{0x100, 0x101}));
  EXPECT_EQ(host.removed().size(), 2u);
  EXPECT_EQ(host.installed_count(), 0u);
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
