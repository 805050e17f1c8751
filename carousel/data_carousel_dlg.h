// The "Data Carousel" page: per programme every download group that a DII announced and, under it,
// every module of those DIIs with its size and how many of its sections the capture holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "store/carousel_store.h"
#include "carousel/object_carousel.h"
#include "ui/dialog.h"

class CDataCarouselDlg : public ui::Dialog {
 public:
  // The store is read, never owned; it must outlive the page.
  explicit CDataCarouselDlg(CarouselStore* store, ui::Dialog* parent = nullptr);

  // Before a capture: every node goes, and the root "Data Carousels" stands alone.
  void clear();
  // After a capture: merges the programme index (the object carousel page relies on it), lists every
  // programme with its download groups and modules, then expands the root.
  void rebuild();
  // One download group node under the programme node and the module nodes of every DII of D.
  void add_dii(ui::TreeNode* programme_node, int32_t downloadId, ProgramRecord& program);

  ui::TreeView* tree_view() const { return tree(resources::PAGE_TREE); }
  ui::TreeNode* root() const { return root_; }

  // What "Save..." does. Until a save procedure is given, the button does nothing.
  void set_save_action(std::function<void()> action) { save_action_ = std::move(action); }
  // Caps the nodes of one rebuild (kMaxTreeNodes unless a test needs less).
  void set_node_limit(size_t limit) { node_limit_ = limit; }

 protected:
  bool OnInitDialog() override;

 private:
  // Appends a node, or returns null once the page holds node_limit_ nodes.
  ui::TreeNode* add_node(ui::TreeNode* parent, const char* text, int image, int selected_image);

  CarouselStore* store_;
  ui::TreeNode* root_ = nullptr;
  ui::ImageList images_;
  std::function<void()> save_action_;
  size_t node_limit_ = kMaxTreeNodes;
  bool limit_logged_ = false;
};
