#include "carousel/page_common.h"

#include "log/debug_log.h"
#include "resources/resources.h"

#include <vector>

namespace carousel {

ui::ImageList page_images() {
  ui::ImageList images(resources::ICON_SIZE, resources::ICON_SIZE, 3, 10);
  for (int id : {resources::ICON_CLOSED_FOLDER, resources::ICON_OPEN_FOLDER, resources::ICON_DATA_DRUM}) {
    if (images.add(resources::find_icon(id)) < 0) logio::g_log.log(1, "carousel page: icon %d missing", id);
  }
  return images;
}

void set_up_tree(ui::TreeView& tree, const ui::ImageList& images) {
  tree.add_style(resources::TREE_HAS_LINES | resources::TREE_HAS_BUTTONS);
  tree.set_image_list(images);
}

ui::TreeNode* show_tree(ui::TreeView& view, const PageTree& tree) {
  std::vector<ui::TreeNode*> shown;
  shown.reserve(tree.nodes.size());
  for (const PageNode& node : tree.nodes) {
    ui::TreeNode* parent = node.parent == PageTree::kTop ? nullptr : shown[node.parent];
    shown.push_back(view.insert(parent, node.text, node.image, node.selected_image));
  }
  return shown.empty() ? nullptr : shown.front();
}

}  // namespace carousel
