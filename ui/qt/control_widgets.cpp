#include "ui/qt/control_widgets.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <string>
#include <vector>

#include "ui/qt/icons.h"
#include "ui/qt/window_view.h"

namespace ui::qt {

namespace {

std::string to_bytes(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// The length of the UTF-8 sequence that starts at s[i], or 0 when the bytes there are not one.
size_t utf8_sequence(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  size_t length = 0;
  uint32_t value = 0;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    value = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    value = b & 0x0Fu;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    value = b & 0x07u;
  } else {
    return 0;
  }
  if (s.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates and values above U+10FFFF are not characters.
  if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000)) return 0;
  if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  return length;
}

}  // namespace

QString display_text(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    const size_t length = utf8_sequence(bytes, i);
    if (length == 0 || b < 0x20 || b == 0x7F) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[b >> 4];
      out += hex[b & 0x0F];
      ++i;
      continue;
    }
    out.append(bytes.substr(i, length));
    i += length;
  }
  return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

// ---- ButtonWidget -------------------------------------------------------------------------------

ButtonWidget::ButtonWidget(WindowView& view, ui::Button& button, QWidget* parent)
    : QPushButton(display_text(button.text()), parent), view_(view), button_(button) {
  // Enter is the window's business (its default button), not the focused button's.
  setAutoDefault(false);
  setDefault(button.is_default());
  QObject::connect(this, &QPushButton::clicked, this, [this] {
    if (view_.window()) button_.click();
  });
}

// ---- EditWidget ---------------------------------------------------------------------------------

EditWidget::EditWidget(WindowView& view, ui::Edit& edit, QWidget* parent)
    : QLineEdit(parent), view_(view), edit_(edit) {
  sync_text();
  QObject::connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (view_.window()) edit_.set_text(to_bytes(text));
  });
}

void EditWidget::sync_text() {
  const QString text = QString::fromUtf8(edit_.text().data(), static_cast<qsizetype>(edit_.text().size()));
  if (text != this->text()) setText(text);
}

// ---- ListWidget ---------------------------------------------------------------------------------

ListWidget::ListWidget(WindowView& view, ui::ListBox& list, QWidget* parent)
    : QListWidget(parent), view_(view), list_(list) {
  // Every click goes to the model; Qt's own selection only shows what the model holds.
  setSelectionMode(QAbstractItemView::MultiSelection);
  setUniformItemSizes(true);
  sync_entries();
}

ui::ListBox* ListWidget::model() const {
  return view_.window() ? &list_ : nullptr;
}

void ListWidget::sync_entries() {
  syncing_ = true;
  const int n = list_.count();
  // Entries are few; a change of content rewrites them all and keeps the scroll position.
  const int scroll = verticalScrollBar() ? verticalScrollBar()->value() : 0;
  while (count() > n) delete takeItem(count() - 1);
  for (int i = 0; i < n; ++i) {
    const QString text = display_text(list_.text_at(i));
    if (i < count()) {
      if (item(i)->text() != text) item(i)->setText(text);
    } else {
      addItem(text);
    }
  }
  if (verticalScrollBar()) verticalScrollBar()->setValue(scroll);
  syncing_ = false;
  sync_selection();
}

void ListWidget::sync_selection() {
  syncing_ = true;
  for (int i = 0; i < count(); ++i) {
    const bool selected = list_.is_selected(i);
    if (item(i)->isSelected() != selected) item(i)->setSelected(selected);
  }
  syncing_ = false;
}

void ListWidget::user_click(int row, Qt::KeyboardModifiers modifiers) {
  ui::ListBox* list = model();
  // A list that takes no input (its window disabled under a modal window) ignores every click.
  if (!list || !list->accepts_input() || row < 0 || row >= list->count()) return;
  if (list->selection_mode() == ui::ListBox::SelectionMode::extended) {
    if ((modifiers & Qt::ShiftModifier) && anchor_ >= 0 && anchor_ < list->count()) {
      // A range from the anchor; with Ctrl it is added to what is selected.
      if (!(modifiers & Qt::ControlModifier)) list->clear_selection();
      for (int i = std::min(anchor_, row); i <= std::max(anchor_, row); ++i) list->set_sel(i, true);
      setCurrentRow(row, QItemSelectionModel::NoUpdate);
      return;
    }
    if (modifiers & Qt::ControlModifier) {
      list->set_sel(row, !list->is_selected(row));
      anchor_ = row;
      setCurrentRow(row, QItemSelectionModel::NoUpdate);
      return;
    }
  }
  if (list->click(row)) {
    anchor_ = row;
    setCurrentRow(row, QItemSelectionModel::NoUpdate);
  }
}

void ListWidget::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) user_click(index.row(), event->modifiers());
}

void ListWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  ui::ListBox* list = model();
  const QModelIndex index = indexAt(event->position().toPoint());
  if (!list) return;
  if (index.isValid())
    list->double_click(index.row());
  else
    list->double_click_blank();
}

// No rubber-band or drag selection: the model knows clicks only.
void ListWidget::mouseMoveEvent(QMouseEvent*) {}
void ListWidget::mouseReleaseEvent(QMouseEvent*) {}

void ListWidget::keyPressEvent(QKeyEvent* event) {
  ui::ListBox* list = model();
  if (!list || list->count() == 0) {
    event->ignore();
    return;
  }
  const int current = currentRow() < 0 ? 0 : currentRow();
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
      const int row = std::clamp(current + (event->key() == Qt::Key_Up ? -1 : 1), 0, list->count() - 1);
      if (list->selection_mode() == ui::ListBox::SelectionMode::multiple)
        setCurrentRow(row, QItemSelectionModel::NoUpdate);  // the caret moves; Space toggles
      else
        user_click(row, event->modifiers());
      return;
    }
    case Qt::Key_Space:
      user_click(current, event->modifiers());
      return;
    case Qt::Key_A:
      if ((event->modifiers() & Qt::ControlModifier) &&
          list->selection_mode() == ui::ListBox::SelectionMode::extended && list->accepts_input()) {
        list->set_sel(-1, true);
        return;
      }
      break;
    default:
      break;
  }
  event->ignore();
}

// ---- TreeWidget ---------------------------------------------------------------------------------

TreeWidget::TreeWidget(WindowView& view, ui::TreeView& tree, QWidget* parent)
    : QTreeWidget(parent), view_(view), tree_(tree) {
  setHeaderHidden(true);
  setColumnCount(1);
  setUniformRowHeights(true);
  setIconSize(QSize(resources::ICON_SIZE, resources::ICON_SIZE));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  QObject::connect(this, &QTreeWidget::itemExpanded, this,
                   [this](QTreeWidgetItem* item) { user_expanded(item, true); });
  QObject::connect(this, &QTreeWidget::itemCollapsed, this,
                   [this](QTreeWidgetItem* item) { user_expanded(item, false); });
  sync_style();
  sync_images();
  sync();
}

void TreeWidget::sync_style() {
  style_ = tree_.style();
  setRootIsDecorated((style_ & resources::TREE_LINES_AT_ROOT) != 0);
  viewport()->update();
}

void TreeWidget::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  const int indent = indentation();
  const int columns = indent > 0 ? rect.width() / indent : 0;
  const bool lines = (style_ & resources::TREE_HAS_LINES) != 0;
  const bool buttons = (style_ & resources::TREE_HAS_BUTTONS) != 0;
  if (columns <= 0 || (!lines && !buttons)) return;
  painter->save();
  QPen dotted(palette().color(QPalette::Dark), 1, Qt::DotLine);
  const int right = rect.left() + columns * indent;
  auto has_next = [](const QModelIndex& at) { return at.sibling(at.row() + 1, 0).isValid(); };

  // The rightmost column belongs to the item itself, each column to its left to one ancestor.
  const QRect own(right - indent, rect.top(), indent, rect.height());
  const int cx = own.left() + indent / 2, cy = own.top() + own.height() / 2;
  if (lines) {
    painter->setPen(dotted);
    if (index.row() > 0 || index.parent().isValid()) painter->drawLine(cx, own.top(), cx, cy);
    if (has_next(index)) painter->drawLine(cx, cy, cx, own.bottom());
    painter->drawLine(cx, cy, own.right(), cy);
    QModelIndex ancestor = index.parent();
    for (int column = 1; ancestor.isValid() && column < columns; ++column, ancestor = ancestor.parent()) {
      if (!has_next(ancestor)) continue;
      const int x = right - (column + 1) * indent + indent / 2;
      painter->drawLine(x, rect.top(), x, rect.bottom());
    }
  }
  if (buttons && model()->hasChildren(index)) {
    const QRect box(cx - 4, cy - 4, 8, 8);
    painter->setPen(palette().color(QPalette::Dark));
    painter->fillRect(box, palette().color(QPalette::Base));
    painter->drawRect(box);
    painter->setPen(palette().color(QPalette::Text));
    painter->drawLine(box.left() + 2, cy, box.right() - 2, cy);
    if (!isExpanded(index)) painter->drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
  }
  painter->restore();
}

QIcon TreeWidget::icon_for(int image, int selected_image) {
  const quint64 key =
      (static_cast<quint64>(static_cast<uint32_t>(image)) << 32) | static_cast<uint32_t>(selected_image);
  auto it = icons_.find(key);
  if (it != icons_.end()) return it.value();
  const ui::ImageList& images = tree_.image_list();
  QIcon icon = images.count() > 0 ? tree_icon(images.image(image), images.image(selected_image)) : QIcon();
  icons_.insert(key, icon);
  return icon;
}

void TreeWidget::fill_item(QTreeWidgetItem* item, const ui::TreeNode& node) {
  item->setText(0, display_text(node.text()));
  item->setData(0, kNodeRole, QVariant::fromValue(static_cast<quint64>(reinterpret_cast<uintptr_t>(&node))));
  item->setData(0, kBytesRole, QByteArray(node.text().data(), static_cast<qsizetype>(node.text().size())));
  item->setIcon(0, icon_for(node.image(), node.selected_image()));
  item->setData(0, kImagesRole, QPoint(node.image(), node.selected_image()));
}

void TreeWidget::sync_images() {
  icons_.clear();
  // Every item takes its icon again from the new list.
  std::vector<QTreeWidgetItem*> pending;
  for (int i = 0; i < topLevelItemCount(); ++i) pending.push_back(topLevelItem(i));
  while (!pending.empty()) {
    QTreeWidgetItem* item = pending.back();
    pending.pop_back();
    const QPoint images = item->data(0, kImagesRole).toPoint();
    item->setIcon(0, icon_for(images.x(), images.y()));
    for (int i = 0; i < item->childCount(); ++i) pending.push_back(item->child(i));
  }
}

void TreeWidget::sync() {
  if (!view_.window()) return;
  syncing_ = true;
  // Walks model and items side by side without recursion (carousel trees can be deep). For each
  // parent: children that still match (same node, text and images) are kept and walked; from the
  // first one that does not, the items are replaced.
  struct Level {
    QTreeWidgetItem* item;  // null: the top level
    const std::vector<std::unique_ptr<ui::TreeNode>>* nodes;
  };
  std::vector<Level> pending{{nullptr, &tree_.top_level()}};
  std::vector<std::pair<QTreeWidgetItem*, bool>> expand;
  while (!pending.empty()) {
    const Level level = pending.back();
    pending.pop_back();
    const auto& nodes = *level.nodes;
    auto child_count = [&] { return level.item ? level.item->childCount() : topLevelItemCount(); };
    auto child_at = [&](int i) { return level.item ? level.item->child(i) : topLevelItem(i); };
    size_t kept = 0;
    for (; kept < nodes.size() && static_cast<int>(kept) < child_count(); ++kept) {
      QTreeWidgetItem* item = child_at(static_cast<int>(kept));
      const ui::TreeNode& node = *nodes[kept];
      const bool same = item->data(0, kNodeRole).toULongLong() == reinterpret_cast<uintptr_t>(&node) &&
                        item->data(0, kBytesRole).toByteArray() ==
                            QByteArray(node.text().data(), static_cast<qsizetype>(node.text().size())) &&
                        item->data(0, kImagesRole).toPoint() == QPoint(node.image(), node.selected_image());
      if (!same) break;
    }
    // Items from the first mismatch on go; the nodes from there on get new items.
    while (child_count() > static_cast<int>(kept)) {
      const int last = child_count() - 1;
      delete (level.item ? level.item->takeChild(last) : takeTopLevelItem(last));
    }
    QList<QTreeWidgetItem*> added;
    for (size_t i = kept; i < nodes.size(); ++i) {
      auto* item = new QTreeWidgetItem();
      fill_item(item, *nodes[i]);
      added.append(item);
    }
    if (!added.isEmpty()) {
      if (level.item)
        level.item->addChildren(added);
      else
        addTopLevelItems(added);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
      QTreeWidgetItem* item = child_at(static_cast<int>(i));
      if (!nodes[i]->children().empty() || item->childCount() > 0)
        pending.push_back({item, &nodes[i]->children()});
      if (item->isExpanded() != nodes[i]->expanded()) expand.emplace_back(item, nodes[i]->expanded());
    }
  }
  for (auto& [item, open] : expand) item->setExpanded(open);
  syncing_ = false;
}

ui::TreeNode* TreeWidget::node_of(QTreeWidgetItem* item) const {
  if (!item || !view_.window()) return nullptr;
  std::vector<int> path;
  for (QTreeWidgetItem* at = item; at; at = at->parent())
    path.push_back(at->parent() ? at->parent()->indexOfChild(at) : indexOfTopLevelItem(at));
  const std::vector<std::unique_ptr<ui::TreeNode>>* nodes = &tree_.top_level();
  ui::TreeNode* node = nullptr;
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (*it < 0 || static_cast<size_t>(*it) >= nodes->size()) return nullptr;
    node = (*nodes)[static_cast<size_t>(*it)].get();
    nodes = &node->children();
  }
  // The stored address is only compared, never followed; a new node at a freed address must also
  // carry the same text and images to count as the item's.
  const bool same = item->data(0, kNodeRole).toULongLong() == reinterpret_cast<uintptr_t>(node) &&
                    item->data(0, kBytesRole).toByteArray() ==
                        QByteArray(node->text().data(), static_cast<qsizetype>(node->text().size())) &&
                    item->data(0, kImagesRole).toPoint() == QPoint(node->image(), node->selected_image());
  return same ? node : nullptr;
}

void TreeWidget::user_expanded(QTreeWidgetItem* item, bool open) {
  if (syncing_) return;
  ui::TreeNode* node = node_of(item);
  if (!node) return;
  echoing_user_ = true;
  tree_.expand(node, open);
  echoing_user_ = false;
}

QTreeWidgetItem* TreeWidget::item_for(const ui::TreeNode* node) const {
  if (!node) return nullptr;
  std::vector<int> path;
  for (const ui::TreeNode* at = node; at; at = at->parent()) {
    const auto& siblings = at->parent() ? at->parent()->children() : tree_.top_level();
    int index = -1;
    for (size_t i = 0; i < siblings.size(); ++i)
      if (siblings[i].get() == at) index = static_cast<int>(i);
    if (index < 0) return nullptr;
    path.push_back(index);
  }
  QTreeWidgetItem* item = nullptr;
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    item = item ? item->child(*it) : topLevelItem(*it);
    if (!item) return nullptr;
  }
  return item;
}

// ---- ProgressWidget -----------------------------------------------------------------------------

ProgressWidget::ProgressWidget(ui::ProgressBar& bar, QWidget* parent) : QProgressBar(parent), bar_(bar) {
  setTextVisible(false);
  sync_value();
}

void ProgressWidget::sync_value() {
  if (bar_.marquee()) {
    // An empty range is Qt's busy bar, animated continuously.
    setRange(0, 0);
    return;
  }
  setRange(bar_.range_low(), bar_.range_high());
  setValue(bar_.pos());
}

}  // namespace ui::qt
