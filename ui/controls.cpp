#include "ui/controls.h"

#include <algorithm>
#include <cctype>

#include "ui/dialog.h"

namespace ui {

// ---- Control ------------------------------------------------------------------------------------

Control::Control(Dialog& owner, ControlKind kind, int id, Rect rect, std::string_view text, uint32_t style)
    : owner_(&owner), kind_(kind), id_(id), rect_(rect), text_(text), style_(style) {}

Control::~Control() = default;

void Control::set_text(std::string_view text) {
  if (text_ == text) return;
  text_.assign(text);
  changed(Change::text);
}

void Control::enable(bool on) {
  if (enabled_ == on) return;
  enabled_ = on;
  changed(Change::enabled);
}

void Control::show(bool on) {
  if (visible_ == on) return;
  visible_ = on;
  changed(Change::visible);
}

void Control::set_rect(Rect rect) {
  if (rect_ == rect) return;
  rect_ = rect;
  changed(Change::geometry);
}

void Control::add_style(uint32_t bits) {
  if ((style_ & bits) == bits) return;
  style_ |= bits;
  changed(Change::style);
}

void Control::remove_style(uint32_t bits) {
  if ((style_ & bits) == 0) return;
  style_ &= ~bits;
  changed(Change::style);
}

bool Control::accepts_input() const {
  return enabled_ && owner_->accepts_input();
}

void Control::changed(Change what) {
  owner_->control_changed(*this, what);
}

void Control::notify(Notify code) {
  owner_->command(id_, code);
}

// ---- Button -------------------------------------------------------------------------------------

bool Button::click() {
  if (!accepts_input()) return false;
  notify(Notify::clicked);
  return true;
}

// ---- ListBox ------------------------------------------------------------------------------------

namespace {

// The sorted style's order: letters without case first, then the bytes as they are.
bool sorts_before(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

}  // namespace

ListBox::SelectionMode ListBox::selection_mode() const {
  if (style() & resources::LIST_EXTENDED_SEL) return SelectionMode::extended;
  if (style() & resources::LIST_MULTIPLE_SEL) return SelectionMode::multiple;
  return SelectionMode::single;
}

std::string ListBox::text_at(int pos) const {
  return valid(pos) ? entries_[static_cast<size_t>(pos)].text : "";
}

int ListBox::add_string(std::string_view text) {
  size_t pos = entries_.size();
  if (sorted()) {
    auto it = std::upper_bound(entries_.begin(), entries_.end(), text,
                               [](std::string_view t, const Entry& e) { return sorts_before(t, e.text); });
    pos = static_cast<size_t>(it - entries_.begin());
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(pos), Entry{std::string(text), false});
  changed(Change::content);
  return static_cast<int>(pos);
}

int ListBox::insert_string(int pos, std::string_view text) {
  if (pos == -1) pos = count();
  if (pos < 0 || pos > count()) return -1;
  entries_.insert(entries_.begin() + pos, Entry{std::string(text), false});
  changed(Change::content);
  return pos;
}

bool ListBox::delete_string(int pos) {
  if (!valid(pos)) return false;
  entries_.erase(entries_.begin() + pos);
  changed(Change::content);
  return true;
}

void ListBox::reset() {
  if (entries_.empty()) return;
  entries_.clear();
  changed(Change::content);
}

int ListBox::find_exact(std::string_view text, int start) const {
  for (int i = std::max(start, 0); i < count(); ++i)
    if (entries_[static_cast<size_t>(i)].text == text) return i;
  return -1;
}

int ListBox::cur_sel() const {
  if (selection_mode() != SelectionMode::single) return -1;
  for (int i = 0; i < count(); ++i)
    if (entries_[static_cast<size_t>(i)].selected) return i;
  return -1;
}

bool ListBox::set_cur_sel(int pos) {
  if (selection_mode() != SelectionMode::single) return false;
  if (pos != -1 && !valid(pos)) return false;
  for (int i = 0; i < count(); ++i) entries_[static_cast<size_t>(i)].selected = (i == pos);
  changed(Change::selection);
  return true;
}

bool ListBox::set_sel(int pos, bool selected) {
  if (selection_mode() == SelectionMode::single) return false;
  if (pos == -1) {
    for (auto& e : entries_) e.selected = selected;
  } else if (valid(pos)) {
    entries_[static_cast<size_t>(pos)].selected = selected;
  } else {
    return false;
  }
  changed(Change::selection);
  return true;
}

bool ListBox::is_selected(int pos) const {
  return valid(pos) && entries_[static_cast<size_t>(pos)].selected;
}

int ListBox::selected_count() const {
  return static_cast<int>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.selected; }));
}

std::vector<int> ListBox::selected_items() const {
  std::vector<int> out;
  for (int i = 0; i < count(); ++i)
    if (entries_[static_cast<size_t>(i)].selected) out.push_back(i);
  return out;
}

void ListBox::clear_selection() {
  if (selected_count() == 0) return;
  for (auto& e : entries_) e.selected = false;
  changed(Change::selection);
}

bool ListBox::click(int pos) {
  if (!accepts_input() || !valid(pos)) return false;
  if (selection_mode() == SelectionMode::multiple) {
    auto& e = entries_[static_cast<size_t>(pos)];
    e.selected = !e.selected;
  } else {
    for (int i = 0; i < count(); ++i) entries_[static_cast<size_t>(i)].selected = (i == pos);
  }
  changed(Change::selection);
  notify(Notify::selection_changed);
  return true;
}

bool ListBox::double_click(int pos) {
  if (!click(pos)) return false;
  notify(Notify::double_clicked);
  return true;
}

void ListBox::double_click_blank() { notify(Notify::double_clicked); }

// ---- ImageList ----------------------------------------------------------------------------------

ImageList::ImageList(int width, int height, int initial, int grow)
    : width_(width), height_(height), capacity_(initial), grow_(grow) {}

int ImageList::add(const resources::Icon* icon) {
  if (!icon || width_ != resources::ICON_SIZE || height_ != resources::ICON_SIZE) return -1;
  if (count() >= capacity_) capacity_ = count() + std::max(grow_, 1);
  images_.push_back(icon);
  return count() - 1;
}

const resources::Icon* ImageList::image(int index) const {
  return index >= 0 && index < count() ? images_[static_cast<size_t>(index)] : nullptr;
}

// ---- TreeView -----------------------------------------------------------------------------------

TreeNode* TreeView::insert(TreeNode* parent, std::string_view text, int image, int selected_image) {
  auto node = std::make_unique<TreeNode>();
  node->text_.assign(text);
  node->image_ = image;
  node->selected_image_ = selected_image;
  node->parent_ = parent;
  TreeNode* raw = node.get();
  (parent ? parent->children_ : top_).push_back(std::move(node));
  ++node_count_;
  changed(Change::content);
  return raw;
}

TreeNode* TreeView::find_child(const TreeNode* parent, std::string_view text) const {
  for (const auto& child : parent ? parent->children_ : top_)
    if (child->text_ == text) return child.get();
  return nullptr;
}

TreeView::~TreeView() {
  release_nodes();
}

void TreeView::release_nodes() {
  // Deep trees are taken apart node by node rather than by recursive destructors.
  std::vector<std::unique_ptr<TreeNode>> pending = std::move(top_);
  top_.clear();
  while (!pending.empty()) {
    std::unique_ptr<TreeNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children_) pending.push_back(std::move(child));
  }
  node_count_ = 0;
}

void TreeView::delete_all() {
  release_nodes();
  changed(Change::content);
}

bool TreeView::expand(TreeNode* node, bool open) {
  if (!node) return false;
  if (node->expanded_ != open) {
    node->expanded_ = open;
    changed(Change::expanded);
  }
  return true;
}

void TreeView::set_image_list(const ImageList& images) {
  images_ = images;
  changed(Change::images);
}

// ---- TabControl ---------------------------------------------------------------------------------

int TabControl::insert_tab(std::string_view text, Dialog* page, bool enabled) {
  tabs_.push_back(Tab{std::string(text), page, enabled});
  const int index = count() - 1;
  changed(Change::content);
  if (current_ < 0) {
    current_ = index;
    if (page) page->show(true);
    changed(Change::selection);
  } else if (page) {
    page->show(false);
  }
  return index;
}

std::string TabControl::tab_text(int index) const {
  return index >= 0 && index < count() ? tabs_[static_cast<size_t>(index)].text : "";
}

Dialog* TabControl::page(int index) const {
  return index >= 0 && index < count() ? tabs_[static_cast<size_t>(index)].page : nullptr;
}

bool TabControl::tab_enabled(int index) const {
  return index >= 0 && index < count() && tabs_[static_cast<size_t>(index)].enabled;
}

void TabControl::set_tab_enabled(int index, bool enabled) {
  if (index < 0 || index >= count()) return;
  tabs_[static_cast<size_t>(index)].enabled = enabled;
  changed(Change::content);
}

bool TabControl::select(int index) {
  if (!tab_enabled(index)) return false;
  if (index == current_) return true;
  if (Dialog* old = page(current_)) old->show(false);
  current_ = index;
  if (Dialog* now = page(current_)) now->show(true);
  changed(Change::selection);
  return true;
}

bool TabControl::click(int index) {
  if (!accepts_input()) return false;
  const int before = current_;
  if (!select(index)) return false;
  if (current_ != before) notify(Notify::selection_changed);
  return true;
}

void TabControl::forget_page(const Dialog* page) {
  for (auto& tab : tabs_)
    if (tab.page == page) tab.page = nullptr;
}

// ---- ProgressBar --------------------------------------------------------------------------------

void ProgressBar::set_range(int low, int high) {
  low_ = low;
  high_ = std::max(low, high);
  pos_ = std::clamp(pos_, low_, high_);
  changed(Change::value);
}

void ProgressBar::set_pos(int pos) {
  pos_ = std::clamp(pos, low_, high_);
  changed(Change::value);
}

void ProgressBar::set_marquee(bool on, uint32_t interval_ms) {
  marquee_ = on;
  marquee_interval_ = on ? interval_ms : 0;
  if (on)
    add_style(resources::PROGRESS_MARQUEE);
  else
    remove_style(resources::PROGRESS_MARQUEE);
  changed(Change::value);
}

}  // namespace ui
