#include "ui/qt/window_view.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

#include "ui/qt/control_widgets.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/tab_strip.h"

namespace ui::qt {

namespace {

std::vector<TabStrip::Tab> tabs_of(const ui::TabControl& tabs) {
  std::vector<TabStrip::Tab> out;
  for (int i = 0; i < tabs.count(); ++i) out.push_back({display_text(tabs.tab_text(i)), tabs.tab_enabled(i)});
  return out;
}

}  // namespace

WindowView::WindowView(QtBackend& backend, ui::Dialog& window, QWidget* parent, bool top_level)
    : QWidget(parent, top_level ? Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                      Qt::WindowSystemMenuHint
                                : Qt::Widget),
      backend_(backend),
      window_(&window),
      top_level_(top_level) {
  setFont(backend.dialog_font());
  // A page lets the frame of the tab strip around it show.
  setAutoFillBackground(top_level);
  if (top_level_) {
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(display_text(window.caption()));
  }
  sync_timer_.setSingleShot(true);
  sync_timer_.setInterval(0);
  QObject::connect(&sync_timer_, &QTimer::timeout, this, [this] { flush(); });
  place_window();
  add_missing_controls();
  setVisible(!top_level_ && window.visible());
}

WindowView::~WindowView() = default;

const DialogUnits& WindowView::units() const {
  return backend_.units();
}

void WindowView::detach() {
  window_ = nullptr;
  sync_timer_.stop();
  dirty_trees_.clear();
}

QWidget* WindowView::widget_for(const ui::Control& control) const {
  auto it = widgets_.find(&control);
  return it == widgets_.end() ? nullptr : it->second;
}

void WindowView::place_window() {
  if (!window_) return;
  const QRect r = units().rect(window_->rect());
  if (top_level_) {
    setFixedSize(r.size());
  } else {
    setGeometry(r);
  }
}

void WindowView::add_missing_controls() {
  if (!window_) return;
  for (const auto& control : window_->controls()) {
    if (widgets_.count(control.get())) continue;
    QWidget* widget = make_widget(*control);
    widgets_[control.get()] = widget;
    widget->setObjectName(QStringLiteral("control_%1").arg(control->id()));
    widget->setProperty("control_id", control->id());
    widget->setGeometry(units().rect(control->rect()));
    widget->setEnabled(control->enabled());
    widget->setVisible(control->visible());
  }
}

QWidget* WindowView::make_widget(ui::Control& control) {
  using K = resources::ControlKind;
  switch (control.kind()) {
    case K::button:
    case K::default_button:
      return new ButtonWidget(*this, static_cast<ui::Button&>(control), this);
    case K::edit:
      return new EditWidget(*this, static_cast<ui::Edit&>(control), this);
    case K::list_box:
      return new ListWidget(*this, static_cast<ui::ListBox&>(control), this);
    case K::tree_view:
      return new TreeWidget(*this, static_cast<ui::TreeView&>(control), this);
    case K::progress_bar:
      return new ProgressWidget(static_cast<ui::ProgressBar&>(control), this);
    case K::tab_control: {
      auto& tabs = static_cast<ui::TabControl&>(control);
      auto* strip = new TabStrip(this, [this, &tabs](int index) {
        if (window_) tabs.click(index);
      });
      strip->set_tabs(tabs_of(tabs), tabs.cur_sel());
      return strip;
    }
    case K::static_text:
      break;
  }
  auto* label = new QLabel(display_text(control.text()), this);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

void WindowView::control_changed(ui::Control& control, ui::Change what) {
  QWidget* widget = widget_for(control);
  if (!widget) return;
  switch (what) {
    case ui::Change::text:
      if (auto* edit = dynamic_cast<EditWidget*>(widget))
        edit->sync_text();
      else if (auto* button = dynamic_cast<QPushButton*>(widget))
        button->setText(display_text(control.text()));
      else if (auto* label = dynamic_cast<QLabel*>(widget))
        label->setText(display_text(control.text()));
      break;
    case ui::Change::enabled:
      widget->setEnabled(control.enabled());
      break;
    case ui::Change::visible:
      widget->setVisible(control.visible());
      break;
    case ui::Change::geometry:
      widget->setGeometry(units().rect(control.rect()));
      break;
    case ui::Change::style:
      if (auto* tree = dynamic_cast<TreeWidget*>(widget)) tree->sync_style();
      break;
    case ui::Change::content:
    case ui::Change::expanded:
      if (auto* list = dynamic_cast<ListWidget*>(widget)) {
        list->sync_entries();
      } else if (auto* tree = dynamic_cast<TreeWidget*>(widget)) {
        if (what == ui::Change::expanded && tree->echoing_user()) break;
        dirty_trees_.insert(tree);
        if (!sync_timer_.isActive()) sync_timer_.start();
      } else if (auto* strip = dynamic_cast<TabStrip*>(widget)) {
        auto& tabs = static_cast<ui::TabControl&>(control);
        strip->set_tabs(tabs_of(tabs), tabs.cur_sel());
      }
      break;
    case ui::Change::selection:
      if (auto* list = dynamic_cast<ListWidget*>(widget)) {
        list->sync_selection();
      } else if (auto* strip = dynamic_cast<TabStrip*>(widget)) {
        auto& tabs = static_cast<ui::TabControl&>(control);
        strip->set_tabs(tabs_of(tabs), tabs.cur_sel());
      }
      break;
    case ui::Change::value:
      if (auto* bar = dynamic_cast<ProgressWidget*>(widget)) bar->sync_value();
      break;
    case ui::Change::images:
      if (auto* tree = dynamic_cast<TreeWidget*>(widget)) tree->sync_images();
      break;
  }
}

void WindowView::flush() {
  if (!window_) return;
  sync_timer_.stop();
  const std::set<TreeWidget*> trees = std::move(dirty_trees_);
  dirty_trees_.clear();
  for (TreeWidget* tree : trees) tree->sync();
}

void WindowView::window_changed(ui::Dialog& window, ui::Change what) {
  switch (what) {
    case ui::Change::text:
      if (top_level_) setWindowTitle(display_text(window.caption()));
      break;
    case ui::Change::visible:
      if (top_level_)
        show_top_level(window.visible());
      else
        setVisible(window.visible());
      break;
    case ui::Change::enabled:
      // A modal window's owner is shut off by the modal window itself; a page greys out.
      if (!top_level_) setEnabled(window.enabled());
      break;
    case ui::Change::geometry:
      place_window();
      break;
    case ui::Change::content:
      add_missing_controls();
      break;
    default:
      break;
  }
}

void WindowView::show_top_level(bool on) {
  if (!on) {
    backend_.window_closing(*this);
    hide();
    return;
  }
  // Centred over the owner, or over the screen without one.
  const QRect frame = parentWidget() && parentWidget()->isVisible() ? parentWidget()->frameGeometry()
                      : screen()                                    ? screen()->availableGeometry()
                                                                    : QRect();
  if (frame.isValid()) move(frame.center() - QPoint(width() / 2, height() / 2));
  show();
  // Platforms without a window manager (offscreen) have no stacking to change.
  const QString platform = QGuiApplication::platformName();
  if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
    raise();
    activateWindow();
  }
}

void WindowView::closeEvent(QCloseEvent* event) {
  // The close box asks the window; it ends itself (or not) through its own code.
  event->ignore();
  if (window_ && top_level_) window_->close();
}

void WindowView::keyPressEvent(QKeyEvent* event) {
  if (!top_level_ || !window_) {
    event->ignore();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      window_->press_enter();
      return;
    case Qt::Key_Escape:
      window_->close();
      return;
    default:
      event->ignore();
  }
}

}  // namespace ui::qt
