// The "Object Carousel" page: the directory and file tree of every object carousel that the
// reconstruction resolved, under one node per programme.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "store/carousel_store.h"
#include "carousel/object_carousel.h"
#include "ui/dialog.h"

class CObjectCarouselDlg : public ui::Dialog, public ObjectCarouselSink {
 public:
  // The store is read (and its programme index written), never owned; it must outlive the page.
  explicit CObjectCarouselDlg(CarouselStore* store, ui::Dialog* parent = nullptr);

  // Before a capture: the tree is emptied.
  void clear();
  // After a capture and after the data carousel page's rebuild (which merges the programme index):
  // module images, inflation, module parsing and name resolution into the tree; the root expanded.
  void rebuild();

  // The node sink of the name resolution: each call appends one node.
  Node root_node() override;
  Node programme_node(Node root, uint32_t programme_number) override;
  Node carousel_node(Node programme, uint32_t carouselId) override;
  Node directory_node(Node parent, const std::string& id) override;
  Node file_node(Node parent, const std::string& id, const FileRecord* file) override;

  ui::TreeView* tree_view() const { return tree(resources::PAGE_TREE); }
  ui::TreeNode* root() const { return root_; }

  // What "Save..." does. Until a save procedure is given, the button does nothing.
  void set_save_action(std::function<void()> action) { save_action_ = std::move(action); }
  // Caps the nodes of one rebuild (kMaxTreeNodes unless a test needs less).
  void set_node_limit(size_t limit) { node_limit_ = limit; }

 protected:
  bool OnInitDialog() override;

 private:
  static ui::TreeNode* node_of(Node handle) { return reinterpret_cast<ui::TreeNode*>(handle); }
  static Node handle_of(ui::TreeNode* node) { return reinterpret_cast<Node>(node); }
  Node add_node(Node parent, const char* text, int image, int selected_image);

  CarouselStore* store_;
  ui::ImageList images_;
  ui::TreeNode* root_ = nullptr;
  std::function<void()> save_action_;
  size_t node_limit_ = kMaxTreeNodes;
};
