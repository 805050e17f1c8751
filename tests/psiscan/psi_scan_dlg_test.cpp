// The PSI scan window on the headless window layer against a fake host: the requests it makes, the
// result it leaves, its failure table, Cancel, and the busy bar.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "psiscan/psi_scan_dlg.h"
#include "tests/dsmcc/log_capture.h"
#include "tests/support/fake_host.h"
#include "tests/support/psi_builder.h"

namespace {

using fakehost::FakeHost;
using testsupport::Bytes;

// Installs an automation hook for the scan window for the life of the object.
class ScanHook {
 public:
  explicit ScanHook(std::function<void(CPSIScanDlg&)> action) {
    previous_ = ui::set_automation([this, action](ui::Dialog& window) {
      ++calls;
      if (auto* scan = dynamic_cast<CPSIScanDlg*>(&window)) action(*scan);
    });
  }
  ~ScanHook() { ui::set_automation(previous_); }
  int calls = 0;

 private:
  ui::AutomationHook previous_;
};

// A scan window that reports a chosen system version, to select the bar's kind.
class VersionedScanDlg : public CPSIScanDlg {
 public:
  VersionedScanDlg(OrvexFltMgr* fm, std::pair<int, int> version) : CPSIScanDlg(fm, nullptr, false), v_(version) {}

 protected:
  std::pair<int, int> system_version() const override { return v_; }

 private:
  std::pair<int, int> v_;
};

Bytes pmt_with_carousel(uint16_t program_number, uint16_t pid) {
  return testsupport::pmt_section(program_number, 0x1FFF, {},
                                  {{0x0B, pid, testsupport::carousel_id_descriptor(1)}});
}

Bytes corrupted(Bytes section) {
  section[section.size() - 5] ^= 0x5A;  // a body byte: the CRC no longer fits
  return section;
}

class PsiScanTest : public ::testing::Test {
 protected:
  // PAT: network entry, programmes 0x0d49 (PMT 0x0100) and 0x0d4a (PMT 0x0101).
  void standard_multiplex() {
    host.add_table(0x0000, 0x00, {testsupport::pat_section(1, {{0, 0x0010}, {0x0d49, 0x0100}, {0x0d4a, 0x0101}})});
    host.add_table(0x0100, 0x02, {pmt_with_carousel(0x0d49, 0x0bb9)}, 0x0d49);
    host.add_table(0x0101, 0x02, {pmt_with_carousel(0x0d4a, 0x0bba)}, 0x0d4a);
  }
  OrvexFltMgr* fm() { return static_cast<OrvexFltMgr*>(&host); }

  testlog::LogCapture log;
  FakeHost host;
};

TEST_F(PsiScanTest, ScansPatThenEveryPmtAndKeepsTheResult) {
  standard_multiplex();
  {
    CPSIScanDlg scan(fm(), nullptr, false);
    EXPECT_TRUE(scan.has_sisection());
    EXPECT_EQ(host.outstanding_refs(), 2);  // the filter manager again, and ISISection
    ASSERT_EQ(scan.run_modal(), 1);
    const PsiScanResult& r = scan.result();
    ASSERT_EQ(r.pat.get_program_info_size(), 3u);
    ASSERT_EQ(r.pmts.size(), 2u);
    EXPECT_EQ(r.pmts.at(0x0d49).streams.at(0).elementary_PID, 0x0bb9u);
    EXPECT_EQ(r.pmts.at(0x0d4a).streams.at(0).elementary_PID, 0x0bbau);
  }
  EXPECT_EQ(host.outstanding_refs(), 0) << "the window released what it queried";

  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[0].size(), 1u);
  EXPECT_EQ(calls[0][0].pid(), 0u);
  EXPECT_EQ(calls[0][0].table_id(), 0x00);
  EXPECT_FALSE(calls[0][0].select_by_extension());
  // The network entry asks for no PMT; the others in PAT order, each selected by its programme number.
  ASSERT_EQ(calls[1].size(), 2u);
  EXPECT_EQ(calls[1][0].pid(), 0x0100u);
  EXPECT_EQ(calls[1][0].table_id(), 0x02);
  EXPECT_TRUE(calls[1][0].select_by_extension());
  EXPECT_EQ(calls[1][0].table_id_extension(), 0x0d49);
  EXPECT_EQ(calls[1][1].pid(), 0x0101u);
  EXPECT_EQ(calls[1][1].table_id_extension(), 0x0d4a);
  EXPECT_EQ(host.timeouts(), (std::vector<uint32_t>{30, 30}));

  const std::vector<std::string> expected = {"CPSIScanDlg::threadproc()", "CPSIScanDlg::scansi()",
                                             "Got 1 PAT sections", "PSI scanning thread completed",
                                             "CPSIScanDlg::OnEndStreamThread()"};
  std::vector<std::string> trace;
  for (const auto& line : log.lines())
    if (line.level == 4) trace.push_back(line.text);
  EXPECT_EQ(trace, expected) << log.dump();
}

TEST_F(PsiScanTest, CatRequestedOnlyWhenAskedAndItsErrorIsTolerated) {
  standard_multiplex();
  host.add_table(0x0001, 0x01, {corrupted(testsupport::cat_section({}))});
  CPSIScanDlg scan(fm(), nullptr, true);
  ASSERT_EQ(scan.run_modal(), 1);
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[0].size(), 2u);
  EXPECT_EQ(calls[0][1].pid(), 1u);
  EXPECT_EQ(calls[0][1].table_id(), 0x01);
  EXPECT_TRUE(log.has(4, "CAT scanning enabled"));
  EXPECT_TRUE(log.has(4, "Got 1 CAT sections"));
  EXPECT_EQ(log.count_containing("Error parsing CAT section: "), 1u) << log.dump();
  EXPECT_EQ(scan.result().pmts.size(), 2u) << "a rejected CAT does not stop the scan";
}

TEST_F(PsiScanTest, PatWithOnlyTheNetworkEntryAsksForNoPmt) {
  host.add_table(0x0000, 0x00, {testsupport::pat_section(1, {{0, 0x0010}})});
  CPSIScanDlg scan(fm(), nullptr, false);
  ASSERT_EQ(scan.run_modal(), 1);
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[1].empty()) << "the PMT call is made with a count of 0";
  EXPECT_EQ(scan.result().pat.get_program_info_size(), 1u);
  EXPECT_TRUE(scan.result().pmts.empty());
}

TEST_F(PsiScanTest, OnlyTheFirstPatSectionIsRead) {
  host.add_table(0x0000, 0x00,
                 {testsupport::pat_section(1, {{0x0001, 0x0100}}, 0, 0, 1),
                  testsupport::pat_section(1, {{0x0002, 0x0101}}, 0, 1, 1)});
  host.add_table(0x0100, 0x02, {pmt_with_carousel(1, 0x0200)}, 1);
  host.add_table(0x0101, 0x02, {pmt_with_carousel(2, 0x0201)}, 2);
  CPSIScanDlg scan(fm(), nullptr, false);
  ASSERT_EQ(scan.run_modal(), 1);
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[1].size(), 1u);
  EXPECT_EQ(calls[1][0].table_id_extension(), 1);
  EXPECT_EQ(scan.result().pmts.count(2), 0u);
  EXPECT_TRUE(log.has(4, "Got 2 PAT sections"));
}

TEST_F(PsiScanTest, NoPatReceivedGivesAnEmptyResult) {
  CPSIScanDlg scan(fm(), nullptr, false);
  ASSERT_EQ(scan.run_modal(), 1);
  EXPECT_TRUE(log.has(4, "Got 0 PAT sections"));
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[1].empty());
  EXPECT_EQ(scan.result().pat.get_program_info_size(), 0u);
}

TEST_F(PsiScanTest, RejectedPatEndsWithTwoAndAsksNoPmt) {
  host.add_table(0x0000, 0x00, {corrupted(testsupport::pat_section(1, {{0x0d49, 0x0100}}))});
  CPSIScanDlg scan(fm(), nullptr, false);
  EXPECT_EQ(scan.run_modal(), 2);
  EXPECT_EQ(host.calls().size(), 1u);
  EXPECT_EQ(log.count_containing("Error parsing PAT section: "), 1u);
  bool at_level_1 = false;
  for (const auto& line : log.lines())
    if (line.text.rfind("Error parsing PAT section: ", 0) == 0) at_level_1 = line.level == 1;
  EXPECT_TRUE(at_level_1) << log.dump();
  EXPECT_EQ(scan.result().pat.get_program_info_size(), 0u);
}

TEST_F(PsiScanTest, FailedRequestsEndWithOneAndAnEmptyResult) {
  for (int failing : {0, 1}) {
    SCOPED_TRACE(failing);
    FakeHost h;
    h.add_table(0x0000, 0x00, {testsupport::pat_section(1, {{0x0d49, 0x0100}})});
    h.add_table(0x0100, 0x02, {pmt_with_carousel(0x0d49, 0x0bb9)}, 0x0d49);
    h.fail_call = failing;
    CPSIScanDlg scan(static_cast<OrvexFltMgr*>(&h), nullptr, false);
    EXPECT_EQ(scan.run_modal(), 1);
    EXPECT_EQ(h.calls().size(), static_cast<size_t>(failing + 1));
    EXPECT_EQ(scan.result().pat.get_program_info_size(), 0u) << "nothing of a failed scan is kept";
    EXPECT_TRUE(scan.result().pmts.empty());
  }
}

TEST_F(PsiScanTest, RejectedPmtLeavesItsProgrammeOut) {
  host.add_table(0x0000, 0x00, {testsupport::pat_section(1, {{0x0d49, 0x0100}, {0x0d4a, 0x0101}})});
  host.add_table(0x0100, 0x02, {corrupted(pmt_with_carousel(0x0d49, 0x0bb9))}, 0x0d49);
  host.add_table(0x0101, 0x02, {pmt_with_carousel(0x0d4a, 0x0bba)}, 0x0d4a);
  CPSIScanDlg scan(fm(), nullptr, false);
  ASSERT_EQ(scan.run_modal(), 1);
  EXPECT_EQ(scan.result().pmts.size(), 1u);
  EXPECT_EQ(scan.result().pmts.count(0x0d4a), 1u);
  EXPECT_EQ(log.count_containing("Error parsing PMT section: "), 1u);
}

TEST_F(PsiScanTest, PmtIsFiledUnderItsOwnProgrammeNumberReplacingAnEarlierOne) {
  // Two PAT entries whose PMTs both say programme 5: the later replaces the earlier.
  host.add_table(0x0000, 0x00, {testsupport::pat_section(1, {{5, 0x0100}, {6, 0x0101}})});
  host.add_table(0x0100, 0x02, {pmt_with_carousel(5, 0x0201)}, 5);
  host.add_table(0x0101, 0x02, {pmt_with_carousel(5, 0x0202)}, 6);
  CPSIScanDlg scan(fm(), nullptr, false);
  ASSERT_EQ(scan.run_modal(), 1);
  ASSERT_EQ(scan.result().pmts.size(), 1u);
  EXPECT_EQ(scan.result().pmts.at(5).streams.at(0).elementary_PID, 0x0202u);
}

TEST_F(PsiScanTest, WithoutSISectionTheWindowEndsWithTwoAtOnce) {
  host.offer_sisection = false;
  ScanHook hook([](CPSIScanDlg&) {});
  {
    CPSIScanDlg scan(fm(), nullptr, false);
    EXPECT_FALSE(scan.has_sisection());
    EXPECT_EQ(scan.run_modal(), 2);
  }
  EXPECT_EQ(hook.calls, 0) << "a window ended in its initialisation never shows";
  EXPECT_TRUE(host.calls().empty());
  EXPECT_TRUE(log.has(1, "Failed QueryInterface(IID_ISISection) (0x80004002)")) << log.dump();
  EXPECT_EQ(host.outstanding_refs(), 0);
}

TEST_F(PsiScanTest, WithoutFilterManagerTheWindowEndsWithTwoSilently) {
  host.offer_filter_manager = false;
  {
    CPSIScanDlg scan(fm(), nullptr, false);
    EXPECT_EQ(scan.run_modal(), 2);
    CPSIScanDlg none(nullptr, nullptr, false);
    EXPECT_EQ(none.run_modal(), 2);
  }
  EXPECT_TRUE(host.calls().empty());
  EXPECT_EQ(log.count_containing("Failed QueryInterface"), 0u);
  EXPECT_EQ(host.outstanding_refs(), 0);
}

TEST_F(PsiScanTest, CancelDisablesTheButtonAndTheWindowWaitsForTheWorker) {
  standard_multiplex();
  host.block_until_cancel = true;
  bool ended_at_click = true, enabled_after_click = true;
  ScanHook hook([&](CPSIScanDlg& scan) {
    EXPECT_TRUE(scan.button(resources::ID_CANCEL)->click());
    ended_at_click = scan.ended();
    enabled_after_click = scan.button(resources::ID_CANCEL)->enabled();
  });
  CPSIScanDlg scan(fm(), nullptr, false);
  EXPECT_EQ(scan.run_modal(), 1) << "a cancelled request is a failed request";
  EXPECT_FALSE(ended_at_click) << "Cancel does not close the window";
  EXPECT_FALSE(enabled_after_click);
  EXPECT_EQ(host.cancels(), 1);
  EXPECT_EQ(host.calls().size(), 1u);
  EXPECT_TRUE(scan.result().pmts.empty());
}

TEST_F(PsiScanTest, EscapeActsAsCancel) {
  host.block_until_cancel = true;
  ScanHook hook([](CPSIScanDlg& scan) { scan.close(); });
  CPSIScanDlg scan(fm(), nullptr, false);
  EXPECT_EQ(scan.run_modal(), 1);
  EXPECT_EQ(host.cancels(), 1);
}

TEST_F(PsiScanTest, PlainBarCountsOnTimer104) {
  host.block_until_cancel = true;
  int position = -1;
  std::thread later;
  ScanHook hook([&](CPSIScanDlg& scan) {
    const ui::Control* bar = scan.control(resources::PSI_SCAN_PROGRESS);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->rect(), (ui::Rect{7, 7, 172, 14}));
    later = std::thread([&scan, &position] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      scan.post([&scan, &position] {
        position = scan.bar_position();
        scan.button(resources::ID_CANCEL)->click();
      });
    });
  });
  VersionedScanDlg scan(fm(), {6, 1});
  EXPECT_EQ(scan.run_modal(), 1);
  later.join();
  EXPECT_FALSE(scan.marquee());
  const ui::ProgressBar* bar = scan.progress(resources::PSI_SCAN_PROGRESS);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->range_low(), 0);
  EXPECT_EQ(bar->range_high(), 100);
  EXPECT_FALSE(bar->marquee());
  EXPECT_GT(position, 0) << "the 5 ms timer moved the bar while the worker waited";
  EXPECT_LT(position, 100);
}

TEST_F(PsiScanTest, MarqueeOnlyForVersionFiveAboveZero) {
  struct Case {
    std::pair<int, int> version;
    bool marquee;
  };
  for (const Case& c : {Case{{5, 1}, true}, Case{{5, 2}, true}, Case{{5, 0}, false}, Case{{6, 1}, false},
                        Case{{4, 9}, false}}) {
    SCOPED_TRACE(std::to_string(c.version.first) + "." + std::to_string(c.version.second));
    FakeHost h;
    h.add_table(0x0000, 0x00, {testsupport::pat_section(1, {})});
    VersionedScanDlg scan(static_cast<OrvexFltMgr*>(&h), c.version);
    EXPECT_EQ(scan.run_modal(), 1);
    EXPECT_EQ(scan.marquee(), c.marquee);
    const ui::ProgressBar* bar = scan.progress(resources::PSI_SCAN_PROGRESS);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->marquee(), c.marquee);
    if (c.marquee) {
      EXPECT_EQ(bar->marquee_interval(), 40u);
      EXPECT_EQ(scan.bar_position(), 0) << "no timer runs beside an animated bar";
    }
  }
}

}  // namespace
