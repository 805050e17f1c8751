#include "carousel/object_carousel_dlg.h"

#include "carousel/page_common.h"

namespace carousel {


CObjectCarouselDlg::CObjectCarouselDlg(ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_OBJECT_CAROUSEL_PAGE, parent), images_(page_images()) {
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

void CObjectCarouselDlg::rebuild(const CarouselModel& model) {
  clear();
  ui::TreeView* view = tree_view();
  if (!view) return;
  root_ = show_tree(*view, model.object_tree);
  view->expand(root_);
}

}  // namespace carousel
