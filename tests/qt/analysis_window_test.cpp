// The analysis window and the windows it opens, on the Qt backend, driven with the mouse and the
// keyboard as a user drives them: the capture list, the MUX list and its scans, Start with the
// progress window closed by Cancel, the tab strip over the three pages and the scan window's Cancel.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "capture/dsmcc_dlg.h"
#include "host/host.h"
#include "tests/dialog/automation.h"
#include "tests/qt/qt_fixture.h"
#include "tests/support/fake_host.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"
#include "ui/qt/tab_strip.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
using qttest::click_row;
using qttest::type_text;
using Texts = std::vector<std::string>;
namespace r = resources;

class AnalysisWindow : public qttest::QtWindows {
 protected:
  // A PAT with two programmes, their PMTs with one DSM-CC stream each (and one that is not), and on
  // the first a complete object carousel, repeated as a playout would.
  void SetUp() override {
    QtWindows::SetUp();
    using namespace testsupport;
    OcCarousel oc(0x10);
    oc.add_file(oc.gateway(), "readme.txt", text_bytes("read me first"), 1);
    Packetizer ts;
    for (int i = 0; i < 3; ++i) {
      ts.add_section(0x0000, pat_section(1, {{0, 0x10}, {1, 0x100}, {2, 0x101}}));
      ts.add_section(0x0100, pmt_section(1, 0x1FFF, {},
                                         {{0x0B, 0x200, carousel_id_descriptor(0x10)},
                                          {0x06, 0x300, data_broadcast_id_descriptor(0x00F0)}}));
      ts.add_section(0x0101,
                     pmt_section(2, 0x1FFF, {}, {{0x0B, 0x201, data_broadcast_id_descriptor(0x00F0)}}));
      ts.add_sections(0x200, oc.sections());
    }
    ASSERT_EQ(host_.open(dir_.write("multiplex.ts", ts.stream())), "");
  }
  void TearDown() override {
    host_.stop();
    QtWindows::TearDown();
  }
  QPushButton* button_of(ui::Dialog& window, int id) { return widget<QPushButton>(window.button(id)); }
  QListWidget* list_of(ui::Dialog& window, int id) { return widget<QListWidget>(window.list_box(id)); }

  testsupport::TempDir dir_;
  host::Host host_;
  const Texts mux_entries_ = {"Prg 0x0001 PID 0x0200", "Prg 0x0002 PID 0x0201"};
};

// The lists are built by typing and clicking; Start then captures the pairs until Cancel, and the tabs
// show the three pages.
TEST_F(AnalysisWindow, TheListsAreBuiltByTypingAndClickingAndStartCapturesThemUntilCancel) {
  capture::CDSMCCDlg dialog(host_.filter_manager(), nullptr);
  testdialog::Automation automation;
  Texts shown;
  // The host delivers the file once the progress window shows; once all went through and the window
  // shows the last counts, a click on its Cancel ends the capture.
  automation.on(r::DIALOG_SCANNING, [&](ui::Dialog& progress) {
    EXPECT_TRUE(host_.begin_capture());
    EXPECT_TRUE(qttest::pump_until(
        [&] {
          return host_.statistics().input_ended && progress.static_text(r::SCANNING_DDB_COUNT)->text() ==
                                                       std::to_string(dialog.counters().ddb_count.load());
        },
        20s));
    for (int id : {r::SCANNING_DSI_COUNT, r::SCANNING_DII_COUNT, r::SCANNING_DDB_COUNT})
      shown.push_back(widget<QLabel>(progress.control(id))->text().toStdString());
    click(button_of(progress, r::ID_CANCEL));
  });
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    QListWidget* captured = list_of(dialog, r::ANALYSIS_CAPTURE_LIST);
    QListWidget* mux = list_of(dialog, r::ANALYSIS_MUX_LIST);
    auto add_pair = [&](const QString& program, const QString& pid) {
      widget<QLineEdit>(dialog.edit(r::ANALYSIS_PRG_EDIT))->clear();
      widget<QLineEdit>(dialog.edit(r::ANALYSIS_PID_EDIT))->clear();
      type_text(widget<QLineEdit>(dialog.edit(r::ANALYSIS_PRG_EDIT)), program);
      type_text(widget<QLineEdit>(dialog.edit(r::ANALYSIS_PID_EDIT)), pid);
      click(button_of(dialog, r::ANALYSIS_ADD));
    };
    for (const auto& [program, pid] :
         {std::pair{"12", "0x100"}, {"12", "256"}, {"12", "0x101"}, {"015", "0x100"}})
      add_pair(program, pid);  // 256 is 0x100 again; 015 octal
    EXPECT_EQ(shown_texts(captured),
              (Texts{"Prg 0x000c PID 0x0100", "Prg 0x000c PID 0x0101", "Prg 0x000d PID 0x0100"}));
    click_row(captured, 0);
    click_row(captured, 2);
    click(button_of(dialog, r::ANALYSIS_REMOVE));
    EXPECT_EQ(shown_texts(captured), (Texts{"Prg 0x000c PID 0x0101"}));
    EXPECT_EQ(dialog.store().pid_map, (std::map<int, std::set<uint32_t>>{{12, {0x101}}}));
    click(button_of(dialog, r::ANALYSIS_REMOVE));  // nothing selected: nothing changes
    EXPECT_EQ(captured->count(), 1);

    // The scan at the window's start listed the two DSM-CC streams of the PSI.
    EXPECT_EQ(shown_texts(mux), mux_entries_);
    click_row(mux, 1);
    click(button_of(dialog, r::ANALYSIS_MUX_ADD));
    EXPECT_FALSE(mux->item(1)->isSelected()) << "the selection is cleared, in the model and on the screen";
    EXPECT_EQ(dialog.list_box(r::ANALYSIS_MUX_LIST)->selected_count(), 0);
    click_row(mux, 0);
    click_row(mux, 1, Qt::ControlModifier);  // both; the one already there is not added again
    click(button_of(dialog, r::ANALYSIS_MUX_ADD));
    EXPECT_EQ(shown_texts(captured),
              (Texts{"Prg 0x000c PID 0x0101", "Prg 0x0002 PID 0x0201", "Prg 0x0001 PID 0x0200"}));
    // A double click rescans, on an entry or below them, where an empty list has nothing else to click.
    QTest::mouseDClick(mux->viewport(), Qt::LeftButton, {}, mux->visualItemRect(mux->item(0)).center());
    EXPECT_EQ(automation.shown(r::DIALOG_PSI_SCAN), 2);
    const QPoint blank(4, mux->viewport()->height() - 3);
    ASSERT_FALSE(mux->indexAt(blank).isValid());
    QTest::mouseDClick(mux->viewport(), Qt::LeftButton, {}, blank);
    EXPECT_EQ(automation.shown(r::DIALOG_PSI_SCAN), 3);
    EXPECT_EQ(shown_texts(mux), mux_entries_);

    click(button_of(dialog, r::ANALYSIS_START));
    backend().flush();
    const store::CaptureCounters& c = dialog.counters();
    EXPECT_EQ(shown, (Texts{std::to_string(c.dsi_count.load()), std::to_string(c.dii_count.load()),
                            std::to_string(c.ddb_count.load())}));
    EXPECT_GT(c.ddb_count.load(), 0);

    ui::TabControl& tabs = *dialog.tabs(r::ANALYSIS_TABS);
    auto* strip = widget<ui::qt::TabStrip>(&tabs);
    auto click_tab = [&](int index) {
      QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(index).center());
    };
    click_tab(2);
    EXPECT_TRUE(backend().view_of(*tabs.page(2))->isVisible());
    EXPECT_FALSE(backend().view_of(*tabs.page(0))->isVisible());
    tabs.set_tab_enabled(1, false);
    click_tab(1);  // refused: the selection and the page stay
    EXPECT_EQ(tabs.cur_sel(), 2);
    EXPECT_EQ(strip->current(), 2);
    EXPECT_FALSE(backend().view_of(*tabs.page(1))->isVisible());
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
  EXPECT_EQ(automation.shown(r::DIALOG_SCANNING), 1);
}

TEST_F(AnalysisWindow, CancelInTheScanWindowStopsTheScanAndLeavesTheMuxListEmpty) {
  fakehost::FakeHost fake;
  fake.block_until_cancel = true;
  capture::CDSMCCDlg dialog(static_cast<OrvexFltMgr*>(&fake), nullptr);
  testdialog::Automation automation;
  bool cancel_disabled = false, moved = false;
  automation.on(r::DIALOG_PSI_SCAN, [&](ui::Dialog& scan) {
    EXPECT_EQ(backend().view_of(scan)->windowTitle(), "Scanning MUX PSI/SI");
    auto* bar = widget<QProgressBar>(scan.progress(r::PSI_SCAN_PROGRESS));
    // The bar moves (timer-driven, or Qt's busy bar) while the worker waits for the host: checked from
    // the window's own loop, which runs its timers.
    auto* poll = new QTimer(backend().view_of(scan));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    QObject::connect(poll, &QTimer::timeout, [&, bar, poll, deadline] {
      moved = bar->maximum() == 0 || bar->value() >= 40;
      if (!moved && std::chrono::steady_clock::now() < deadline) return;
      poll->stop();
      backend().screenshot(scan, "scan-window");  // with DSMCC_SCREENSHOT_DIR set: docs/screenshots
      click(button_of(scan, r::ID_CANCEL));
      cancel_disabled = !button_of(scan, r::ID_CANCEL)->isEnabled();
    });
    poll->start(10);
  });
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    EXPECT_EQ(list_of(dialog, r::ANALYSIS_MUX_LIST)->count(), 0);
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
  EXPECT_TRUE(moved);
  EXPECT_TRUE(cancel_disabled);
  EXPECT_EQ(fake.cancels(), 1);
}

}  // namespace
