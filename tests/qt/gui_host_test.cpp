// `dsmcc gui`: the host's main window with the plug-in's menu, the PID hint of its log, and the whole
// chain on the shared HbbTV stream (with the screenshots of docs/screenshots when DSMCC_SCREENSHOT_DIR
// is set).
#include "app/gui_host.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <utility>

#include "host/host.h"
#include "tests/dialog/automation.h"
#include "tests/qt/qt_fixture.h"
#include "tests/support/streams.h"
#include "ui/qt/icons.h"
#include "ui/qt/tab_strip.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
using Texts = std::vector<std::string>;
namespace r = resources;

// The node reached from the top level by `steps`, each the first child whose text starts with it,
// every node on the way opened; null when a step finds none.
QTreeWidgetItem* open_path(QTreeWidget* tree, std::initializer_list<const char*> steps) {
  QTreeWidgetItem* at = nullptr;
  for (const char* step : steps) {
    QTreeWidgetItem* parent = std::exchange(at, nullptr);
    for (int i = 0; !at && i < (parent ? parent->childCount() : tree->topLevelItemCount()); ++i) {
      QTreeWidgetItem* item = parent ? parent->child(i) : tree->topLevelItem(i);
      if (item->text(0).startsWith(step)) at = item;
    }
    EXPECT_NE(at, nullptr) << step;
    if (!at) return nullptr;
    tree->expandItem(at);
  }
  return at;
}

class GuiHostWindow : public qttest::QtWindows {};

TEST_F(GuiHostWindow, TheHbbTvCarouselIsCapturedAndShownWithItsFourFiles) {
  REQUIRE_STREAM(stream, "hbbtv-sevent.ts");
  app::GuiHost window;
  backend().set_main_window(&window);
  window.show();
  ASSERT_EQ(window.plugin_error(), "");
  Texts menus;
  for (QAction* action : window.menuBar()->actions()) menus.push_back(action->text().toStdString());
  for (QAction* action : window.file_menu()->actions()) menus.push_back(action->text().toStdString());
  EXPECT_EQ(menus, (Texts{"&File", "DSMCC", "&Open stream...", "", "&Quit"}));
  ASSERT_EQ(window.plugin_menu()->actions().size(), 1);
  EXPECT_EQ(window.plugin_action(r::COMMAND_ANALYZE)->text(), "DSMCC Analyzing...");

  // The capture holds the carousel PID alone: the MUX list shows nothing, so the log names the PID.
  ASSERT_EQ(window.open_source(stream), "");
  const QString hint = QStringLiteral(
      "DSM-CC sections (tables 0x3B/0x3C) on PID 0x138e. One that the MUX DSMCC streams list does not show "
      "can be "
      "added in the analysis window with PID and Prg No (e.g. PID 0x138e, Prg No 1).");
  EXPECT_TRUE(qttest::pump_until([&] { return window.log_text().contains(hint); }, 30s))
      << window.log_text().toStdString();

  const bool shots = !backend().screenshot_dir().empty();
  testdialog::Automation automation;
  std::vector<bool> drum_icons;
  automation.on(r::DIALOG_SCANNING, [&](ui::Dialog& progress) {
    EXPECT_TRUE(qttest::pump_until(
        [&] {
          return window.current_host()->statistics().input_ended &&
                 progress.static_text(r::SCANNING_DDB_COUNT)->text() != "0";
        },
        30s));
    qttest::pump_until([] { return false; },
                       250ms);  // one more refresh, so that the window shows the last counts
    if (shots) backend().screenshot(progress, "progress-window");
    click(widget<QPushButton>(progress.button(r::ID_CANCEL)));
  });
  automation.on(r::DIALOG_ANALYSIS, [&](ui::Dialog& dialog) {
    qttest::type_text(widget<QLineEdit>(dialog.edit(r::ANALYSIS_PRG_EDIT)), "1");
    qttest::type_text(widget<QLineEdit>(dialog.edit(r::ANALYSIS_PID_EDIT)), "0x138e");
    click(widget<QPushButton>(dialog.button(r::ANALYSIS_ADD)));
    click(widget<QPushButton>(dialog.button(r::ANALYSIS_START)));
    backend().flush();
    // The analysis window comes from the plug-in module, whose classes the test cannot name: its pages
    // are reached through the tab strip, in tab order.
    auto* strip = widget<ui::qt::TabStrip>(dialog.tabs(r::ANALYSIS_TABS));
    auto open_tab = [&](int tab) {
      QTest::mouseClick(strip, Qt::LeftButton, {}, strip->tab_rect(tab).center());
      return widget<ui::qt::TreeWidget>(dialog.tabs(r::ANALYSIS_TABS)->page(tab)->tree(r::PAGE_TREE));
    };
    ui::qt::TreeWidget* object = open_tab(2);
    QTreeWidgetItem* at = open_path(object, {"Object Carousels", "Program Number: 0x0001", "carouselId"});
    ASSERT_NE(at, nullptr);
    const QImage drum = ui::qt::icon_image(*resources::find_icon(r::ICON_DATA_DRUM));
    for (int i = 0; i < at->childCount(); ++i)
      drum_icons.push_back(
          at->child(i)->icon(0).pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32) ==
          drum);
    object->setCurrentItem(at->child(at->childCount() - 1));
    if (shots) backend().screenshot(dialog, "analysis-object-carousel");

    ui::qt::TreeWidget* data = open_tab(1);
    data->expandAll();
    ASSERT_NE(open_path(data, {"Data Carousels", "Program Number", "downloadId",
                               "0x1 (1) Length: 0x1a20 (6688) Sections: (2/2)"}),
              nullptr);
    if (shots) backend().screenshot(dialog, "analysis-data-carousel");

    // The section page, opened down to the hexadecimal dump of a DSI's private data.
    ui::qt::TreeWidget* section = open_tab(0);
    at = open_path(section, {"data carousel sections", "Program Number", "PID 0x138e",
                             "Download Server Initiate", "transaction id", "privateDataLength"});
    ASSERT_TRUE(at && at->childCount() > 0);
    EXPECT_TRUE(at->child(0)->text(0).startsWith("0000: "));
    section->setCurrentItem(at->child(0));
    section->scrollToItem(at, QAbstractItemView::PositionAtTop);
    if (shots) backend().screenshot(dialog, "analysis-section");
    open_tab(2);  // the object carousel page for the window's own picture at its end
    click(widget<QPushButton>(dialog.button(r::ID_OK)));
  });
  EXPECT_EQ(window.run_plugin_command(r::COMMAND_ANALYZE), S_OK);
  // The carousel's four files (their texts are the golden object page's) show the drum icon.
  EXPECT_EQ(drum_icons, (std::vector<bool>{true, true, true, true}));
  backend().set_main_window(nullptr);
}

}  // namespace
