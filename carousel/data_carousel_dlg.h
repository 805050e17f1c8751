// The "Data Carousel" page: the data carousel tree of the last capture's model.
#pragma once

#include <functional>

#include "carousel/carousel_model.h"
#include "ui/dialog.h"

namespace carousel {

class CDataCarouselDlg : public ui::Dialog {
 public:
  explicit CDataCarouselDlg(ui::Dialog* parent = nullptr);

  // Before a capture: every node goes, and the root "Data Carousels" stands alone.
  void clear();
  // After a capture: shows the model's data carousel tree and expands its root.
  void rebuild(const CarouselModel& model);

  ui::TreeView* tree_view() const { return tree(resources::PAGE_TREE); }
  ui::TreeNode* root() const { return root_; }

  // What "Save..." does. Until a save procedure is given, the button does nothing.
  void set_save_action(std::function<void()> action) { save_action_ = std::move(action); }

 protected:
  bool OnInitDialog() override;

 private:
  ui::TreeNode* root_ = nullptr;
  ui::ImageList images_;
  std::function<void()> save_action_;
};

}  // namespace carousel
