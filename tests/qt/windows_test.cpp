// The Qt backend on windows of its own layout: where the controls stand, how clicks and keys reach the
// models, how trees follow their models, and how modal loops, posted work, timers, quit requests and
// dispatching waits behave when Qt runs the loop.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "tests/qt/qt_fixture.h"
#include "ui/qt/icons.h"

namespace {

using namespace std::chrono_literals;
using qttest::click;
using qttest::click_row;
using qttest::run_window;
namespace r = resources;
using K = resources::ControlKind;

constexpr int kMultiList = 10, kExtendedList = 11, kEdit = 12, kTree = 13, kButton = 14, kLabel = 15,
              kBar = 16;

const r::DialogTemplate& layout() {
  static const r::DialogTemplate controls{
      9100,
      "Controls",
      220,
      160,
      {
          {K::list_box, kMultiList, "", {5, 5, 80, 40}, r::LIST_MULTIPLE_SEL},
          {K::list_box, kExtendedList, "", {90, 5, 80, 40}, r::LIST_EXTENDED_SEL},
          {K::edit, kEdit, "", {5, 50, 60, 12}},
          {K::static_text, kLabel, "A label", {70, 52, 60, 8}},
          {K::tree_view, kTree, "", {5, 65, 160, 80}, r::TREE_HAS_LINES},
          {K::button, kButton, "Press", {175, 5, 40, 14}},
          {K::progress_bar, kBar, "", {175, 130, 40, 10}},
          {K::default_button, r::ID_OK, "OK", {175, 25, 40, 14}},
      }};
  return controls;
}

class TimerWindow : public ui::Dialog {
 public:
  TimerWindow() : ui::Dialog(layout()) {}
  std::atomic<int> ticks{0};

 protected:
  void on_timer(uint32_t) override { ++ticks; }
};

class Windows : public qttest::QtWindows {
 protected:
  void fill_lists(ui::Dialog& window) {
    for (const char* text : {"zero", "one", "two", "three", "four"}) {
      window.list_box(kMultiList)->insert_string(-1, text);
      window.list_box(kExtendedList)->insert_string(-1, text);
    }
  }
};

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
    window.list_box(kMultiList)->insert_string(-1, "still works");
    EXPECT_EQ(window.list_box(kMultiList)->count(), 1);
  });
  EXPECT_EQ(window.result(), ui::RESULT_OK);
}

// ---- input

TEST_F(Windows, ButtonClicksReachTheWindowOnlyWhileTheButtonTakesInput) {
  ui::Dialog window(layout());
  int presses = 0;
  window.on_command(kButton, [&] { ++presses; });
  run_window(window, [&] {
    auto* button = widget<QPushButton>(window.button(kButton));
    click(button);
    EXPECT_EQ(presses, 1);
    // A window that takes no input (a modal window over it) refuses the click, whatever Qt shows.
    window.enable(false);
    click(button);
    EXPECT_EQ(presses, 1);
    window.enable(true);
    window.button(kButton)->enable(false);
    click(button);
    EXPECT_EQ(presses, 1);
  });
}

TEST_F(Windows, TypingFillsTheEditModelAndTheModelFillsTheEdit) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    auto* line = widget<QLineEdit>(window.edit(kEdit));
    qttest::type_text(line, "0x1a2");
    EXPECT_EQ(window.edit(kEdit)->text(), "0x1a2");
    QTest::keyClick(line, Qt::Key_Backspace);
    EXPECT_EQ(window.edit(kEdit)->text(), "0x1a");
    window.edit(kEdit)->set_text("4096");
    EXPECT_EQ(line->text(), "4096");
  });
}

TEST_F(Windows, AMultipleSelectionListTogglesEachClickedEntry) {
  ui::Dialog window(layout());
  fill_lists(window);
  int changes = 0;
  window.on_notify(kMultiList, ui::Notify::selection_changed, [&] { ++changes; });
  run_window(window, [&] {
    ui::ListBox& list = *window.list_box(kMultiList);
    auto* shown = widget<QListWidget>(&list);
    ASSERT_EQ(shown->count(), 5);
    click_row(shown, 0);
    click_row(shown, 2);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{0, 2}));
    click_row(shown, 0);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{2}));
    EXPECT_EQ(changes, 3);
    // Qt shows the model's selection, and only that.
    for (int i = 0; i < shown->count(); ++i) EXPECT_EQ(shown->item(i)->isSelected(), i == 2) << i;
    // The keyboard: the caret moves without selecting, Space toggles.
    shown->setFocus();
    QTest::keyClick(shown, Qt::Key_Down);  // from the last entry clicked, 0
    EXPECT_EQ(list.selected_items(), (std::vector<int>{2}));
    QTest::keyClick(shown, Qt::Key_Space);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{1, 2}));
  });
}

TEST_F(Windows, AnExtendedSelectionListTakesCtrlAndShiftAndDoubleClicks) {
  ui::Dialog window(layout());
  fill_lists(window);
  int double_clicks = 0;
  window.on_notify(kExtendedList, ui::Notify::double_clicked, [&] { ++double_clicks; });
  run_window(window, [&] {
    ui::ListBox& list = *window.list_box(kExtendedList);
    auto* shown = widget<QListWidget>(&list);
    click_row(shown, 1);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{1}));
    click_row(shown, 3, Qt::ControlModifier);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{1, 3}));
    click_row(shown, 4, Qt::ShiftModifier);  // from the last anchor, 3
    EXPECT_EQ(list.selected_items(), (std::vector<int>{3, 4}));
    click_row(shown, 0);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{0}));
    qttest::double_click_row(shown, 2);
    EXPECT_EQ(double_clicks, 1);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{2}));
    // While the window takes no input, no kind of click changes anything.
    window.enable(false);
    click_row(shown, 0);
    click_row(shown, 3, Qt::ControlModifier);
    click_row(shown, 4, Qt::ShiftModifier);
    qttest::double_click_row(shown, 1);
    EXPECT_EQ(list.selected_items(), (std::vector<int>{2}));
    EXPECT_EQ(double_clicks, 1);
    window.enable(true);
    // Entries the program changes show at once, the selection with them.
    list.delete_string(0);
    list.insert_string(-1, "five");
    EXPECT_EQ(shown_texts(shown), (std::vector<std::string>{"one", "two", "three", "four", "five"}));
    EXPECT_TRUE(shown->item(1)->isSelected());
    list.reset();
    EXPECT_EQ(shown->count(), 0);
  });
}

TEST_F(Windows, EnterPressesTheDefaultButtonEscapeAndTheCloseBoxCancel) {
  {
    ui::Dialog window(layout());
    const int result = run_window(window, [&] {
      QTest::keyClick(backend().view_of(window), Qt::Key_Return);
      EXPECT_TRUE(window.ended());
    });
    EXPECT_EQ(result, ui::RESULT_OK);
  }
  {
    ui::Dialog window(layout());
    const int result =
        run_window(window, [&] { QTest::keyClick(backend().view_of(window), Qt::Key_Escape); });
    EXPECT_EQ(result, ui::RESULT_CANCEL);
  }
  {
    ui::Dialog window(layout());
    int cancels = 0;
    // A window that refuses to close stays open when the close box is pressed.
    window.on_command(r::ID_CANCEL, [&] { ++cancels; });
    const int result = run_window(window, [&] {
      backend().view_of(window)->close();
      EXPECT_EQ(cancels, 1);
      EXPECT_FALSE(window.ended());
      EXPECT_TRUE(backend().view_of(window)->isVisible());
    });
    EXPECT_EQ(result, ui::RESULT_OK);
  }
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

TEST_F(Windows, TreeItemsShowTheImagesOfTheModelsImageList) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::TreeView& tree = *window.tree(kTree);
    auto* shown = widget<ui::qt::TreeWidget>(&tree);
    const resources::Icon* closed = resources::find_icon(r::ICON_CLOSED_FOLDER);
    const resources::Icon* open = resources::find_icon(r::ICON_OPEN_FOLDER);
    const resources::Icon* drum = resources::find_icon(r::ICON_DATA_DRUM);
    ui::TreeNode* folder = tree.insert(nullptr, "folder", 0, 1);
    tree.insert(folder, "file", 2, 2);
    backend().flush();
    // Before the list is set, nodes have no picture.
    EXPECT_TRUE(shown->topLevelItem(0)->icon(0).isNull());
    ui::ImageList images(16, 16, 3, 10);
    images.add(closed);
    images.add(open);
    images.add(drum);
    tree.set_image_list(images);
    auto image_of = [](const QTreeWidgetItem* item, QIcon::Mode mode) {
      return item->icon(0).pixmap(QSize(16, 16), mode).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    QTreeWidgetItem* folder_item = shown->topLevelItem(0);
    EXPECT_EQ(image_of(folder_item, QIcon::Normal), ui::qt::icon_image(*closed));
    EXPECT_EQ(image_of(folder_item, QIcon::Selected), ui::qt::icon_image(*open));
    EXPECT_EQ(image_of(folder_item->child(0), QIcon::Normal), ui::qt::icon_image(*drum));
    EXPECT_EQ(image_of(folder_item->child(0), QIcon::Selected), ui::qt::icon_image(*drum));
    EXPECT_EQ(shown->iconSize(), QSize(16, 16));
  });
}

TEST_F(Windows, TreeLinesAndExpandButtonsAreDrawnAsTheTreesStyleAsks) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::TreeView& tree = *window.tree(kTree);  // the layout gives it lines only
    auto* shown = widget<ui::qt::TreeWidget>(&tree);
    ui::TreeNode* root = tree.insert(nullptr, "root");
    tree.insert(root, "leaf");
    ui::TreeNode* branch = tree.insert(root, "branch");
    tree.insert(branch, "inner");
    tree.expand(root);
    backend().flush();
    QTreeWidgetItem* leaf_item = shown->topLevelItem(0)->child(0);
    QTreeWidgetItem* branch_item = shown->topLevelItem(0)->child(1);
    // The dark pixels in the column left of an item, where its line and button go.
    auto marks = [&](QTreeWidgetItem* item) {
      const QImage image = shown->viewport()->grab().toImage();
      const QRect text = shown->visualItemRect(item);
      const QRgb dark = shown->palette().color(QPalette::Dark).rgb();
      int count = 0;
      for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = std::max(0, text.left() - shown->indentation()); x < text.left(); ++x)
          if (image.pixel(x, y) == dark) ++count;
      return count;
    };
    EXPECT_GT(marks(leaf_item), 0);
    tree.remove_style(r::TREE_HAS_LINES);
    EXPECT_EQ(marks(leaf_item), 0);
    EXPECT_EQ(marks(branch_item), 0);
    // Buttons only: a box beside the node that has children, nothing beside the leaf.
    tree.add_style(r::TREE_HAS_BUTTONS);
    EXPECT_EQ(marks(leaf_item), 0);
    EXPECT_GT(marks(branch_item), 0);
    EXPECT_FALSE(shown->rootIsDecorated());
    tree.add_style(r::TREE_LINES_AT_ROOT);
    EXPECT_TRUE(shown->rootIsDecorated());
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

// ---- loops, posted work, timers, quit requests and dispatching waits

TEST_F(Windows, PostedWorkAndTimersRunInTheModalLoop) {
  TimerWindow window;
  std::atomic<int> done{0};
  std::thread poster;
  qttest::Waits waits;
  run_window(
      window,
      [&] {
        window.set_timer(7, 5);
        poster = std::thread([&] {
          for (int i = 0; i < 3; ++i) {
            window.post([&] { ++done; });
            std::this_thread::sleep_for(5ms);
          }
        });
        // The hook returns; the modal loop runs the work and the timer and then ends the window.
        waits.when([&] { return done == 3 && window.ticks >= 5; }, [&] { window.end_dialog(42); }, 10s,
                   [&] { window.end_dialog(-1); });
      },
      false);
  poster.join();
  EXPECT_EQ(window.result(), 42);
  EXPECT_EQ(done, 3);
  EXPECT_GE(window.ticks, 5);
}

TEST_F(Windows, ATimerSetByAClickRunsWithoutAnyOtherWork) {
  TimerWindow window;
  window.on_command(kButton, [&] { window.set_timer(9, 5); });
  qttest::Waits waits;
  run_window(
      window,
      [&] {
        // The click comes from inside the running loop, and nothing is posted after it.
        waits.when([] { return true; }, [&] { click(widget<QPushButton>(window.button(kButton))); }, 1s, {});
        waits.when([&] { return window.ticks >= 3; }, [&] { window.end_dialog(5); }, 10s,
                   [&] { window.end_dialog(-1); });
      },
      false);
  EXPECT_EQ(window.result(), 5);
}

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

TEST_F(Windows, ADispatchingWaitRunsPostedWorkAndKeepsQtEventsFlowing) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::Event event(false, false);
    bool work_ran = false;
    int qt_timer_fired = 0;
    QTimer::singleShot(5, [&] { ++qt_timer_fired; });
    std::thread worker([&] {
      std::this_thread::sleep_for(60ms);
      window.post([&] { work_ran = true; });
      std::this_thread::sleep_for(20ms);
      event.set();
    });
    ui::Waitable* handles[] = {&event};
    EXPECT_EQ(ui::wait_pumping_messages(handles), 0u);
    worker.join();
    EXPECT_TRUE(work_ran);
    EXPECT_EQ(qt_timer_fired, 1);
  });
}

TEST_F(Windows, AQuitRequestEndsADispatchingWaitWithOne) {
  ui::Dialog window(layout());
  run_window(window, [&] {
    ui::Event never(true, false);
    std::thread quitter([&] {
      std::this_thread::sleep_for(30ms);
      window.post_quit();
    });
    ui::Waitable* handles[] = {&never};
    EXPECT_EQ(ui::wait_pumping_messages(handles), 1u);
    quitter.join();
  });
  // The wait consumed the request: nothing is left for the window's loop.
  EXPECT_EQ(window.result(), ui::RESULT_OK);
}

// ---- message boxes and the folder chooser

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

TEST_F(Windows, TheFolderChooserAsksWithAFileDialogOrAnswersForAutomation) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.path().toStdString();
  // The user picks a folder.
  QString title;
  qttest::Waits waits;
  waits.when([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
             [&] {
               title = QApplication::activeModalWidget()->windowTitle();
               qttest::answer_folder_chooser(dir.path());
             },
             10s,
             [] {
               if (QWidget* w = QApplication::activeModalWidget()) w->close();
             });
  EXPECT_EQ(ui::choose_folder(nullptr, "Save into"), path);
  EXPECT_EQ(title, "Save into");
  // The user cancels.
  waits.when([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
             [] { qobject_cast<QFileDialog*>(QApplication::activeModalWidget())->reject(); }, 10s,
             [] {
               if (QWidget* w = QApplication::activeModalWidget()) w->close();
             });
  EXPECT_EQ(ui::choose_folder(nullptr, "Save into"), "");
  // Automation answers without a dialog.
  backend().set_folder_answer("/somewhere/else");
  EXPECT_EQ(ui::choose_folder(nullptr, "Save into"), "/somewhere/else");
}

}  // namespace
