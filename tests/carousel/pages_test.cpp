// The two carousel pages show the model's trees: texts, images, order, expansion, and their buttons.
#include <gtest/gtest.h>

#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "resources/resources.h"
#include "tests/support/helpers.h"

using namespace carousel;

namespace {

// One line per node: indentation, text, [image/selected image] and "+" when expanded.
void render(const ui::TreeNode& node, int depth, std::string& out) {
  out += std::string(static_cast<size_t>(depth) * 2, ' ') + node.text() + " [" +
         std::to_string(node.image()) + "/" + std::to_string(node.selected_image()) + "]" +
         (node.expanded() ? " +" : "") + "\n";
  for (const auto& child : node.children()) render(*child, depth + 1, out);
}

std::string render(const ui::TreeView& tree) {
  std::string out;
  for (const auto& top : tree.top_level()) render(*top, 0, out);
  return out;
}

CarouselModel two_level_model() {
  CarouselModel model;
  for (PageTree* tree : {&model.data_tree, &model.object_tree}) {
    const size_t root = tree->add(PageTree::kTop, "root", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
    const size_t a = tree->add(root, "a", IMAGE_CLOSED_FOLDER, IMAGE_CLOSED_FOLDER);
    tree->add(a, "a1", IMAGE_DATA_DRUM, IMAGE_DATA_DRUM);
    tree->add(root, "b", IMAGE_DATA_DRUM, IMAGE_DATA_DRUM);
    tree->add(a, "a2", IMAGE_DATA_DRUM, IMAGE_DATA_DRUM);
  }
  return model;
}

TEST(CarouselPages, ShowTheModelsTreesAndRunTheirSaveAction) {
  ui::Dialog host{resources::DIALOG_ANALYSIS};
  CDataCarouselDlg data(&host);
  CObjectCarouselDlg object(&host);
  data.create(host);
  object.create(host);
  data.clear();
  object.clear();
  EXPECT_EQ(render(*data.tree_view()), "Data Carousels [0/1]\n");
  EXPECT_EQ(object.tree_view()->node_count(), 0u);

  const CarouselModel model = two_level_model();
  for (int pass = 0; pass < 2; ++pass) {  // a second rebuild replaces, never adds
    data.rebuild(model);
    object.rebuild(model);
  }
  const char* shown = "root [0/1] +\n  a [0/0]\n    a1 [2/2]\n    a2 [2/2]\n  b [2/2]\n";
  EXPECT_EQ(render(*data.tree_view()), shown);
  EXPECT_EQ(render(*object.tree_view()), shown);
  object.rebuild(CarouselModel{});
  EXPECT_EQ(object.root(), nullptr);
  EXPECT_EQ(object.tree_view()->node_count(), 0u);

  ASSERT_NE(data.button(resources::PAGE_SAVE), nullptr);
  EXPECT_TRUE(data.button(resources::PAGE_SAVE)->click());  // no action yet: nothing happens
  int data_saves = 0, object_saves = 0;
  data.set_save_action([&] { ++data_saves; });
  object.set_save_action([&] { ++object_saves; });
  data.button(resources::PAGE_SAVE)->click();
  object.button(resources::PAGE_SAVE)->click();
  EXPECT_EQ(std::make_pair(data_saves, object_saves), std::make_pair(1, 1));
}

}  // namespace
