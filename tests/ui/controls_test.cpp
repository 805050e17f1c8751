// The controls' input, the tree and its rendering as text and JSON, and the dialogs the resource table
// builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/ui/test_windows.h"
#include "ui/headless/tree_render.h"

namespace {

using namespace uitest;
using ui::headless::render_json;
using ui::headless::render_text;

constexpr int TREE = 10, GO = 15;

ui::Dialog make_window() {
  return ui::Dialog(layout(900, {{ControlKind::tree_view, TREE, "", {0, 0, 50, 50}},
                                 {ControlKind::button, GO, "Go", {0, 0, 10, 10}}}));
}

TEST(Controls, ADisabledControlOrWindowTakesNoInput) {
  auto window = make_window();
  int clicks = 0;
  window.on_command(GO, [&] { ++clicks; });
  ui::Button& go = *window.button(GO);
  EXPECT_TRUE(go.click());
  go.enable(false);
  EXPECT_FALSE(go.enabled());
  EXPECT_FALSE(go.click());
  go.enable(true);
  window.enable(false);
  EXPECT_TRUE(go.enabled());
  EXPECT_FALSE(go.click());
  window.enable(true);
  EXPECT_TRUE(go.click());
  EXPECT_EQ(clicks, 2);
}

TEST(Controls, TreeKeepsTheOrderOfAddingFindsWholeTextsAndRendersItsDepth) {
  auto window = make_window();
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* root = tree.insert(nullptr, "root", 0, 1);
  ui::TreeNode* b = tree.insert(root, "b");
  tree.insert(b, std::string("b1\n\t\x7f\0 \xc3\xa9", 9), 2, 2);
  ui::TreeNode* a = tree.insert(root, "  a");
  tree.insert(nullptr, "\"second\"");
  tree.expand(root);
  EXPECT_EQ(tree.node_count(), 5u);
  EXPECT_EQ(root->child(1), a);
  EXPECT_EQ(tree.find_child(root, "b"), b);
  EXPECT_EQ(tree.find_child(root, "a"), nullptr);   // not a part of a text
  EXPECT_EQ(tree.find_child(root, "b1"), nullptr);  // nor a grandchild
  EXPECT_EQ(tree.find_child(nullptr, "root"), root);
  // Control bytes and leading spaces escaped: a node never spans lines, the indentation alone says the depth.
  EXPECT_EQ(render_text(tree), "root\n  b\n    b1\\x0a\\x09\\x7f\\x00 \xc3\xa9\n  \\x20\\x20a\n\"second\"\n");
  EXPECT_EQ(render_text(*b, 1), "  b\n    b1\\x0a\\x09\\x7f\\x00 \xc3\xa9\n");
  const std::string b1 = R"({"text":"b1\n\t\u007f\u0000 )"
                         "\xc3\xa9"
                         R"(","image":2,"selected_image":2,"expanded":false,"children":[]})";
  const std::string tail = R"(,{"text":"  a","image":0,"selected_image":0,"expanded":false,"children":[]}]})";
  EXPECT_EQ(render_json(tree),
            R"([{"text":"root","image":0,"selected_image":1,"expanded":true,"children":[)"
            R"({"text":"b","image":0,"selected_image":0,"expanded":false,"children":[)" +
                b1 + "]}" + tail +
                R"(,{"text":"\"second\"","image":0,"selected_image":0,"expanded":false,"children":[]}])");
  tree.delete_all();
  EXPECT_EQ(render_json(tree), "[]");
  // A very deep tree is rendered and taken apart without recursion.
  ui::TreeNode* node = nullptr;
  for (int i = 0; i < 100000; ++i) node = tree.insert(node, "d");
  const std::string json = render_json(tree);
  EXPECT_EQ(std::ranges::count(json, '{'), 100000);
  EXPECT_EQ(std::ranges::count(json, ']'), 100001);
  tree.delete_all();
  EXPECT_EQ(tree.node_count(), 0u);
}

TEST(Resources, EveryDialogBuildsWithDistinctIdsInsideItsWindowAndTheListStylesItsCodeNeeds) {
  for (const auto& layout : resources::all_dialogs()) {
    SCOPED_TRACE(layout.id);
    ui::Dialog window(layout.id);
    std::set<int> ids;
    for (const auto& c : layout.controls) {
      EXPECT_TRUE(c.rect.x >= 0 && c.rect.y >= 0 && c.rect.x + c.rect.width <= layout.width &&
                  c.rect.y + c.rect.height <= layout.height)
          << c.id;
      EXPECT_TRUE(c.id == resources::ID_STATIC || ids.insert(c.id).second) << "id " << c.id << " twice";
      EXPECT_NE(window.control(c.id), nullptr) << c.id;
    }
  }
  const auto* analysis = resources::find_dialog(resources::DIALOG_ANALYSIS);
  const uint32_t capture = analysis->find(resources::ANALYSIS_CAPTURE_LIST)->style;
  EXPECT_EQ(capture & (resources::LIST_SORTED | resources::LIST_MULTIPLE_SEL),
            resources::LIST_SORTED | resources::LIST_MULTIPLE_SEL);
  EXPECT_EQ(analysis->find(resources::ANALYSIS_MUX_LIST)->style &
                (resources::LIST_SORTED | resources::LIST_EXTENDED_SEL),
            resources::LIST_EXTENDED_SEL);
}

}  // namespace
