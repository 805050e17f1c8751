// Controls as models: each holds its whole state, so the dialogs' code, the automation, the headless
// renderer and a graphical view all read and change the same object. A view learns of changes through
// its window's ViewHook (backend.h) and feeds user input back by calling the same operations.
//
// Controls belong to a window and are used on that window's thread only; other threads post work to
// the window (Dialog::post) instead of touching controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resources.h"

namespace ui {

using resources::ControlKind;
using resources::Rect;

class Dialog;

// What changed in a model, for the backend's view.
enum class Change {
  text,
  enabled,
  visible,
  geometry,
  style,
  content,    // entries, tabs or nodes added or removed
  selection,  // list, tab or tree selection
  expanded,   // a tree node opened or closed
  value,      // progress range, position or marquee
  images,     // a tree's image list
};

// What a control reports to its window's command handlers.
enum class Notify {
  clicked,            // a button was clicked
  double_clicked,     // a list entry was double-clicked
  selection_changed,  // the user changed a list's selection or the tab strip's tab
};

class Control {
 public:
  Control(Dialog& owner, ControlKind kind, int id, Rect rect, std::string_view text, uint32_t style);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control();

  Dialog& owner() const { return *owner_; }
  int id() const { return id_; }
  ControlKind kind() const { return kind_; }

  const std::string& text() const { return text_; }
  void set_text(std::string_view text);

  bool enabled() const { return enabled_; }
  void enable(bool on = true);
  bool visible() const { return visible_; }
  void show(bool on = true);

  // Relative to the owner window's client area, in dialog units.
  Rect rect() const { return rect_; }
  void set_rect(Rect rect);

  uint32_t style() const { return style_; }
  void add_style(uint32_t bits);
  void remove_style(uint32_t bits);

  // Whether user input reaches the control now: it and its window are enabled.
  bool accepts_input() const;

 protected:
  // Tells the window's view what changed.
  void changed(Change what);
  // Reports a user action to the window's command handlers.
  void notify(Notify code);

 private:
  Dialog* owner_;
  ControlKind kind_;
  int id_;
  Rect rect_;
  std::string text_;
  uint32_t style_;
  bool enabled_ = true;
  bool visible_ = true;
};

class StaticText : public Control {
 public:
  using Control::Control;
};

class Edit : public Control {
 public:
  using Control::Control;
};

class Button : public Control {
 public:
  using Control::Control;
  bool is_default() const { return kind() == ControlKind::default_button; }
  // A user's click: reports Notify::clicked to the window. False (and nothing happens) when the button
  // does not accept input.
  bool click();
};

class ListBox : public Control {
 public:
  enum class SelectionMode { single, multiple, extended };

  using Control::Control;

  SelectionMode selection_mode() const;
  bool sorted() const { return (style() & resources::LIST_SORTED) != 0; }

  int count() const { return static_cast<int>(entries_.size()); }
  // The entry's text; empty for a position out of range.
  std::string text_at(int pos) const;
  // Appends, or with the sorted style inserts the entry at its place (ASCII letters compared without
  // case, equal texts in order of adding). Returns the entry's position.
  int add_string(std::string_view text);
  // Inserts at pos (-1: at the end) whatever the style. Returns the position, or -1 when pos is beyond
  // the end.
  int insert_string(int pos, std::string_view text);
  // False for a position out of range.
  bool delete_string(int pos);
  // Deletes every entry.
  void reset();
  // The first entry at or after `start` whose whole text equals `text`, or -1.
  int find_exact(std::string_view text, int start = 0) const;

  // Selection, as the program sets it (no notification).
  // Single selection: the selected position or -1. Other modes: -1.
  int cur_sel() const;
  // Single selection: selects pos (-1 clears). False in the other modes or for a position out of range.
  bool set_cur_sel(int pos);
  // Multiple or extended selection: selects or deselects pos, or every entry when pos is -1. False in
  // single-selection mode or for a position out of range.
  bool set_sel(int pos, bool selected);
  bool is_selected(int pos) const;
  int selected_count() const;
  // Selected positions in ascending order (any mode).
  std::vector<int> selected_items() const;
  void clear_selection();

  // A user's click on an entry: single and extended selection select it alone, multiple selection
  // toggles it; reports Notify::selection_changed. False when refused.
  bool click(int pos);
  // A user's double click: the click, then Notify::double_clicked.
  bool double_click(int pos);
  // A double click where no entry is (an empty list included): Notify::double_clicked alone, the
  // selection as it was, so that what a double click starts stays reachable with nothing listed.
  void double_click_blank();

 private:
  struct Entry {
    std::string text;
    bool selected = false;
  };
  bool valid(int pos) const { return pos >= 0 && pos < count(); }
  std::vector<Entry> entries_;
};

// The images a tree shows beside its nodes: icons of one size, indexed from 0 in order of adding.
class ImageList {
 public:
  // Icon size, the room reserved at first and by how much it grows.
  explicit ImageList(int width = resources::ICON_SIZE, int height = resources::ICON_SIZE, int initial = 3,
                     int grow = 10);
  // Returns the new image's index, or -1 when the icon is null or of another size.
  int add(const resources::Icon* icon);
  int count() const { return static_cast<int>(images_.size()); }
  // The image at index, or null.
  const resources::Icon* image(int index) const;
  int width() const { return width_; }
  int height() const { return height_; }
  int capacity() const { return capacity_; }

 private:
  int width_, height_, capacity_, grow_;
  std::vector<const resources::Icon*> images_;
};

class TreeView;

// One node of a tree. Its handle is its address, stable until the node is deleted.
class TreeNode {
 public:
  const std::string& text() const { return text_; }
  int image() const { return image_; }
  int selected_image() const { return selected_image_; }
  bool expanded() const { return expanded_; }
  // Null for a top-level node.
  TreeNode* parent() const { return parent_; }
  size_t child_count() const { return children_.size(); }
  TreeNode* child(size_t index) const { return index < children_.size() ? children_[index].get() : nullptr; }
  const std::vector<std::unique_ptr<TreeNode>>& children() const { return children_; }

 private:
  friend class TreeView;
  std::string text_;
  int image_ = 0;
  int selected_image_ = 0;
  bool expanded_ = false;
  TreeNode* parent_ = nullptr;
  std::vector<std::unique_ptr<TreeNode>> children_;
};

class TreeView : public Control {
 public:
  using Control::Control;
  ~TreeView() override;

  // Appends a node behind the existing children of parent (null: at the top level).
  TreeNode* insert(TreeNode* parent, std::string_view text, int image = 0, int selected_image = 0);
  // The first direct child of parent (null: the top level) whose whole text equals text, or null.
  TreeNode* find_child(const TreeNode* parent, std::string_view text) const;
  // Deletes every node; every handle becomes invalid.
  void delete_all();
  // Opens or closes a node; false for a null node.
  bool expand(TreeNode* node, bool open = true);

  const std::vector<std::unique_ptr<TreeNode>>& top_level() const { return top_; }
  // Every node of the tree, at any depth.
  size_t node_count() const { return node_count_; }

  // The tree keeps its own copy of the list.
  void set_image_list(const ImageList& images);
  const ImageList& image_list() const { return images_; }

 private:
  void release_nodes();

  std::vector<std::unique_ptr<TreeNode>> top_;
  size_t node_count_ = 0;
  ImageList images_{resources::ICON_SIZE, resources::ICON_SIZE, 0, 0};
};

// A tab strip whose tabs each show one page (a child window). A tab carries an enabled flag: selecting
// a disabled tab is refused and the selection stays where it was.
class TabControl : public Control {
 public:
  using Control::Control;

  // Appends a tab. The first tab becomes the selected one and its page is shown; the pages of later
  // tabs are hidden. page may be null. Returns the tab's index.
  int insert_tab(std::string_view text, Dialog* page, bool enabled = true);
  int count() const { return static_cast<int>(tabs_.size()); }
  // Empty, null or false for an index out of range.
  std::string tab_text(int index) const;
  Dialog* page(int index) const;
  bool tab_enabled(int index) const;
  void set_tab_enabled(int index, bool enabled);
  // How many rows the tabs take (1 once there is a tab).
  int row_count() const { return tabs_.empty() ? 0 : 1; }

  // The selected tab, or -1 before the first tab.
  int cur_sel() const { return current_; }
  // Selects a tab: hides the page of the previous one and shows the new one. False, and nothing
  // changes, for a disabled tab or an index out of range.
  bool select(int index);
  // A user's click on a tab: select(), then Notify::selection_changed when the selection moved.
  bool click(int index);

 private:
  friend class Dialog;
  // A page that goes away leaves its tab without a page.
  void forget_page(const Dialog* page);

  struct Tab {
    std::string text;
    Dialog* page = nullptr;
    bool enabled = true;
  };
  std::vector<Tab> tabs_;
  int current_ = -1;
};

class ProgressBar : public Control {
 public:
  using Control::Control;

  void set_range(int low, int high);
  int range_low() const { return low_; }
  int range_high() const { return high_; }
  // Kept inside the range.
  void set_pos(int pos);
  int pos() const { return pos_; }
  // A continuously animated bar that advances every interval_ms, or a plain bar again.
  void set_marquee(bool on, uint32_t interval_ms = 30);
  bool marquee() const { return marquee_; }
  uint32_t marquee_interval() const { return marquee_interval_; }

 private:
  int low_ = 0, high_ = 100, pos_ = 0;
  bool marquee_ = false;
  uint32_t marquee_interval_ = 0;
};

}  // namespace ui
