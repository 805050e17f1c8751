// What the carousel pages share: their tree's look, its image list, and showing a built tree.
#pragma once

#include "carousel/page_tree.h"
#include "ui/controls.h"

namespace carousel {

// 16 x 16 masked icons, room for 3 growing by 10: closed folder, open folder, data drum.
ui::ImageList page_images();
// Lines and expand buttons, and the image list as the tree's normal list.
void set_up_tree(ui::TreeView& tree, const ui::ImageList& images);
// Appends every node of `tree` to the view, in order; returns the view node of its first node (the
// root), or null for an empty tree.
ui::TreeNode* show_tree(ui::TreeView& view, const PageTree& tree);

}  // namespace carousel
