// The control models: trees, list boxes, the tab strip and the progress bar.
#include <gtest/gtest.h>

#include "tests/ui/test_windows.h"

namespace {

using namespace uitest;

constexpr int TREE = 10, LIST = 11, TABS = 13, BAR = 14;

ui::Dialog make_window(uint32_t list_style = 0) {
  return ui::Dialog(layout(900, {{ControlKind::tree_view, TREE, "", {0, 0, 50, 50}},
                                 {ControlKind::list_box, LIST, "", {0, 0, 50, 50}, list_style},
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

}  // namespace
