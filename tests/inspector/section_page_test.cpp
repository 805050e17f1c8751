// The "Section" page over built captures: every node text, its place and its order.
#include <gtest/gtest.h>

#include "inspector/section_dlg.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/oc_builder.h"
#include "tests/support/store_capture.h"
#include "ui/headless/tree_render.h"

using namespace inspector;

namespace {

using namespace testsupport;

const std::string ROOT = "data carousel sections";

// ---- hexadecimal dumps --------------------------------------------------------------------------

TEST(HexDump, EightBytesALineWithOffsetsAndCharacters) {
  const std::pair<std::vector<uint8_t>, std::vector<std::string>> cases[] = {
      {{}, {}},
      {{0x41}, {"0000: 41 ; A"}},
      {text_bytes("abcdefghijklmnop"),
       {"0000: 61 62 63 64 65 66 67 68 ; abcdefgh", "0008: 69 6a 6b 6c 6d 6e 6f 70 ; ijklmnop"}},
      {text_bytes("abcdefghijklmnopq"),
       {"0000: 61 62 63 64 65 66 67 68 ; abcdefgh", "0008: 69 6a 6b 6c 6d 6e 6f 70 ; ijklmnop",
        "0010: 71 ; q"}},
      {{0x09, 0x7F, 0xA0, 0x20, 0x00, 0x1F, 0x7E, 0xFF}, {"0000: 09 7f a0 20 00 1f 7e ff ; ... ..~."}}};
  for (const auto& [bytes, lines] : cases) EXPECT_EQ(hex_dump_lines(bytes), lines) << bytes.size();
}

// ---- the page -----------------------------------------------------------------------------------

size_t count_nodes(const ui::TreeNode* node) {
  size_t n = 1;
  for (const auto& c : node->children()) n += count_nodes(c.get());
  return n;
}

TEST(SectionPage, ShowsTheStoreUpToItsNodeLimitAndStartsAfreshAfterClear) {
  StoreCapture capture({{1, 0x138e}});
  for (uint16_t module = 1; module <= 40; ++module)
    capture.feed(0x138e, ddb_section(block(0x10, module, 0, Bytes(8, 0x5A))));
  CSectionDlg page(&capture.store);
  EXPECT_EQ(page.root(), nullptr);
  page.clear();
  EXPECT_EQ(ui::headless::render_text(page.tree()), ROOT + "\n");
  page.rebuild();
  EXPECT_TRUE(page.root()->expanded());
  EXPECT_FALSE(page.root()->child(0)->expanded()) << "only the root is expanded";
  const size_t whole = count_nodes(page.root());
  ASSERT_GT(whole, 200u);

  page.set_node_limit(150);
  page.clear();
  page.rebuild();
  EXPECT_EQ(count_nodes(page.root()), 150u);
  EXPECT_EQ(page.tree().top_level().size(), 1u) << "nothing may spill to the top level";
  EXPECT_EQ(page.tree().node_count(), 150u);

  page.set_node_limit(whole);
  page.clear();
  page.rebuild();
  EXPECT_EQ(count_nodes(page.root()), whole);
}

}  // namespace
