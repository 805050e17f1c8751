// The Qt backend's pieces and windows of its own layout: dialog units, the texts as shown, the choice
// of the Qt platform by `dsmcc gui`, where controls stand, and how widgets and trees follow their models,
// with deep trees and rebuilds among them.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <map>

#include "app/gui_display.h"
#include "tests/dialog/automation.h"
#include "tests/qt/qt_fixture.h"
#include "ui/qt/dialog_units.h"

namespace {

using namespace std::chrono_literals;
namespace r = resources;
using K = resources::ControlKind;

TEST(DialogUnits, BaseUnitsRoundTheLetterAverageAndCoordinatesScaleByAQuarterAndAnEighth) {
  const int bases[][4] = {
      {312, 13, 6, 13}, {337, 13, 6, 13}, {338, 15, 7, 15}, {363, 16, 7, 16}, {0, 0, 0, 0}};
  for (const auto& [letters, height, x, y] : bases) {
    const ui::qt::DialogUnits units = ui::qt::dialog_units(letters, height);
    EXPECT_EQ(std::pair(units.base_x, units.base_y), std::pair(x, y)) << letters;
  }
  const ui::qt::DialogUnits units{6, 13};
  const int coordinates[][3] = {{1, 2, 2}, {4, 6, 7}, {3, 5, 5}, {7, 11, 11}, {390, 585, 634}, {-4, -6, -7}};
  for (const auto& [du, x, y] : coordinates)
    EXPECT_EQ(std::pair(units.x(du), units.y(du)), std::pair(x, y)) << du;
}

TEST(DisplayText, KeepsUtf8AndEscapesWhatWouldBreakOrVanish) {
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xc3\xa9 \xf0\x9f\x93\x81", "caf\xc3\xa9 \xf0\x9f\x93\x81"},
      {"a\nb", "a\\x0ab"},
      {std::string("\0\x7f", 2), "\\x00\\x7f"},
      {"\xff\xc0\xaf", "\\xff\\xc0\\xaf"},  // not UTF-8; overlong "/"
      {"\xe2\x82", "\\xe2\\x82"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"}};  // cut short; a surrogate
  for (const auto& [bytes, shown] : cases)
    EXPECT_EQ(ui::qt::display_text(bytes).toUtf8().toStdString(), shown);
}

TEST(GuiPlatform, IsChosenFromTheDisplayVariablesOrRefusedWithAReason) {
  struct Case {
    std::map<std::string, std::string> vars;
    std::vector<std::string> installed;
    std::string x_problem;  // what the X probe answers
    std::string platform;   // "" when refused
    std::string reason;     // a part of the message
  };
  const Case cases[] = {
      {{}, {"xcb", "offscreen"}, "", "", "neither DISPLAY nor WAYLAND_DISPLAY"},
      {{{"QT_QPA_PLATFORM", "bogus"}}, {"xcb", "offscreen"}, "", "", "'bogus'"},
      {{{"DISPLAY", ":9"}}, {"xcb"}, "cannot connect to the X display :9", "", ":9"},
      {{{"DISPLAY", ":0"}}, {"offscreen"}, "", "", "xcb"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {"xcb"}, "", "", "Wayland"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {"wayland", "xcb"}, "", "wayland", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platform + c.reason);
    const app::DisplayEnvironment env{
        [&](const char* name) { return c.vars.contains(name) ? c.vars.at(name).c_str() : nullptr; },
        [&](const std::string& name) { return std::ranges::find(c.installed, name) != c.installed.end(); },
        [&](const std::string&) { return c.x_problem; }};
    std::string problem;
    EXPECT_EQ(app::choose_platform(env, problem), c.platform);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    EXPECT_TRUE(c.platform.empty() || problem.empty()) << problem;
  }
}

constexpr int kList = 10, kTree = 13, kButton = 14, kLabel = 15;

const r::DialogTemplate kLayout{9100,
                                "Controls",
                                220,
                                160,
                                {{K::list_box, kList, "", {5, 5, 80, 40}, r::LIST_MULTIPLE_SEL},
                                 {K::static_text, kLabel, "A label", {70, 52, 60, 8}},
                                 {K::tree_view, kTree, "", {5, 65, 160, 80}, r::TREE_HAS_LINES},
                                 {K::button, kButton, "Press", {175, 5, 40, 14}},
                                 {K::default_button, r::ID_OK, "OK", {175, 25, 40, 14}}}};

class Windows : public qttest::QtWindows {};

TEST_F(Windows, ControlsStandWhereTheLayoutPutsThemAndATreeFollowsItsModel) {
  ui::Dialog window(kLayout);
  testdialog::Automation automation;
  automation.on(9100, [&](ui::Dialog&) {
    ui::qt::WindowView* view = backend().view_of(window);
    const ui::qt::DialogUnits& units = backend().units();
    EXPECT_GT(units.base_x, 0);
    EXPECT_TRUE(view->isWindow() && view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Controls");
    EXPECT_EQ(view->size(), QSize(units.x(220), units.y(160)));
    for (const auto& control : window.controls()) {
      QWidget* shown = backend().widget_of(*control);
      ASSERT_NE(shown, nullptr) << control->id();
      EXPECT_EQ(shown->parentWidget(), view);
      EXPECT_EQ(shown->geometry(), units.rect(control->rect())) << control->id();
    }
    EXPECT_TRUE(widget<QPushButton>(window.button(r::ID_OK))->isDefault());
    EXPECT_FALSE(widget<QPushButton>(window.button(kButton))->isDefault());
    // A control that the window adds once it runs gets its widget too.
    EXPECT_EQ(widget<QLabel>(&window.create_control(K::static_text, 77, {10, 148, 50, 8}, "late"))->text(),
              "late");
    // The tree follows its model across appends and rebuilds, and the model hears of the user's
    // expansion.
    ui::TreeView& tree = *window.tree(kTree);
    auto* shown = widget<ui::qt::TreeWidget>(&tree);
    ui::TreeNode* root = tree.insert(nullptr, "root");
    ui::TreeNode* a = tree.insert(root, "a");
    tree.insert(a, "a1");
    tree.expand(root);
    backend().flush();  // insertions reach the widget once the event loop runs
    QTreeWidgetItem* root_item = shown->topLevelItem(0);
    EXPECT_EQ(root_item->child(0)->child(0)->text(0), "a1");
    EXPECT_TRUE(root_item->isExpanded());
    root_item->child(0)->setExpanded(true);  // the user opens "a": the model hears of it
    EXPECT_TRUE(a->expanded());
    tree.insert(root, "b");
    backend().flush();
    EXPECT_EQ(shown->topLevelItem(0), root_item) << "items an append leaves alone are kept";
    EXPECT_EQ(root_item->childCount(), 2);
    // A rebuild replaces everything, also where new nodes reuse freed addresses; until the widget has
    // caught up, what the user does with a stale item is dropped.
    tree.delete_all();
    ui::TreeNode* child = tree.insert(tree.insert(nullptr, "again"), "child");
    shown->topLevelItem(0)->child(0)->setExpanded(true);
    EXPECT_FALSE(child->expanded());
    backend().flush();
    EXPECT_EQ(shown->topLevelItem(0)->text(0), "again");
    EXPECT_EQ(shown->item_for(child), shown->topLevelItem(0)->child(0));
    EXPECT_EQ(shown->item_for(child)->childCount(), 0);
    // A very deep tree is mirrored without exhausting the stack.
    ui::TreeNode* node = nullptr;
    for (int depth = 0; depth < 20000; ++depth) node = tree.insert(node, "level");
    backend().flush();
    int depth = 0;
    for (QTreeWidgetItem* at = shown->item_for(node); at && at->parent(); at = at->parent()) ++depth;
    EXPECT_EQ(depth, 19999);
    window.end_dialog(ui::RESULT_OK);
  });
  window.run_modal();
  EXPECT_EQ(backend().view_of(window), nullptr) << "the view goes with the window's end";
}

}  // namespace
