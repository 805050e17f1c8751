// The Qt backend on windows of its own layout: where the controls stand, how trees follow their
// models, and how modal loops and quit requests behave when Qt runs the loop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <thread>

#include "tests/qt/qt_fixture.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
using qttest::click_row;
using qttest::run_window;
namespace r = resources;
using K = resources::ControlKind;

constexpr int kList = 10, kTree = 13, kButton = 14, kLabel = 15,
              kBar = 16;

const r::DialogTemplate& layout() {
  static const r::DialogTemplate controls{
      9100,
      "Controls",
      220,
      160,
      {
          {K::list_box, kList, "", {5, 5, 80, 40}, r::LIST_MULTIPLE_SEL},
          {K::static_text, kLabel, "A label", {70, 52, 60, 8}},
          {K::tree_view, kTree, "", {5, 65, 160, 80}, r::TREE_HAS_LINES},
          {K::button, kButton, "Press", {175, 5, 40, 14}},
          {K::progress_bar, kBar, "", {175, 130, 40, 10}},
          {K::default_button, r::ID_OK, "OK", {175, 25, 40, 14}},
      }};
  return controls;
}

class Windows : public qttest::QtWindows {};

// ---- layout

TEST_F(Windows, ControlsStandWhereTheLayoutPutsThemInPixelsOfTheDialogFont) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::qt::WindowView* view = backend().view_of(window);
    ASSERT_NE(view, nullptr);
    const ui::qt::DialogUnits& units = backend().units();
    EXPECT_GT(units.base_x, 0);
    EXPECT_GT(units.base_y, 0);
    EXPECT_TRUE(view->isWindow());
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Controls");
    EXPECT_EQ(view->size(), QSize(units.x(220), units.y(160)));
    for (const auto& control : window.controls()) {
      SCOPED_TRACE(control->id());
      QWidget* widget = backend().widget_of(*control);
      ASSERT_NE(widget, nullptr);
      EXPECT_EQ(widget->parentWidget(), view);
      EXPECT_EQ(widget->geometry(), units.rect(control->rect()));
      EXPECT_EQ(widget->property("control_id").toInt(), control->id());
    }
    EXPECT_EQ(widget<QLabel>(window.control(kLabel))->text(), "A label");
    auto* ok = widget<QPushButton>(window.button(r::ID_OK));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_FALSE(widget<QPushButton>(window.button(kButton))->isDefault());
  });
  // The view goes with the window's end.
  EXPECT_EQ(backend().view_of(window), nullptr);
}

TEST_F(Windows, ChangesOfTheModelsShowInTheWidgets) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::Button* press = window.button(kButton);
    auto* press_widget = widget<QPushButton>(press);
    press->set_text("Again");
    press->enable(false);
    EXPECT_EQ(press_widget->text(), "Again");
    EXPECT_FALSE(press_widget->isEnabled());
    window.control(kLabel)->show(false);
    EXPECT_TRUE(widget<QLabel>(window.control(kLabel))->isHidden());
    window.control(kLabel)->set_rect({1, 2, 30, 8});
    EXPECT_EQ(widget<QLabel>(window.control(kLabel))->geometry(), backend().units().rect({1, 2, 30, 8}));
    window.set_caption("Renamed");
    EXPECT_EQ(backend().view_of(window)->windowTitle(), "Renamed");

    ui::ProgressBar* bar = window.progress(kBar);
    auto* bar_widget = widget<QProgressBar>(bar);
    bar->set_range(0, 100);
    bar->set_pos(42);
    EXPECT_EQ(bar_widget->maximum(), 100);
    EXPECT_EQ(bar_widget->value(), 42);
    bar->set_marquee(true, 40);
    EXPECT_EQ(bar_widget->minimum(), 0);
    EXPECT_EQ(bar_widget->maximum(), 0);  // Qt's busy bar
    bar->set_marquee(false);
    EXPECT_EQ(bar_widget->maximum(), 100);

    // A control that the window adds once it runs gets its widget too.
    ui::Control& added = window.create_control(K::static_text, 77, {10, 148, 50, 8}, "late");
    auto* late = widget<QLabel>(&added);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->text(), "late");
  });
}

TEST_F(Windows, ABackendThatGoesWhileWindowsAreOpenLeavesTheirModelsWorking) {
  auto own = std::make_unique<ui::qt::QtBackend>();
  ui::set_backend(own.get());
  ui::Dialog window(layout());
  ui::Dialog page(layout());
  run_window(window, [&] {
    page.create(window);
    ASSERT_NE(own->view_of(page), nullptr);
    EXPECT_EQ(own->view_of(page)->parentWidget(), own->view_of(window));
    // The window's view and its page's view (a child of it) go with the backend, each once.
    ui::set_backend(nullptr);
    own.reset();
    EXPECT_EQ(window.view(), nullptr);
    EXPECT_EQ(page.view(), nullptr);
    window.list_box(kList)->insert_string(-1, "still works");
    EXPECT_EQ(window.list_box(kList)->count(), 1);
  });
  EXPECT_EQ(window.result(), ui::RESULT_OK);
}

// ---- trees

TEST_F(Windows, ATreeFollowsItsModelAcrossRebuildsAndReportsUserExpansion) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::TreeView& tree = *window.tree(kTree);
    auto* shown = widget<ui::qt::TreeWidget>(&tree);
    ASSERT_NE(shown, nullptr);
    ui::TreeNode* root = tree.insert(nullptr, "root");
    ui::TreeNode* a = tree.insert(root, "a");
    tree.insert(a, "a1");
    tree.insert(root, "b");
    // Insertions reach the widget once the event loop runs.
    backend().flush();
    ASSERT_EQ(shown->topLevelItemCount(), 1);
    QTreeWidgetItem* root_item = shown->topLevelItem(0);
    EXPECT_EQ(root_item->text(0), "root");
    ASSERT_EQ(root_item->childCount(), 2);
    EXPECT_EQ(root_item->child(0)->child(0)->text(0), "a1");
    EXPECT_EQ(root_item->child(1)->text(0), "b");

    tree.expand(root);
    backend().flush();
    EXPECT_TRUE(root_item->isExpanded());
    // The user opens "a": the model hears of it.
    root_item->child(0)->setExpanded(true);
    EXPECT_TRUE(a->expanded());
    root_item->child(0)->setExpanded(false);
    EXPECT_FALSE(a->expanded());

    // Items unchanged by an append are kept (selection and scroll position with them).
    tree.insert(root, "c");
    backend().flush();
    EXPECT_EQ(shown->topLevelItem(0), root_item);
    EXPECT_EQ(root_item->childCount(), 3);

    // A rebuild replaces everything, also where new nodes reuse freed addresses.
    tree.delete_all();
    ui::TreeNode* again = tree.insert(nullptr, "again");
    ui::TreeNode* child = tree.insert(again, "child");
    // Until the widget has caught up, what the user does with a stale item is dropped.
    shown->topLevelItem(0)->child(0)->setExpanded(true);
    EXPECT_FALSE(again->expanded());
    EXPECT_FALSE(child->expanded());
    backend().flush();
    ASSERT_EQ(shown->topLevelItemCount(), 1);
    EXPECT_EQ(shown->topLevelItem(0)->text(0), "again");
    ASSERT_EQ(shown->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(shown->topLevelItem(0)->child(0)->text(0), "child");
    EXPECT_EQ(shown->topLevelItem(0)->child(0)->childCount(), 0);
    EXPECT_EQ(shown->item_for(child), shown->topLevelItem(0)->child(0));
  });
}

TEST_F(Windows, AVeryDeepTreeIsMirroredWithoutExhaustingTheStack) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::TreeView& tree = *window.tree(kTree);
    auto* shown = widget<ui::qt::TreeWidget>(&tree);
    ui::TreeNode* node = nullptr;
    for (int depth = 0; depth < 20000; ++depth) node = tree.insert(node, "level");
    backend().flush();
    QTreeWidgetItem* deepest = shown->item_for(node);
    ASSERT_NE(deepest, nullptr);
    int depth = 0;
    for (QTreeWidgetItem* at = deepest; at->parent(); at = at->parent()) ++depth;
    EXPECT_EQ(depth, 19999);
    tree.delete_all();
    backend().flush();
    EXPECT_EQ(shown->topLevelItemCount(), 0);
  });
}

// ---- loops and quit requests

TEST_F(Windows, AQuitRequestClosesTheInnermostWindowAndIsPassedOutwards) {
  ui::Dialog outer(layout());
  int inner_result = 0;
  std::thread quitter;
  qttest::Waits waits;
  run_window(
      outer,
      [&] {
        ui::Dialog inner(layout(), &outer);
        qttest::Waits inner_waits;
        inner_result = run_window(
            inner,
            [&] {
              quitter = std::thread([&] { inner.post_quit(); });
              // Nothing but the quit request ends the window, unless it never comes.
              inner_waits.when([] { return false; }, [] {}, 10s, [&] { inner.end_dialog(-1); });
            },
            false);
        // The request is put back for the loop around: the outer window closes as well.
        waits.when([] { return false; }, [] {}, 10s, [&] { outer.end_dialog(-1); });
      },
      false);
  quitter.join();
  EXPECT_EQ(inner_result, ui::RESULT_CANCEL);
  EXPECT_EQ(outer.result(), ui::RESULT_CANCEL);
  // And once more outside every window.
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::quit);
}

// ---- message boxes

TEST_F(Windows, MessageBoxesShowTextCaptionIconAndAnswerTheButtonPressed) {
  struct Case {
    uint32_t type;
    QMessageBox::StandardButton press;
    QMessageBox::Icon icon;
    int result;
  };
  const Case cases[] = {
      {ui::BOX_OK, QMessageBox::Ok, QMessageBox::NoIcon, ui::RESULT_OK},
      {ui::BOX_OK | ui::BOX_ICON_ERROR, QMessageBox::Ok, QMessageBox::Critical, ui::RESULT_OK},
      {ui::BOX_OK_CANCEL | ui::BOX_ICON_WARNING, QMessageBox::Cancel, QMessageBox::Warning,
       ui::RESULT_CANCEL},
      {ui::BOX_OK_CANCEL, QMessageBox::Ok, QMessageBox::NoIcon, ui::RESULT_OK},
      {ui::BOX_YES_NO | ui::BOX_ICON_INFORMATION, QMessageBox::Yes, QMessageBox::Information, ui::RESULT_YES},
      {ui::BOX_YES_NO, QMessageBox::No, QMessageBox::NoIcon, ui::RESULT_NO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    QString seen_text, seen_caption;
    QMessageBox::Icon seen_icon = QMessageBox::NoIcon;
    qttest::Waits waits;
    waits.when([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
               [&] {
                 auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                 seen_text = box->text();
                 seen_caption = box->windowTitle();
                 seen_icon = box->icon();
                 if (QAbstractButton* button = box->button(c.press)) button->click();
               },
               10s,
               [] {
                 if (QWidget* w = QApplication::activeModalWidget()) w->close();
               });
    EXPECT_EQ(ui::message_box(nullptr, "OrvexFltMgr is NULL", "DSMCC", c.type), c.result);
    EXPECT_EQ(seen_text, "OrvexFltMgr is NULL");
    EXPECT_EQ(seen_caption, "DSMCC");
    EXPECT_EQ(seen_icon, c.icon);
  }
  ASSERT_EQ(backend().shown_message_boxes().size(), std::size(cases));
  EXPECT_EQ(backend().shown_message_boxes().back().result, ui::RESULT_NO);
}

}  // namespace
