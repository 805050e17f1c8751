#include "carousel/object_carousel_dlg.h"

#include <cstdio>

#include "carousel/page_common.h"

using namespace carousel_pages;

CObjectCarouselDlg::CObjectCarouselDlg(CarouselStore* store, ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_OBJECT_CAROUSEL_PAGE, parent), store_(store), images_(page_images()) {
  on_command(resources::PAGE_SAVE, [this] {
    if (save_action_) save_action_();
  });
}

bool CObjectCarouselDlg::OnInitDialog() {
  if (ui::TreeView* view = tree_view()) set_up_tree(*view, images_);
  return true;
}

void CObjectCarouselDlg::clear() {
  root_ = nullptr;
  if (ui::TreeView* view = tree_view()) view->delete_all();
}

void CObjectCarouselDlg::rebuild() {
  // There is never more than one root, also when a rebuild follows another without a clear.
  clear();
  if (store_) {
    rebuild_object_carousels(*store_, *this, node_limit_);
  } else {
    root_node();
  }
  if (ui::TreeView* view = tree_view()) view->expand(root_);
}

CObjectCarouselDlg::Node CObjectCarouselDlg::add_node(Node parent, const char* text, int image,
                                                      int selected_image) {
  ui::TreeView* view = tree_view();
  if (!view) return 0;
  return handle_of(view->insert(node_of(parent), text, image, selected_image));
}

CObjectCarouselDlg::Node CObjectCarouselDlg::root_node() {
  Node root = add_node(0, "Object Carousels", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
  root_ = node_of(root);
  return root;
}

CObjectCarouselDlg::Node CObjectCarouselDlg::programme_node(Node root, uint32_t programme_number) {
  char text[64];
  std::snprintf(text, sizeof text, "Program Number: 0x%04x (%lu)", programme_number,
                static_cast<unsigned long>(programme_number));
  return add_node(root, text, IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
}

CObjectCarouselDlg::Node CObjectCarouselDlg::carousel_node(Node programme, uint32_t carouselId) {
  char text[64];
  std::snprintf(text, sizeof text, "carouselId 0x%08x (%lu)", carouselId,
                static_cast<unsigned long>(carouselId));
  return add_node(programme, text, IMAGE_CLOSED_FOLDER, IMAGE_CLOSED_FOLDER);
}

CObjectCarouselDlg::Node CObjectCarouselDlg::directory_node(Node parent, const std::string& id) {
  return add_node(parent, id.c_str(), IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
}

CObjectCarouselDlg::Node CObjectCarouselDlg::file_node(Node parent, const std::string& id,
                                                       const FileRecord* file) {
  char text[512];  // an id holds at most 255 bytes
  if (file) {
    std::snprintf(text, sizeof text, "%s - size=%d", id.c_str(), static_cast<int>(file->content_length));
  } else {
    std::snprintf(text, sizeof text, "%s - object not available", id.c_str());
  }
  return add_node(parent, text, IMAGE_DATA_DRUM, IMAGE_DATA_DRUM);
}
