#include "ui/qt/tab_strip.h"

#include <QCursor>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace ui::qt {

namespace {
constexpr int kTabPadding = 8;    // left and right of a tab's text
constexpr int kSelectedLift = 2;  // the selected tab stands this much higher than the others
}  // namespace

TabStrip::TabStrip(QWidget* parent, std::function<void(int)> on_click)
    : QWidget(parent), on_click_(std::move(on_click)) {
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
  pointer_timer_.setInterval(kPointerCheckMs);
  pointer_timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&pointer_timer_, &QTimer::timeout, this, [this] { check_pointer(); });
}

void TabStrip::set_tabs(std::vector<Tab> tabs, int current) {
  tabs_ = std::move(tabs);
  current_ = current;
  if (hot_ >= static_cast<int>(tabs_.size())) hot_ = -1;
  update();
}

int TabStrip::header_height() const {
  return QFontMetrics(font()).height() + 10;
}

QRect TabStrip::tab_rect(int index) const {
  if (index < 0 || index >= static_cast<int>(tabs_.size())) return {};
  const QFontMetrics metrics(font());
  int left = 2;
  for (int i = 0; i < index; ++i)
    left += metrics.horizontalAdvance(tabs_[static_cast<size_t>(i)].text) + 2 * kTabPadding;
  const int width = metrics.horizontalAdvance(tabs_[static_cast<size_t>(index)].text) + 2 * kTabPadding;
  return QRect(left, 0, width, header_height());
}

int TabStrip::tab_at(QPoint point) const {
  for (int i = 0; i < static_cast<int>(tabs_.size()); ++i)
    if (tab_rect(i).contains(point)) return i;
  return -1;
}

void TabStrip::set_hot(int index) {
  if (index == hot_) return;
  hot_ = index;
  update();
}

void TabStrip::check_pointer() {
  const QPoint local = mapFromGlobal(QCursor::pos());
  if (!isVisible() || !rect().contains(local)) {
    pointer_timer_.stop();
    set_hot(-1);
    return;
  }
  set_hot(tab_at(local));
  if (!pointer_timer_.isActive()) pointer_timer_.start();
}

void TabStrip::enterEvent(QEnterEvent*) {
  check_pointer();
}
void TabStrip::leaveEvent(QEvent*) {
  check_pointer();
}
void TabStrip::mouseMoveEvent(QMouseEvent*) {
  check_pointer();
}

void TabStrip::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int index = tab_at(event->position().toPoint());
  if (index >= 0 && on_click_) on_click_(index);
}

void TabStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const int header = header_height();
  const QColor light = pal.color(QPalette::Light);
  const QColor dark = pal.color(QPalette::Dark);
  const QColor shadow = pal.color(QPalette::Shadow);

  // The page area: a raised frame below the tabs.
  const QRect body(0, header - 1, width() - 1, height() - header);
  painter.fillRect(body, pal.color(QPalette::Window));
  painter.setPen(light);
  painter.drawLine(body.topLeft(), body.bottomLeft());
  painter.drawLine(body.topLeft(), body.topRight());
  painter.setPen(shadow);
  painter.drawLine(body.bottomLeft(), body.bottomRight());
  painter.drawLine(body.topRight(), body.bottomRight());

  for (int i = 0; i < static_cast<int>(tabs_.size()); ++i) {
    const Tab& tab = tabs_[static_cast<size_t>(i)];
    const bool selected = i == current_;
    QRect r = tab_rect(i);
    if (!selected) r.adjust(0, kSelectedLift, 0, 0);
    QColor fill = pal.color(QPalette::Window);
    if (i == hot_ && tab.enabled) fill = pal.color(QPalette::Highlight).lighter(170);
    painter.fillRect(r.adjusted(1, 1, -1, selected ? 1 : -1), fill);
    painter.setPen(light);
    painter.drawLine(r.left(), r.bottom(), r.left(), r.top());
    painter.drawLine(r.left(), r.top(), r.right() - 1, r.top());
    painter.setPen(dark);
    painter.drawLine(r.right(), r.top() + 1, r.right(), r.bottom());
    if (!selected) {
      painter.setPen(light);
      painter.drawLine(r.left(), header - 1, r.right(), header - 1);
    }
    painter.setPen(tab.enabled ? pal.color(QPalette::WindowText)
                               : pal.color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(r, Qt::AlignCenter, tab.text);
    if (selected && hasFocus()) painter.drawRect(r.adjusted(3, 3, -4, -4));
  }
}

}  // namespace ui::qt
