// The control models: trees, list boxes, the tab strip, buttons, the progress bar, the image list.
#include <gtest/gtest.h>

#include "tests/ui/test_windows.h"

namespace {

using namespace uitest;

constexpr int TREE = 10, LIST = 11, BUTTON = 12, TABS = 13, BAR = 14;

ui::Dialog make_window(uint32_t list_style = 0) {
  return ui::Dialog(layout(900, {{ControlKind::tree_view, TREE, "", {0, 0, 50, 50}},
                                 {ControlKind::list_box, LIST, "", {0, 0, 50, 50}, list_style},
                                 {ControlKind::button, BUTTON, "Go", {0, 0, 10, 10}},
                                 {ControlKind::tab_control, TABS, "", {0, 0, 90, 40}},
                                 {ControlKind::progress_bar, BAR, "", {0, 0, 10, 10}}}));
}

// ---- tree ---------------------------------------------------------------------------------------

TEST(TreeView, AppendsBehindSiblingsAndCountsEveryNode) {
  auto window = make_window();
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* root = tree.insert(nullptr, "root", 0, 1);
  ui::TreeNode* b = tree.insert(root, "b");
  ui::TreeNode* a = tree.insert(root, "a");
  tree.insert(b, "b1", 2, 2);
  tree.insert(nullptr, "second root");

  ASSERT_EQ(tree.top_level().size(), 2u);
  EXPECT_EQ(tree.top_level()[0].get(), root);
  ASSERT_EQ(root->child_count(), 2u);
  EXPECT_EQ(root->child(0), b);  // order of adding, never sorted
  EXPECT_EQ(root->child(1), a);
  EXPECT_EQ(root->child(2), nullptr);
  EXPECT_EQ(b->child(0)->parent(), b);
  EXPECT_EQ(root->parent(), nullptr);
  EXPECT_EQ(b->child(0)->image(), 2);
  EXPECT_EQ(root->selected_image(), 1);
  EXPECT_EQ(tree.node_count(), 5u);

  tree.delete_all();
  EXPECT_TRUE(tree.top_level().empty());
  EXPECT_EQ(tree.node_count(), 0u);
}

TEST(TreeView, FindChildComparesWholeTextsOfDirectChildrenFirstToLast) {
  auto window = make_window();
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* root = tree.insert(nullptr, "root");
  ui::TreeNode* first = tree.insert(root, "module id 0x1 (1)");
  tree.insert(first, "deep");
  ui::TreeNode* twin = tree.insert(root, "module id 0x1 (1)");

  EXPECT_EQ(tree.find_child(root, "module id 0x1 (1)"), first);
  EXPECT_NE(tree.find_child(root, "module id 0x1 (1)"), twin);
  EXPECT_EQ(tree.find_child(root, "module id 0x1"), nullptr);       // a prefix is not the text
  EXPECT_EQ(tree.find_child(root, "module id 0x1 (1) "), nullptr);  // nor a longer one
  EXPECT_EQ(tree.find_child(root, "deep"), nullptr);                // grandchildren are not looked at
  EXPECT_EQ(tree.find_child(nullptr, "root"), root);                // null parent: the top level
  EXPECT_EQ(tree.find_child(first, "deep")->text(), "deep");
}

TEST(TreeView, TextsKeepEmbeddedZeroBytesAndExpandOnlyTouchesTheNode) {
  auto window = make_window();
  ui::TreeView& tree = *window.tree(TREE);
  const std::string with_zero("a\0b", 3);
  ui::TreeNode* node = tree.insert(nullptr, with_zero);
  ui::TreeNode* child = tree.insert(node, "child");
  EXPECT_EQ(node->text().size(), 3u);
  EXPECT_EQ(tree.find_child(nullptr, with_zero), node);
  EXPECT_EQ(tree.find_child(nullptr, "a"), nullptr);

  EXPECT_FALSE(node->expanded());
  EXPECT_TRUE(tree.expand(node));
  EXPECT_TRUE(node->expanded());
  EXPECT_FALSE(child->expanded());
  EXPECT_TRUE(tree.expand(node, false));
  EXPECT_FALSE(node->expanded());
  EXPECT_FALSE(tree.expand(nullptr));
}

TEST(TreeView, DeletesAVeryDeepTreeWithoutRecursion) {
  auto window = make_window();
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* node = nullptr;
  for (int i = 0; i < 200000; ++i) node = tree.insert(node, "d");
  EXPECT_EQ(tree.node_count(), 200000u);
  tree.delete_all();
  EXPECT_EQ(tree.node_count(), 0u);
  // The window's end takes a deep tree apart the same way.
  for (int i = 0; i < 200000; ++i) node = tree.insert(i ? node : nullptr, "d");
}

TEST(ImageList, KeepsTheIconsInOrderAndGrowsItsRoom) {
  ui::ImageList images(16, 16, 3, 10);
  EXPECT_EQ(images.capacity(), 3);
  EXPECT_EQ(images.add(resources::find_icon(resources::ICON_CLOSED_FOLDER)), 0);
  EXPECT_EQ(images.add(resources::find_icon(resources::ICON_OPEN_FOLDER)), 1);
  EXPECT_EQ(images.add(resources::find_icon(resources::ICON_DATA_DRUM)), 2);
  EXPECT_EQ(images.capacity(), 3);
  EXPECT_EQ(images.add(resources::find_icon(resources::ICON_DATA_DRUM)), 3);
  EXPECT_EQ(images.capacity(), 13);
  EXPECT_EQ(images.add(nullptr), -1);
  EXPECT_EQ(images.image(0)->id, resources::ICON_CLOSED_FOLDER);
  EXPECT_EQ(images.image(4), nullptr);

  ui::ImageList other_size(32, 32);
  EXPECT_EQ(other_size.add(resources::find_icon(resources::ICON_DATA_DRUM)), -1);

  auto window = make_window();
  window.tree(TREE)->set_image_list(images);
  EXPECT_EQ(window.tree(TREE)->image_list().count(), 4);
  EXPECT_EQ(window.tree(TREE)->image_list().image(1)->id, resources::ICON_OPEN_FOLDER);
}

// ---- list box -----------------------------------------------------------------------------------

TEST(ListBox, SortedStyleSortsAddStringButNotInsertAtTheEnd) {
  auto window = make_window(resources::LIST_SORTED | resources::LIST_MULTIPLE_SEL);
  ui::ListBox& list = *window.list_box(LIST);
  EXPECT_EQ(list.add_string("b"), 0);
  EXPECT_EQ(list.add_string("C"), 1);  // letters compare without case
  EXPECT_EQ(list.add_string("a"), 0);
  EXPECT_EQ(list.add_string("b"), 2);  // equal texts: in order of adding
  EXPECT_EQ(list.insert_string(-1, "A0"), 4);
  EXPECT_EQ(list.insert_string(1, "zz"), 1);
  EXPECT_EQ(list.insert_string(7, "beyond"), -1);
  const std::vector<std::string> want = {"a", "zz", "b", "b", "C", "A0"};
  ASSERT_EQ(list.count(), 6);
  for (int i = 0; i < list.count(); ++i) EXPECT_EQ(list.text_at(i), want[static_cast<size_t>(i)]) << i;
  EXPECT_EQ(list.text_at(6), "");
  EXPECT_EQ(list.find_exact("b"), 2);
  EXPECT_EQ(list.find_exact("b", 3), 3);
  EXPECT_EQ(list.find_exact("B"), -1);
}

TEST(ListBox, UnsortedStyleAppends) {
  auto window = make_window(resources::LIST_EXTENDED_SEL);
  ui::ListBox& list = *window.list_box(LIST);
  list.add_string("b");
  list.add_string("a");
  EXPECT_EQ(list.text_at(0), "b");
  EXPECT_EQ(list.text_at(1), "a");
}

struct SelectionCase {
  uint32_t style;
  ui::ListBox::SelectionMode mode;
  std::vector<int> clicks;
  std::vector<int> selected_after;
};

class ListBoxClicks : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ListBoxClicks, UserClicksFollowTheSelectionMode) {
  const auto& c = GetParam();
  auto window = make_window(c.style);
  ui::ListBox& list = *window.list_box(LIST);
  for (const char* t : {"e0", "e1", "e2", "e3"}) list.insert_string(-1, t);
  int reports = 0;
  window.on_notify(LIST, ui::Notify::selection_changed, [&] { ++reports; });
  EXPECT_EQ(list.selection_mode(), c.mode);
  for (int pos : c.clicks) EXPECT_TRUE(list.click(pos));
  EXPECT_EQ(list.selected_items(), c.selected_after);
  EXPECT_EQ(list.selected_count(), static_cast<int>(c.selected_after.size()));
  EXPECT_EQ(reports, static_cast<int>(c.clicks.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ListBoxClicks,
    ::testing::Values(
        SelectionCase{0, ui::ListBox::SelectionMode::single, {2, 1}, {1}},
        SelectionCase{
            resources::LIST_MULTIPLE_SEL, ui::ListBox::SelectionMode::multiple, {3, 1, 2, 3}, {1, 2}},
        SelectionCase{resources::LIST_EXTENDED_SEL, ui::ListBox::SelectionMode::extended, {3, 0}, {0}}));

TEST(ListBox, ProgramSelectionBelongsToItsModeAndRaisesNoReport) {
  auto single_window = make_window(0);
  ui::ListBox& single = *single_window.list_box(LIST);
  int reports = 0;
  single_window.on_notify(LIST, ui::Notify::selection_changed, [&] { ++reports; });
  for (const char* t : {"a", "b", "c"}) single.add_string(t);
  EXPECT_EQ(single.cur_sel(), -1);
  EXPECT_TRUE(single.set_cur_sel(2));
  EXPECT_EQ(single.cur_sel(), 2);
  EXPECT_FALSE(single.set_cur_sel(3));
  EXPECT_EQ(single.cur_sel(), 2);
  EXPECT_FALSE(single.set_sel(0, true));  // a multi-selection call on a single-selection list
  EXPECT_TRUE(single.set_cur_sel(-1));
  EXPECT_EQ(single.cur_sel(), -1);
  EXPECT_EQ(reports, 0);

  auto multi_window = make_window(resources::LIST_EXTENDED_SEL);
  ui::ListBox& multi = *multi_window.list_box(LIST);
  for (const char* t : {"a", "b", "c", "d"}) multi.add_string(t);
  EXPECT_FALSE(multi.set_cur_sel(1));
  EXPECT_TRUE(multi.set_sel(-1, true));
  EXPECT_EQ(multi.selected_items(), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(multi.set_sel(2, false));
  EXPECT_EQ(multi.selected_items(), (std::vector<int>{0, 1, 3}));
  EXPECT_FALSE(multi.set_sel(4, true));
  EXPECT_EQ(multi.cur_sel(), -1);
  multi.clear_selection();
  EXPECT_EQ(multi.selected_count(), 0);
}

TEST(ListBox, DeletingAnEntryShiftsTheLaterOnesWithTheirSelection) {
  auto window = make_window(resources::LIST_MULTIPLE_SEL);
  ui::ListBox& list = *window.list_box(LIST);
  for (const char* t : {"e0", "e1", "e2", "e3"}) list.insert_string(-1, t);
  list.set_sel(1, true);
  list.set_sel(3, true);
  // The capture list's Remove works from the highest selected position down.
  auto selected = list.selected_items();
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) EXPECT_TRUE(list.delete_string(*it));
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.text_at(0), "e0");
  EXPECT_EQ(list.text_at(1), "e2");
  EXPECT_EQ(list.selected_count(), 0);

  list.set_sel(1, true);
  EXPECT_TRUE(list.delete_string(0));
  EXPECT_TRUE(list.is_selected(0));  // "e2" moved up and stayed selected
  EXPECT_FALSE(list.delete_string(1));
  EXPECT_FALSE(list.delete_string(-1));
  list.reset();
  EXPECT_EQ(list.count(), 0);
}

TEST(ListBox, DoubleClickSelectsThenReportsAndADisabledListRefuses) {
  auto window = make_window(resources::LIST_EXTENDED_SEL);
  ui::ListBox& list = *window.list_box(LIST);
  list.add_string("a");
  list.add_string("b");
  std::vector<std::string> reports;
  window.on_notify(LIST, ui::Notify::selection_changed, [&] { reports.push_back("sel"); });
  window.on_notify(LIST, ui::Notify::double_clicked,
                   [&] { reports.push_back("dbl " + std::to_string(list.selected_items().at(0))); });
  EXPECT_TRUE(list.double_click(1));
  EXPECT_EQ(reports, (std::vector<std::string>{"sel", "dbl 1"}));
  EXPECT_FALSE(list.click(5));

  list.enable(false);
  EXPECT_FALSE(list.click(0));
  EXPECT_EQ(list.selected_items(), (std::vector<int>{1}));
  list.enable(true);
  window.enable(false);  // a disabled window passes no input to its controls
  EXPECT_FALSE(list.double_click(0));
  EXPECT_EQ(reports.size(), 2u);
}

// ---- buttons ------------------------------------------------------------------------------------

TEST(Button, ClickRunsTheHandlerOnlyWhileEnabled) {
  auto window = make_window();
  int clicks = 0;
  window.on_command(BUTTON, [&] { ++clicks; });
  EXPECT_TRUE(window.button(BUTTON)->click());
  window.button(BUTTON)->enable(false);
  EXPECT_FALSE(window.button(BUTTON)->click());
  EXPECT_EQ(clicks, 1);
  window.on_command(BUTTON, [&] { clicks += 10; });  // a later registration replaces the first
  window.button(BUTTON)->enable(true);
  window.button(BUTTON)->click();
  EXPECT_EQ(clicks, 11);
}

// ---- tab strip ----------------------------------------------------------------------------------

TEST(TabControl, ShowsTheFirstPageAndRefusesDisabledTabs) {
  auto window = make_window();
  ui::TabControl& tabs = *window.tabs(TABS);
  ui::Dialog page0(layout(1)), page1(layout(2)), page2(layout(3));
  for (ui::Dialog* p : {&page0, &page1, &page2}) p->create(window, &tabs);
  EXPECT_EQ(tabs.cur_sel(), -1);
  EXPECT_EQ(tabs.row_count(), 0);

  EXPECT_EQ(tabs.insert_tab("Section", &page0), 0);
  EXPECT_EQ(tabs.insert_tab("Data Carousel", &page1, false), 1);
  EXPECT_EQ(tabs.insert_tab("Object Carousel", &page2), 2);
  EXPECT_EQ(tabs.row_count(), 1);
  EXPECT_EQ(tabs.cur_sel(), 0);
  EXPECT_TRUE(page0.visible());
  EXPECT_FALSE(page1.visible());
  EXPECT_FALSE(page2.visible());

  int moves = 0;
  window.on_notify(TABS, ui::Notify::selection_changed, [&] { ++moves; });
  EXPECT_TRUE(tabs.click(2));
  EXPECT_EQ(tabs.cur_sel(), 2);
  EXPECT_FALSE(page0.visible());
  EXPECT_TRUE(page2.visible());

  EXPECT_FALSE(tabs.click(1));  // disabled: the selection stays on the previous tab
  EXPECT_EQ(tabs.cur_sel(), 2);
  EXPECT_TRUE(page2.visible());
  EXPECT_FALSE(page1.visible());
  EXPECT_FALSE(tabs.select(3));
  EXPECT_FALSE(tabs.select(-1));
  EXPECT_TRUE(tabs.click(2));  // the same tab again is no move
  EXPECT_EQ(moves, 1);

  tabs.set_tab_enabled(1, true);
  EXPECT_TRUE(tabs.select(1));
  EXPECT_TRUE(page1.visible());
  EXPECT_FALSE(page2.visible());
  EXPECT_EQ(moves, 1);  // selecting by program raises no report
  EXPECT_EQ(tabs.tab_text(2), "Object Carousel");
  EXPECT_EQ(tabs.page(0), &page0);
  EXPECT_EQ(tabs.page(5), nullptr);
}

TEST(TabControl, APageThatGoesAwayLeavesItsTabEmpty) {
  auto window = make_window();
  ui::TabControl& tabs = *window.tabs(TABS);
  {
    ui::Dialog page(layout(1));
    page.create(window, &tabs);
    tabs.insert_tab("only", &page);
    EXPECT_EQ(window.children().size(), 1u);
  }
  EXPECT_EQ(tabs.page(0), nullptr);
  EXPECT_TRUE(window.children().empty());
  EXPECT_TRUE(tabs.select(0));
}

// ---- progress bar -------------------------------------------------------------------------------

TEST(ProgressBar, KeepsThePositionInsideTheRangeAndTracksMarquee) {
  auto window = make_window();
  ui::ProgressBar& bar = *window.progress(BAR);
  bar.set_range(0, 100);
  bar.set_pos(99);
  EXPECT_EQ(bar.pos(), 99);
  bar.set_pos(150);
  EXPECT_EQ(bar.pos(), 100);
  bar.set_pos(-3);
  EXPECT_EQ(bar.pos(), 0);
  bar.set_pos(40);
  bar.set_range(0, 20);
  EXPECT_EQ(bar.pos(), 20);

  bar.set_marquee(true, 40);
  EXPECT_TRUE(bar.marquee());
  EXPECT_EQ(bar.marquee_interval(), 40u);
  EXPECT_TRUE(bar.style() & resources::PROGRESS_MARQUEE);
  bar.set_marquee(false);
  EXPECT_FALSE(bar.style() & resources::PROGRESS_MARQUEE);
}

// ---- the view seam ------------------------------------------------------------------------------

TEST(ViewHook, EveryModelChangeReachesTheAttachedView) {
  struct Recorder : ui::ViewHook {
    std::vector<std::pair<int, ui::Change>> seen;
    void control_changed(ui::Control& c, ui::Change what) override { seen.emplace_back(c.id(), what); }
    void window_changed(ui::Dialog&, ui::Change what) override { seen.emplace_back(0, what); }
  } recorder;
  auto window = make_window(resources::LIST_MULTIPLE_SEL);
  window.set_view(&recorder);
  window.tree(TREE)->insert(nullptr, "n");
  window.list_box(LIST)->add_string("x");
  window.list_box(LIST)->set_sel(0, true);
  window.button(BUTTON)->set_text("Go");  // unchanged text: no report
  window.button(BUTTON)->set_text("Stop");
  window.progress(BAR)->set_pos(3);
  window.show(true);
  using C = ui::Change;
  const std::vector<std::pair<int, C>> want = {{TREE, C::content}, {LIST, C::content}, {LIST, C::selection},
                                               {BUTTON, C::text},  {BAR, C::value},    {0, C::visible}};
  EXPECT_EQ(recorder.seen, want);
  window.set_view(nullptr);
}

}  // namespace
