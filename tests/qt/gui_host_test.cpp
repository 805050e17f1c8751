// `dsmcc gui`: the host's main window with the plug-in's menu, the analysis command it sends, the
// whole chain on the shared HbbTV stream (with the screenshots of docs/screenshots when
// DSMCC_SCREENSHOT_DIR is set).
#include "app/gui_host.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <cstdlib>

#include "host/host.h"
#include "tests/dialog/automation.h"
#include "tests/qt/qt_fixture.h"
#include "tests/support/streams.h"
#include "ui/qt/icons.h"
#include "ui/qt/tab_strip.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
namespace r = resources;

class GuiHostWindow : public qttest::QtWindows {
 protected:
  void SetUp() override {
    QtWindows::SetUp();
    window_ = std::make_unique<app::GuiHost>();
    backend().set_main_window(window_.get());
    window_->show();
  }
  void TearDown() override {
    backend().set_main_window(nullptr);
    window_.reset();
    QtWindows::TearDown();
  }

  QPushButton* button_of(ui::Dialog& window, int id) { return widget<QPushButton>(window.button(id)); }
  // The analysis window comes from the plug-in module, whose classes the test cannot name: its pages
  // are reached through the tab strip, in tab order (Section, Data Carousel, Object Carousel).
  static ui::Dialog* page(ui::Dialog& analysis, int tab) {
    return analysis.tabs(r::ANALYSIS_TABS)->page(tab);
  }
  ui::qt::TreeWidget* page_tree(ui::Dialog& analysis, int tab) {
    return widget<ui::qt::TreeWidget>(page(analysis, tab)->tree(r::PAGE_TREE));
  }

  std::unique_ptr<app::GuiHost> window_;
};

TEST_F(GuiHostWindow, OffersFileAndThePluginsOwnMenu) {
  ASSERT_EQ(window_->plugin_error(), "");
  std::vector<std::string> menus;
  for (QAction* action : window_->menuBar()->actions()) menus.push_back(action->text().toStdString());
  EXPECT_EQ(menus, (std::vector<std::string>{"&File", "DSMCC"}));
  std::vector<std::string> file;
  for (QAction* action : window_->file_menu()->actions())
    if (!action->isSeparator()) file.push_back(action->text().toStdString());
  EXPECT_EQ(file, (std::vector<std::string>{"&Open stream...", "&Quit"}));
  ASSERT_NE(window_->plugin_menu(), nullptr);
  ASSERT_EQ(window_->plugin_menu()->actions().size(), 1);
  QAction* analyze = window_->plugin_action(r::COMMAND_ANALYZE);
  ASSERT_NE(analyze, nullptr);
  EXPECT_EQ(analyze->text(), "DSMCC Analyzing...");
}

// ---- the shared HbbTV stream, end to end

// A capture of the carousel PID alone lists nothing in the MUX list: the main window names the PID and
// how to add it, as the command line does.
TEST_F(GuiHostWindow, APsiLessStreamHasItsCarouselPidNamedInTheLog) {
  REQUIRE_STREAM(stream, "hbbtv-sevent.ts");
  ASSERT_EQ(window_->open_source(stream), "");
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!window_->log_text().contains(QStringLiteral("on PID 0x138e")) && std::chrono::steady_clock::now() < until)
    qttest::pump_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(window_->log_text().contains(QStringLiteral(
      "DSM-CC sections (tables 0x3B/0x3C) on PID 0x138e. One that the MUX DSMCC streams list does not show can be "
      "added in the analysis window with PID and Prg No (e.g. PID 0x138e, Prg No 1).")))
      << window_->log_text().toStdString();
}

// The node under `parent` (null: the top level) whose text starts with `prefix`.
QTreeWidgetItem* child_starting(QTreeWidget* tree, QTreeWidgetItem* parent, const QString& prefix) {
  const int n = parent ? parent->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < n; ++i) {
    QTreeWidgetItem* item = parent ? parent->child(i) : tree->topLevelItem(i);
    if (item->text(0).startsWith(prefix)) return item;
  }
  return nullptr;
}

TEST_F(GuiHostWindow, TheHbbTvCarouselIsCapturedAndShownWithItsFourFiles) {
  REQUIRE_STREAM(stream, "hbbtv-sevent.ts");
  ASSERT_EQ(window_->open_source(stream), "");
  const std::string shots = backend().screenshot_dir();

  testdialog::Automation automation;
  qttest::Waits waits;
  std::vector<std::string> files;
  std::vector<bool> drum_icons;
  automation.on(r::DIALOG_SCANNING, [&](ui::Dialog& progress) {
    waits.when(
        [&] {
          host::Host* host = window_->current_host();
          return host && host->statistics().input_ended &&
                 progress.static_text(r::SCANNING_DDB_COUNT)->text() != "0";
        },
        [&] {
          // One more refresh, so that the window shows the last counts.
          qttest::pump_for(250ms);
          if (!shots.empty()) backend().screenshot(progress, "progress-window");
          click(button_of(progress, r::ID_CANCEL));
        },
        30s, [&] { progress.close(); });
  });
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog& dialog) {
    auto* prg = widget<QLineEdit>(dialog.edit(r::ANALYSIS_PRG_EDIT));
    auto* pid = widget<QLineEdit>(dialog.edit(r::ANALYSIS_PID_EDIT));
    qttest::type_text(prg, "1");
    qttest::type_text(pid, "0x138e");
    click(button_of(dialog, r::ANALYSIS_ADD));
    click(button_of(dialog, r::ANALYSIS_START));
    backend().flush();

    // The object carousel page: the user opens the programme and the carousel.
    auto* strip = widget<ui::qt::TabStrip>(dialog.tabs(r::ANALYSIS_TABS));
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(2).center());
    EXPECT_EQ(dialog.tabs(r::ANALYSIS_TABS)->cur_sel(), 2);
    ui::qt::TreeWidget* object = page_tree(dialog, 2);
    QTreeWidgetItem* root = child_starting(object, nullptr, "Object Carousels");
    ASSERT_NE(root, nullptr);
    QTreeWidgetItem* programme = child_starting(object, root, "Program Number: 0x0001");
    ASSERT_NE(programme, nullptr);
    object->expandItem(programme);
    QTreeWidgetItem* carousel = child_starting(object, programme, "carouselId");
    ASSERT_NE(carousel, nullptr);
    object->expandItem(carousel);
    const QImage drum = ui::qt::icon_image(*resources::find_icon(r::ICON_DATA_DRUM));
    for (int i = 0; i < carousel->childCount(); ++i) {
      files.push_back(carousel->child(i)->text(0).toStdString());
      drum_icons.push_back(carousel->child(i)
                               ->icon(0)
                               .pixmap(QSize(16, 16))
                               .toImage()
                               .convertToFormat(QImage::Format_ARGB32) == drum);
    }
    object->setCurrentItem(carousel->child(carousel->childCount() - 1));
    if (!shots.empty()) backend().screenshot(dialog, "analysis-object-carousel");

    // The data carousel page.
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(1).center());
    ui::qt::TreeWidget* data = page_tree(dialog, 1);
    QTreeWidgetItem* data_root = child_starting(data, nullptr, "Data Carousels");
    ASSERT_NE(data_root, nullptr);
    data->expandAll();
    EXPECT_NE(child_starting(
                  data, child_starting(data, child_starting(data, data_root, "Program Number"), "downloadId"),
                  "0x1 (1) Length: 0x1a20 (6688) Sections: (2/2)"),
              nullptr);
    if (!shots.empty()) backend().screenshot(dialog, "analysis-data-carousel");

    // The section page, opened down to the hexadecimal dump of a DSI's private data.
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(0).center());
    ui::qt::TreeWidget* section = page_tree(dialog, 0);
    QTreeWidgetItem* at = child_starting(section, nullptr, "data carousel sections");
    for (const char* step : {"Program Number", "PID 0x138e", "Download Server Initiate", "transaction id",
                             "privateDataLength"}) {
      ASSERT_NE(at, nullptr) << step;
      section->expandItem(at);
      at = child_starting(section, at, step);
    }
    ASSERT_NE(at, nullptr);
    section->expandItem(at);
    ASSERT_GT(at->childCount(), 0);
    EXPECT_TRUE(at->child(0)->text(0).startsWith("0000: "));
    section->scrollToItem(at->child(at->childCount() - 1));
    section->setCurrentItem(at->child(0));
    section->scrollToItem(at, QAbstractItemView::PositionAtTop);
    if (!shots.empty()) backend().screenshot(dialog, "analysis-section");

    // Back to the object carousel page for the window's own picture at its end.
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(2).center());
    click(button_of(dialog, r::ID_OK));
  });
  EXPECT_EQ(window_->run_plugin_command(r::COMMAND_ANALYZE), S_OK);
  EXPECT_EQ(files, (std::vector<std::string>{"base.css - size=369", "base.js - size=957",
                                             "index.html - size=3039", "logo.png - size=5170"}));
  EXPECT_EQ(drum_icons, (std::vector<bool>{true, true, true, true}));
}

}  // namespace
