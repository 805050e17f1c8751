// The widget of one window of the window layer: a top-level window for a modal dialog, a child widget
// for a page inside another window. It builds one widget per control from the window's layout, placed
// in pixels from dialog units, and keeps them in line with the models through the ViewHook calls.
//
// Trees are brought up to date once the window's thread is back in its event loop, so that a rebuild
// that inserts thousands of nodes one by one costs one walk of the tree, not one per node.
#pragma once

#include <QTimer>
#include <QWidget>
#include <set>
#include <unordered_map>

#include "ui/backend.h"
#include "ui/qt/dialog_units.h"

namespace ui::qt {

class QtBackend;
class TreeWidget;

class WindowView final : public QWidget, public ui::ViewHook {
 public:
  // parent: the owner's widget for a top-level window, the host widget for a page.
  WindowView(QtBackend& backend, ui::Dialog& window, QWidget* parent, bool top_level);
  ~WindowView() override;

  void control_changed(ui::Control& control, ui::Change what) override;
  void window_changed(ui::Dialog& window, ui::Change what) override;

  // The window shown, or null once the view has been detached from it.
  ui::Dialog* window() const { return window_; }
  bool is_top_level() const { return top_level_; }
  // The widget of a control of this window, or null.
  QWidget* widget_for(const ui::Control& control) const;
  // Brings pending tree updates onto the screen now.
  void flush();
  // The window is going away: the widgets stay until deleted but no longer reach the models.
  void detach();
  const DialogUnits& units() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void add_missing_controls();
  QWidget* make_widget(ui::Control& control);
  void place_window();
  void show_top_level(bool on);

  QtBackend& backend_;
  ui::Dialog* window_;
  bool top_level_;
  std::unordered_map<const ui::Control*, QWidget*> widgets_;
  std::set<TreeWidget*> dirty_trees_;
  QTimer sync_timer_;
};

}  // namespace ui::qt
