// What the two carousel pages share: their tree's look and its image list.
#pragma once

#include "ui/controls.h"

namespace carousel_pages {

// Image indexes of both carousel trees.
inline constexpr int IMAGE_CLOSED_FOLDER = 0;
inline constexpr int IMAGE_OPEN_FOLDER = 1;
inline constexpr int IMAGE_DATA_DRUM = 2;

// 16 x 16 masked icons, room for 3 growing by 10: closed folder, open folder, data drum.
ui::ImageList page_images();
// Lines and expand buttons, and the image list as the tree's normal list.
void set_up_tree(ui::TreeView& tree, const ui::ImageList& images);

}  // namespace carousel_pages
