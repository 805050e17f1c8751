// The analysis window's tab strip, drawn by us: a row of tabs over a framed page area. The tab under
// the pointer is drawn highlighted; while the pointer is over the strip its position is checked every
// 10 ms, and the highlight goes when it leaves. A disabled tab is drawn grey; clicking it is handed to
// the model like any other click, which refuses it.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace ui::qt {

class TabStrip : public QWidget {
 public:
  struct Tab {
    QString text;
    bool enabled = true;
  };
  static constexpr int kPointerCheckMs = 10;

  // on_click receives the index of the tab clicked.
  TabStrip(QWidget* parent, std::function<void(int)> on_click);

  void set_tabs(std::vector<Tab> tabs, int current);
  const std::vector<Tab>& tabs() const { return tabs_; }
  int current() const { return current_; }
  // The highlighted tab (the one under the pointer), or -1.
  int hot() const { return hot_; }
  bool tracking_pointer() const { return pointer_timer_.isActive(); }

  // The tab at a point of the widget, or -1.
  int tab_at(QPoint point) const;
  QRect tab_rect(int index) const;
  int header_height() const;

  // Looks where the pointer is now: highlights the tab under it, and keeps checking every 10 ms
  // while it stays over the strip.
  void check_pointer();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void set_hot(int index);

  std::vector<Tab> tabs_;
  int current_ = -1;
  int hot_ = -1;
  std::function<void(int)> on_click_;
  QTimer pointer_timer_;
};

}  // namespace ui::qt
