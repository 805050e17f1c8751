#include "carousel/data_carousel_dlg.h"

#include "carousel/page_common.h"

namespace carousel {


CDataCarouselDlg::CDataCarouselDlg(ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_DATA_CAROUSEL_PAGE, parent), images_(page_images()) {
  on_command(resources::PAGE_SAVE, [this] {
    if (save_action_) save_action_();
  });
}

bool CDataCarouselDlg::OnInitDialog() {
  if (ui::TreeView* view = tree_view()) set_up_tree(*view, images_);
  return true;
}

void CDataCarouselDlg::clear() {
  root_ = nullptr;
  ui::TreeView* view = tree_view();
  if (!view) return;
  view->delete_all();
  root_ = view->insert(nullptr, "Data Carousels", IMAGE_CLOSED_FOLDER, IMAGE_OPEN_FOLDER);
}

void CDataCarouselDlg::rebuild(const CarouselModel& model) {
  root_ = nullptr;
  ui::TreeView* view = tree_view();
  if (!view) return;
  view->delete_all();
  root_ = show_tree(*view, model.data_tree);
  view->expand(root_);
}

}  // namespace carousel
