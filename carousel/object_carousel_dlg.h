// The "Object Carousel" page: the directory and file tree of every object carousel of the last
// capture's model, under one node per programme.
#pragma once

#include <functional>

#include "carousel/carousel_model.h"
#include "ui/dialog.h"

namespace carousel {

class CObjectCarouselDlg : public ui::Dialog {
 public:
  explicit CObjectCarouselDlg(ui::Dialog* parent = nullptr);

  // Before a capture: the tree is emptied.
  void clear();
  // After a capture: shows the model's object carousel tree and expands its root.
  void rebuild(const CarouselModel& model);

  ui::TreeView* tree_view() const { return tree(resources::PAGE_TREE); }
  ui::TreeNode* root() const { return root_; }

  // What "Save..." does. Until a save procedure is given, the button does nothing.
  void set_save_action(std::function<void()> action) { save_action_ = std::move(action); }

 protected:
  bool OnInitDialog() override;

 private:
  ui::ImageList images_;
  ui::TreeNode* root_ = nullptr;
  std::function<void()> save_action_;
};

}  // namespace carousel
