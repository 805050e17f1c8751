// The widgets that show the window layer's controls. Each one mirrors its model (the control) and
// hands the user's input to the model's own operations; it never changes what it shows on its own, the
// model's change notification does that. Once the window's view is detached (the window ended) the
// widgets stay on screen until they are deleted but no longer reach the model.
#pragma once

#include <QHash>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>
#include <cstdint>
#include <string_view>
#include <utility>

#include "ui/controls.h"

namespace ui::qt {

class WindowView;

// A text of the models as shown: valid UTF-8 is kept; control bytes and bytes that are not UTF-8 are
// written as "\xHH", so that a name from the broadcast can neither break a line nor vanish.
QString display_text(std::string_view bytes);

class ButtonWidget : public QPushButton {
 public:
  ButtonWidget(WindowView& view, ui::Button& button, QWidget* parent);

 private:
  WindowView& view_;
  ui::Button& button_;
};

class EditWidget : public QLineEdit {
 public:
  EditWidget(WindowView& view, ui::Edit& edit, QWidget* parent);
  void sync_text();

 private:
  WindowView& view_;
  ui::Edit& edit_;
};

class ListWidget : public QListWidget {
 public:
  ListWidget(WindowView& view, ui::ListBox& list, QWidget* parent);
  void sync_entries();
  void sync_selection();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  ui::ListBox* model() const;
  // A user's click on a row, with the keyboard modifiers held.
  void user_click(int row, Qt::KeyboardModifiers modifiers);

  WindowView& view_;
  ui::ListBox& list_;
  int anchor_ = -1;
  bool syncing_ = false;
};

class TreeWidget : public QTreeWidget {
 public:
  static constexpr int kNodeRole = Qt::UserRole;        // the model node's address
  static constexpr int kBytesRole = Qt::UserRole + 1;   // the model text's bytes
  static constexpr int kImagesRole = Qt::UserRole + 2;  // (image, selected image) as a point

  TreeWidget(WindowView& view, ui::TreeView& tree, QWidget* parent);
  // Brings the items in line with the model's nodes: texts, images, expanded states. Items whose node
  // is unchanged are kept (with their selection and scroll position).
  void sync();
  void sync_style();
  void sync_images();
  // The item that shows this node, or null; only valid right after a sync.
  QTreeWidgetItem* item_for(const ui::TreeNode* node) const;
  // True while the widget hands an expansion of the user to the model: the widget already shows it.
  bool echoing_user() const { return echoing_user_; }

 protected:
  // Dotted lines between the nodes and boxed expand buttons, as the tree's style asks.
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

 private:
  // The model node an item stands for, checked against the live model by the item's position; null
  // when the item is stale (the model changed and the sync is still to come).
  ui::TreeNode* node_of(QTreeWidgetItem* item) const;
  void user_expanded(QTreeWidgetItem* item, bool open);
  QIcon icon_for(int image, int selected_image);
  void fill_item(QTreeWidgetItem* item, const ui::TreeNode& node);

  WindowView& view_;
  ui::TreeView& tree_;
  QHash<quint64, QIcon> icons_;  // by (image << 32 | selected_image)
  uint32_t style_ = 0;
  bool syncing_ = false;
  bool echoing_user_ = false;
};

class ProgressWidget : public QProgressBar {
 public:
  ProgressWidget(ui::ProgressBar& bar, QWidget* parent);
  void sync_value();

 private:
  ui::ProgressBar& bar_;
};

}  // namespace ui::qt
