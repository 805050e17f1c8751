// Trees as text and JSON, and the JSON string escaping of arbitrary bytes.
#include <gtest/gtest.h>

#include "tests/ui/test_windows.h"
#include "ui/headless/tree_render.h"

namespace {

using namespace uitest;
using ui::headless::json_string;
using ui::headless::render_json;
using ui::headless::render_text;

constexpr int TREE = 10;

TEST(RenderText, OneNodePerLineTwoSpacesPerLevelEveryNodeExpandedOrNot) {
  ui::Dialog window(layout(1, {{ControlKind::tree_view, TREE, "", {0, 0, 10, 10}}}));
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* root = tree.insert(nullptr, "data carousel sections");
  ui::TreeNode* prg = tree.insert(root, "Program Number 0x0001 (1)");
  ui::TreeNode* pid = tree.insert(prg, "PID 0x138e");
  tree.insert(pid, "Download Server Initiate");
  tree.insert(prg, "PID 0x138f");
  tree.insert(nullptr, "second");
  tree.expand(root);

  EXPECT_EQ(render_text(tree),
            "data carousel sections\n"
            "  Program Number 0x0001 (1)\n"
            "    PID 0x138e\n"
            "      Download Server Initiate\n"
            "    PID 0x138f\n"
            "second\n");
  EXPECT_EQ(render_text(*pid), "PID 0x138e\n  Download Server Initiate\n");
  EXPECT_EQ(render_text(*pid, 2), "    PID 0x138e\n      Download Server Initiate\n");
  tree.delete_all();
  EXPECT_EQ(render_text(tree), "");
}

TEST(RenderText, ControlBytesAreEscapedSoANodeNeverSpansLines) {
  ui::Dialog window(layout(1, {{ControlKind::tree_view, TREE, "", {0, 0, 10, 10}}}));
  ui::TreeView& tree = *window.tree(TREE);
  tree.insert(nullptr, std::string("a\nb\tc\x7f\0d \xc3\xa9\xff", 12));
  EXPECT_EQ(render_text(tree), "a\\x0ab\\x09c\\x7f\\x00d \xc3\xa9\xff\n");
  tree.delete_all();
  ui::TreeNode* dir = tree.insert(nullptr, "dir");
  tree.insert(dir, "  two leading spaces.js - size=3");
  tree.insert(nullptr, "trailing  ");
  tree.insert(nullptr, "   ");
  EXPECT_EQ(render_text(tree),
            "dir\n  \\x20\\x20two leading spaces.js - size=3\ntrailing  \n\\x20\\x20\\x20\n")
      << "the indentation alone says the depth";
}

TEST(RenderJson, NodesCarryTextImagesExpandedAndChildren) {
  ui::Dialog window(layout(1, {{ControlKind::tree_view, TREE, "", {0, 0, 10, 10}}}));
  ui::TreeView& tree = *window.tree(TREE);
  EXPECT_EQ(render_json(tree), "[]");
  ui::TreeNode* root = tree.insert(nullptr, "Object Carousels", 0, 1);
  ui::TreeNode* dir = tree.insert(root, "dir", 0, 1);
  tree.insert(dir, "index.html - size=120", 2, 2);
  tree.insert(root, "x \"quoted\"", 2, 2);
  tree.insert(nullptr, "other");
  tree.expand(root);

  const std::string file =
      R"({"text":"index.html - size=120","image":2,"selected_image":2,"expanded":false,"children":[]})";
  const std::string dir_json =
      R"({"text":"dir","image":0,"selected_image":1,"expanded":false,"children":[)" + file + "]}";
  const std::string quoted =
      R"({"text":"x \"quoted\"","image":2,"selected_image":2,"expanded":false,"children":[]})";
  const std::string root_json =
      R"({"text":"Object Carousels","image":0,"selected_image":1,"expanded":true,"children":[)" + dir_json +
      "," + quoted + "]}";
  const std::string other = R"({"text":"other","image":0,"selected_image":0,"expanded":false,"children":[]})";
  EXPECT_EQ(render_json(tree), "[" + root_json + "," + other + "]");
  EXPECT_EQ(render_json(*dir), dir_json);
}

TEST(RenderJson, ADeepTreeRendersWithoutRecursion) {
  ui::Dialog window(layout(1, {{ControlKind::tree_view, TREE, "", {0, 0, 10, 10}}}));
  ui::TreeView& tree = *window.tree(TREE);
  ui::TreeNode* node = nullptr;
  constexpr int depth = 100000;
  for (int i = 0; i < depth; ++i) node = tree.insert(node, "n");
  const std::string json = render_json(tree);
  size_t opens = 0, closes = 0;
  for (char c : json) {
    opens += c == '{';
    closes += c == '}';
  }
  EXPECT_EQ(opens, static_cast<size_t>(depth));
  EXPECT_EQ(closes, static_cast<size_t>(depth));
  EXPECT_TRUE(json.starts_with("[{\"text\":\"n\","));
  std::string closing = "\"children\":[]}";
  for (int i = 1; i < depth; ++i) closing += "]}";
  EXPECT_TRUE(json.ends_with(closing + "]"));
}

struct EscapeCase {
  const char* name;
  std::string bytes;
  std::string json;
};

class JsonString : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonString, EscapesWhatJsonNeedsAndEveryByteThatIsNotUtf8) {
  EXPECT_EQ(json_string(GetParam().bytes), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, JsonString,
    ::testing::Values(EscapeCase{"empty", "", R"("")"}, EscapeCase{"ascii", "PID 0x138e", R"("PID 0x138e")"},
                      EscapeCase{"quote_backslash", "a\"b\\c", R"("a\"b\\c")"},
                      EscapeCase{"short_escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
                      EscapeCase{"other_controls", std::string("\x00\x01\x1f\x7f", 4),
                                 R"("\u0000\u0001\u001f\u007f")"},
                      EscapeCase{"two_byte", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
                      EscapeCase{"three_byte", "\xe2\x82\xac", "\"\xe2\x82\xac\""},
                      EscapeCase{"four_byte", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
                      EscapeCase{"highest_code_point", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
                      EscapeCase{"latin1_byte", "\xe9t\xe9", R"("\u00e9t\u00e9")"},
                      EscapeCase{"lone_continuation", "\x80", R"("\u0080")"},
                      EscapeCase{"invalid_leads", "\xc0\xc1\xf5\xff", R"("\u00c0\u00c1\u00f5\u00ff")"},
                      EscapeCase{"overlong_two_byte", "\xc0\xaf", R"("\u00c0\u00af")"},
                      EscapeCase{"overlong_three_byte", "\xe0\x80\xaf", R"("\u00e0\u0080\u00af")"},
                      EscapeCase{"overlong_four_byte", "\xf0\x80\x80\xaf", R"("\u00f0\u0080\u0080\u00af")"},
                      EscapeCase{"surrogate", "\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
                      EscapeCase{"above_max", "\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
                      EscapeCase{"cut_short_then_ascii", "\xe2\x82z", R"("\u00e2\u0082z")"},
                      EscapeCase{"cut_short_at_end", "ok\xf0\x9f\x98", R"("ok\u00f0\u009f\u0098")"},
                      EscapeCase{"valid_after_invalid", "\xff\xc3\xa9", "\"\\u00ff\xc3\xa9\""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
