// The analysis window and the windows it opens, on the Qt backend, driven with the mouse and the
// keyboard as a user drives them: the capture list, the MUX list and its scans, Start with the
// progress window closed by Cancel, the three pages, the tab strip and the scan window's Cancel.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "capture/dsmcc_dlg.h"
#include "capture/dsmcc_scanning.h"
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "host/host.h"
#include "inspector/section_dlg.h"
#include "tests/dialog/automation.h"
#include "tests/support/fake_host.h"
#include "tests/qt/qt_fixture.h"
#include "tests/qt/stream_fixture.h"
#include "ui/qt/tab_strip.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
using qttest::click_row;
using qttest::type_text;
namespace r = resources;

std::vector<std::string> child_texts(const QTreeWidgetItem* item) {
  std::vector<std::string> out;
  for (int i = 0; item && i < item->childCount(); ++i) out.push_back(item->child(i)->text(0).toStdString());
  return out;
}

class AnalysisWindow : public qttest::QtWindows {
 protected:
  void SetUp() override {
    QtWindows::SetUp();
    ASSERT_TRUE(dir_.isValid());
    mux_ = qttest::write_synthetic_multiplex(dir_.path().toStdString());
    ASSERT_EQ(host_.open(mux_.path), "");
  }
  void TearDown() override {
    host_.stop();
    QtWindows::TearDown();
  }

  QPushButton* button_of(ui::Dialog& window, int id) { return widget<QPushButton>(window.button(id)); }
  QListWidget* list_of(ui::Dialog& window, int id) { return widget<QListWidget>(window.list_box(id)); }
  ui::qt::TreeWidget* tree_of(ui::Dialog* page) {
    return page ? widget<ui::qt::TreeWidget>(page->tree(r::PAGE_TREE)) : nullptr;
  }

  // Runs a capture from a click on Start: the host delivers the file once the progress window shows,
  // and once the whole file went through, a click on the progress window's Cancel ends the capture.
  // Returns the counts the progress window showed then (DSI, DII, DDB).
  std::vector<std::string> capture(CDSMCCDlg& dialog, testdialog::Automation& automation,
                                   qttest::Waits& waits) {
    std::vector<std::string> shown;
    automation.on(r::DIALOG_SCANNING, [&](ui::Dialog& progress) {
      EXPECT_TRUE(host_.begin_capture());
      auto* cancel = button_of(progress, r::ID_CANCEL);
      waits.when(
          [&] {
            const auto& c = dialog.counters();
            // Everything was read, and the window shows the last counts.
            return host_.statistics().input_ended &&
                   progress.static_text(r::SCANNING_DDB_COUNT)->text() == std::to_string(c.ddb_count.load());
          },
          [&, cancel] {
            for (int id : {r::SCANNING_DSI_COUNT, r::SCANNING_DII_COUNT, r::SCANNING_DDB_COUNT})
              shown.push_back(widget<QLabel>(progress.control(id))->text().toStdString());
            click(cancel);
          },
          20s, [&] { progress.close(); });
    });
    click(button_of(dialog, r::ANALYSIS_START));
    return shown;
  }

  QTemporaryDir dir_;
  qttest::SyntheticMultiplex mux_;
  host::Host host_;
};

TEST_F(AnalysisWindow, TheCaptureListIsBuiltByTypingAndClicking) {
  CDSMCCDlg dialog(host_.filter_manager(), nullptr);
  testdialog::Automation automation;
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    QListWidget* captured = list_of(dialog, r::ANALYSIS_CAPTURE_LIST);
    auto* pid = widget<QLineEdit>(dialog.edit(r::ANALYSIS_PID_EDIT));
    auto* prg = widget<QLineEdit>(dialog.edit(r::ANALYSIS_PRG_EDIT));
    auto* add = button_of(dialog, r::ANALYSIS_ADD);
    auto add_pair = [&](const QString& program, const QString& pid_text) {
      prg->clear();
      pid->clear();
      type_text(prg, program);
      type_text(pid, pid_text);
      click(add);
    };
    add_pair("12", "0x100");
    EXPECT_EQ(shown_texts(captured), (std::vector<std::string>{"Prg 0x000c PID 0x0100"}));
    add_pair("12", "256");  // the same pair in decimal adds nothing
    EXPECT_EQ(captured->count(), 1);
    add_pair("12", "0x101");
    add_pair("015", "0x100");  // octal
    EXPECT_EQ(shown_texts(captured),
              (std::vector<std::string>{"Prg 0x000c PID 0x0100", "Prg 0x000c PID 0x0101",
                                        "Prg 0x000d PID 0x0100"}));
    // Entries 0 and 2 selected with two clicks, then Remove.
    click_row(captured, 0);
    click_row(captured, 2);
    click(button_of(dialog, r::ANALYSIS_REMOVE));
    EXPECT_EQ(shown_texts(captured), (std::vector<std::string>{"Prg 0x000c PID 0x0101"}));
    const CarouselStore& store = dialog.store();
    EXPECT_EQ(store.capture_pairs.size(), 1u);
    ASSERT_EQ(store.pid_map.size(), 1u);
    EXPECT_EQ(store.pid_map.begin()->first, 12);
    EXPECT_EQ(store.pid_map.begin()->second, (std::set<uint32_t>{0x101}));
    // Remove with nothing selected changes nothing.
    click(button_of(dialog, r::ANALYSIS_REMOVE));
    EXPECT_EQ(captured->count(), 1);
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
}

TEST_F(AnalysisWindow, MuxEntriesAreAddedByClickAndTheMuxListIsRescannedByDoubleClick) {
  CDSMCCDlg dialog(host_.filter_manager(), nullptr);
  testdialog::Automation automation;
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    QListWidget* mux = list_of(dialog, r::ANALYSIS_MUX_LIST);
    QListWidget* captured = list_of(dialog, r::ANALYSIS_CAPTURE_LIST);
    // The scan at the window's start listed the two DSM-CC streams of the PSI.
    EXPECT_EQ(shown_texts(mux), mux_.mux_entries);
    EXPECT_EQ(automation.shown(r::DIALOG_PSI_SCAN), 1);
    click_row(mux, 1);
    EXPECT_TRUE(mux->item(1)->isSelected());
    click(button_of(dialog, r::ANALYSIS_MUX_ADD));
    EXPECT_EQ(shown_texts(captured), (std::vector<std::string>{"Prg 0x0002 PID 0x0201"}));
    // The selection is cleared, in the model and on the screen.
    EXPECT_EQ(dialog.list_box(r::ANALYSIS_MUX_LIST)->selected_count(), 0);
    EXPECT_FALSE(mux->item(1)->isSelected());
    // Both entries at once (Ctrl adds to the selection); the one already there is not added again.
    click_row(mux, 0);
    click_row(mux, 1, Qt::ControlModifier);
    click(button_of(dialog, r::ANALYSIS_MUX_ADD));
    EXPECT_EQ(shown_texts(captured),
              (std::vector<std::string>{"Prg 0x0002 PID 0x0201", "Prg 0x0001 PID 0x0200"}));
    // A double click rescans: a second scan window runs and the list is filled anew.
    qttest::double_click_row(mux, 0);
    EXPECT_EQ(automation.shown(r::DIALOG_PSI_SCAN), 2);
    EXPECT_EQ(shown_texts(mux), mux_.mux_entries);
    // So does one below the entries, where an empty list has nothing else to click.
    const QPoint blank(4, mux->viewport()->height() - 3);
    ASSERT_FALSE(mux->indexAt(blank).isValid());
    QTest::mouseDClick(mux->viewport(), Qt::LeftButton, Qt::NoModifier, blank);
    EXPECT_EQ(automation.shown(r::DIALOG_PSI_SCAN), 3);
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
}

TEST_F(AnalysisWindow, StartCapturesUntilCancelAndFillsTheThreePages) {
  CDSMCCDlg dialog(host_.filter_manager(), nullptr);
  testdialog::Automation automation;
  qttest::Waits waits;
  std::vector<std::string> counts;
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    QListWidget* mux = list_of(dialog, r::ANALYSIS_MUX_LIST);
    click_row(mux, 0);
    click(button_of(dialog, r::ANALYSIS_MUX_ADD));
    counts = capture(dialog, automation, waits);
    backend().flush();

    // The progress window showed the counts of the capture when Cancel was clicked.
    const CaptureCounters& c = dialog.counters();
    EXPECT_EQ(counts, (std::vector<std::string>{std::to_string(c.dsi_count.load()),
                                                std::to_string(c.dii_count.load()),
                                                std::to_string(c.ddb_count.load())}));
    EXPECT_GT(c.dsi_count.load(), 0);
    EXPECT_GT(c.ddb_count.load(), 0);
    EXPECT_TRUE(dialog.installed_filters().empty());

    ui::qt::TreeWidget* section = tree_of(dialog.section_page());
    ASSERT_EQ(section->topLevelItemCount(), 1);
    QTreeWidgetItem* sections_root = section->topLevelItem(0);
    EXPECT_EQ(sections_root->text(0), "data carousel sections");
    EXPECT_TRUE(sections_root->isExpanded());
    EXPECT_EQ(child_texts(sections_root), (std::vector<std::string>{"Program Number 0x0001 (1)"}));
    EXPECT_EQ(child_texts(sections_root->child(0)), (std::vector<std::string>{"PID 0x0200"}));
    EXPECT_EQ(child_texts(sections_root->child(0)->child(0)),
              (std::vector<std::string>{"Download Server Initiate", "Download Info Indication",
                                        "Data Download Block"}));

    ui::qt::TreeWidget* data = tree_of(dialog.data_page());
    ASSERT_EQ(data->topLevelItemCount(), 1);
    EXPECT_EQ(data->topLevelItem(0)->text(0), "Data Carousels");
    EXPECT_EQ(child_texts(data->topLevelItem(0)->child(0)),
              (std::vector<std::string>{"downloadId 0x00000010 (16)"}));
    EXPECT_EQ(data->topLevelItem(0)->child(0)->child(0)->childCount(), 2);  // modules 1 and 2

    ui::qt::TreeWidget* object = tree_of(dialog.object_page());
    ASSERT_EQ(object->topLevelItemCount(), 1);
    QTreeWidgetItem* carousel = object->topLevelItem(0)->child(0)->child(0);
    ASSERT_NE(carousel, nullptr);
    EXPECT_EQ(carousel->text(0), "carouselId 0x00000010 (16)");
    EXPECT_EQ(child_texts(carousel), (std::vector<std::string>{"apps", "readme.txt - size=13"}));
    EXPECT_EQ(child_texts(carousel->child(0)),
              (std::vector<std::string>{"index.html - size=" + std::to_string(mux_.index_html.size()),
                                        "logo.png - size=3000"}));
    // The user opens the carousel node: the model follows.
    EXPECT_FALSE(carousel->isExpanded());
    object->expandItem(carousel);
    EXPECT_TRUE(dialog.object_page()->root()->child(0)->child(0)->expanded());
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
  EXPECT_EQ(automation.shown(r::DIALOG_SCANNING), 1);
}

TEST_F(AnalysisWindow, TheTabStripSwitchesPagesAndRefusesDisabledTabs) {
  CDSMCCDlg dialog(host_.filter_manager(), nullptr);
  testdialog::Automation automation;
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    ui::TabControl& tabs = *dialog.tabs(r::ANALYSIS_TABS);
    auto* strip = widget<ui::qt::TabStrip>(&tabs);
    ui::qt::WindowView* section = backend().view_of(*dialog.section_page());
    ui::qt::WindowView* object = backend().view_of(*dialog.object_page());
    auto click_tab = [&](int index) {
      QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(index).center());
    };

    click_tab(2);
    EXPECT_EQ(tabs.cur_sel(), 2);
    EXPECT_EQ(strip->current(), 2);
    EXPECT_TRUE(object->isVisible());
    EXPECT_FALSE(section->isVisible());

    // A disabled tab refuses the click: the selection and the page stay.
    tabs.set_tab_enabled(1, false);
    EXPECT_FALSE(strip->tabs()[1].enabled);
    click_tab(1);
    EXPECT_EQ(tabs.cur_sel(), 2);
    EXPECT_EQ(strip->current(), 2);
    EXPECT_TRUE(object->isVisible());
    EXPECT_FALSE(backend().view_of(*dialog.data_page())->isVisible());
    click_tab(0);
    EXPECT_EQ(tabs.cur_sel(), 0);
    EXPECT_TRUE(section->isVisible());
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
}

TEST_F(AnalysisWindow, CancelInTheScanWindowStopsTheScanAndLeavesTheMuxListEmpty) {
  fakehost::FakeHost fake;
  fake.block_until_cancel = true;
  CDSMCCDlg dialog(static_cast<OrvexFltMgr*>(&fake), nullptr);
  testdialog::Automation automation;
  qttest::Waits waits;
  bool cancel_disabled = false;
  int bar_moves = 0;
  automation.on(r::DIALOG_PSI_SCAN, [&](ui::Dialog& scan) {
    ui::qt::WindowView* view = backend().view_of(scan);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->windowTitle(), "Scanning MUX PSI/SI");
    EXPECT_EQ(view->size(), QSize(backend().units().x(186), backend().units().y(49)));
    auto* bar = widget<QProgressBar>(scan.progress(r::PSI_SCAN_PROGRESS));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), backend().units().rect(scan.progress(r::PSI_SCAN_PROGRESS)->rect()));
    auto* cancel = button_of(scan, r::ID_CANCEL);
    int last = bar->value();
    // The bar moves (timer-driven, or Qt's busy bar) while the worker waits for the host.
    waits.when(
        [&, bar] {
          if (bar->maximum() == 0 || bar->value() != last) ++bar_moves;
          last = bar->value();
          return bar_moves >= 3 && (bar->maximum() == 0 || bar->value() >= 40);
        },
        [&, cancel] {
          // With DSMCC_SCREENSHOT_DIR set, the picture of docs/screenshots: the scan under way.
          backend().screenshot(scan, "scan-window");
          click(cancel);
          cancel_disabled = !cancel->isEnabled();
        },
        10s, [&] { scan.close(); });
  });
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog&) {
    EXPECT_EQ(list_of(dialog, r::ANALYSIS_MUX_LIST)->count(), 0);
    click(button_of(dialog, r::ID_OK));
  });
  dialog.run_modal();
  EXPECT_GE(bar_moves, 3);
  EXPECT_TRUE(cancel_disabled);
  EXPECT_EQ(fake.cancels(), 1);
  EXPECT_EQ(automation.shown(r::DIALOG_ANALYSIS), 1);
}

}  // namespace
