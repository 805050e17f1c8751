#include "ui/qt/qt_backend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "ui/dialog.h"
#include "ui/headless/headless_backend.h"
#include "ui/message_loop.h"
#include "ui/qt/window_view.h"

namespace ui::qt {

using Clock = std::chrono::steady_clock;

// Receives the wake-up event on the windows' thread.
class QtBackend::Waker : public QObject {
 public:
  Waker(QtBackend& backend, int type) : backend_(backend), type_(type) {}
  bool event(QEvent* event) override {
    if (event->type() != static_cast<QEvent::Type>(type_)) return QObject::event(event);
    backend_.wake_posted_.store(false);
    backend_.run_posted_work();
    return true;
  }

 private:
  QtBackend& backend_;
  int type_;
};

QtBackend::QtBackend() : font_(QApplication::font()) {
  units_ = dialog_units(font_);
  wake_event_type_ = QEvent::registerEventType();
  waker_ = new Waker(*this, wake_event_type_);
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] { run_posted_work(); });
  // A window may set a timer from any handler without waking anyone: the timer is armed afresh
  // whenever the thread is about to sleep.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(waker_->thread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, waker_, [this] { arm_timer(); });
  if (const char* dir = std::getenv("DSMCC_SCREENSHOT_DIR"); dir && *dir) screenshot_dir_ = dir;
}

QtBackend::~QtBackend() {
  // Windows still attached keep their models; their widgets go. A page's view is a child of its
  // window's view and goes with it.
  std::vector<QPointer<WindowView>> views;
  for (auto& [window, view] : views_) {
    const_cast<Dialog*>(window)->set_view(nullptr);
    view->detach();
    views.emplace_back(view);
  }
  views_.clear();
  for (QPointer<WindowView>& view : views) delete view.data();
  delete waker_;
}

void QtBackend::set_dialog_font(const QFont& font) {
  font_ = font;
  units_ = dialog_units(font_);
}

bool QtBackend::on_window_thread() const {
  return QThread::currentThread() == waker_->thread();
}

// ---- views --------------------------------------------------------------------------------------

WindowView* QtBackend::view_of(const Dialog& window) const {
  auto it = views_.find(&window);
  return it == views_.end() ? nullptr : it->second;
}

QWidget* QtBackend::widget_of(const Control& control) const {
  WindowView* view = view_of(control.owner());
  return view ? view->widget_for(control) : nullptr;
}

QWidget* QtBackend::owner_widget(const Dialog& window) const {
  // The parent window, else the innermost modal window that runs now, else the program's window.
  if (window.parent())
    if (WindowView* view = view_of(*window.parent())) return view;
  for (auto it = modal_windows_.rbegin(); it != modal_windows_.rend(); ++it)
    if (*it != &window)
      if (WindowView* view = view_of(**it)) return view;
  return main_window_.data();
}

void QtBackend::attach(Dialog& window) {
  if (!on_window_thread() || views_.count(&window)) return;
  WindowView* view = nullptr;
  if (window.created()) {
    // A page: inside the widget of the control that hosts it, or inside its parent window.
    Dialog* parent = window.parent();
    WindowView* parent_view = parent ? view_of(*parent) : nullptr;
    QWidget* host = parent_view && window.host() ? parent_view->widget_for(*window.host()) : nullptr;
    QWidget* container = host ? host : static_cast<QWidget*>(parent_view);
    view = new WindowView(*this, window, container, container == nullptr);
  } else {
    view = new WindowView(*this, window, owner_widget(window), true);
  }
  views_[&window] = view;
  window.set_view(view);
}

void QtBackend::detach(Dialog& window) {
  auto it = views_.find(&window);
  if (it == views_.end()) return;
  WindowView* view = it->second;
  views_.erase(it);
  window.set_view(nullptr);
  view->detach();
  view->hide();
  // Later, from the event loop: a handler of one of its widgets may be on the stack now.
  view->deleteLater();
}

void QtBackend::flush() {
  for (auto& [window, view] : views_) view->flush();
}

// ---- loops --------------------------------------------------------------------------------------

void QtBackend::wake() {
  if (wake_posted_.exchange(true)) return;
  QCoreApplication::postEvent(waker_, new QEvent(static_cast<QEvent::Type>(wake_event_type_)));
}

void QtBackend::run_posted_work() {
  if (!loops_.empty() && loops_.back() == Loop::pumping_wait) {
    // The dispatching wait runs the work itself: a quit request there ends the wait.
    woken_ = true;
    return;
  }
  // A bounded batch, so that painting and input get their turn between batches.
  constexpr int kBatch = 64;
  int done = 0;
  for (; done < kBatch; ++done) {
    const PumpResult result = dispatch_one();
    if (result == PumpResult::idle) break;
    if (result == PumpResult::quit) {
      if (!modal_windows_.empty())
        answer_quit(*modal_windows_.back());
      else
        QCoreApplication::quit();
    }
    if (!loops_.empty() && loops_.back() == Loop::pumping_wait) break;
  }
  if (done == kBatch) wake();
  arm_timer();
}

void QtBackend::arm_timer() {
  const Clock::time_point due = next_timer_due();
  if (due == Clock::time_point::max()) {
    timer_.stop();
    return;
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
  timer_.start(static_cast<int>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000)));
}

void QtBackend::run_modal_loop(Dialog& window) {
  if (!on_window_thread()) {
    headless::instance().run_modal_loop(window);
    return;
  }
  loops_.push_back(Loop::modal);
  modal_windows_.push_back(&window);
  run_posted_work();
  QEventLoop loop;
  while (!window.ended()) loop.processEvents(QEventLoop::WaitForMoreEvents);
  modal_windows_.pop_back();
  loops_.pop_back();
  // The loop around this one may have work or timers waiting that this loop left.
  wake();
}

void QtBackend::idle_wait(Clock::time_point until) {
  if (!on_window_thread()) {
    Backend::idle_wait(until);
    return;
  }
  const Clock::time_point deadline = std::min(until, next_timer_due());
  loops_.push_back(Loop::pumping_wait);
  woken_ = false;
  QTimer limit;
  limit.setSingleShot(true);
  limit.setTimerType(Qt::PreciseTimer);
  QObject::connect(&limit, &QTimer::timeout, [this] { woken_ = true; });
  if (deadline != Clock::time_point::max()) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    limit.start(static_cast<int>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000)));
  }
  QEventLoop loop;
  // User input waits until the wait is over: a click now could re-enter what is waiting.
  while (!woken_ && Clock::now() < deadline)
    loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
  loops_.pop_back();
  // A wait around this one may have lost its wake-up to this one: let it look again.
  woken_ = true;
}

// ---- message boxes and the folder chooser -------------------------------------------------------

int QtBackend::message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type) {
  if (!on_window_thread()) return headless::instance().message_box(parent, text, caption, type);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (type & 0xF0) {
    case BOX_ICON_ERROR:
      icon = QMessageBox::Critical;
      break;
    case BOX_ICON_WARNING:
      icon = QMessageBox::Warning;
      break;
    case BOX_ICON_INFORMATION:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  if ((type & 0x0F) == BOX_OK_CANCEL) buttons = QMessageBox::Ok | QMessageBox::Cancel;
  if ((type & 0x0F) == BOX_YES_NO) buttons = QMessageBox::Yes | QMessageBox::No;
  QWidget* owner = parent ? view_of(*parent) : nullptr;
  if (!owner) {
    for (auto it = modal_windows_.rbegin(); it != modal_windows_.rend() && !owner; ++it)
      owner = view_of(**it);
  }
  if (!owner) owner = main_window_.data();
  QMessageBox box(icon, QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), buttons, owner);
  box.setObjectName(QStringLiteral("message_box"));
  const int pressed = box.exec();
  int result = RESULT_OK;
  switch (pressed) {
    case QMessageBox::Cancel:
      result = RESULT_CANCEL;
      break;
    case QMessageBox::Yes:
      result = RESULT_YES;
      break;
    case QMessageBox::No:
      result = RESULT_NO;
      break;
    default:
      break;
  }
  std::lock_guard lock(boxes_mutex_);
  shown_boxes_.push_back({std::string(text), std::string(caption), type, result});
  return result;
}

std::vector<ShownBox> QtBackend::shown_message_boxes() const {
  std::lock_guard lock(boxes_mutex_);
  return shown_boxes_;
}

std::string QtBackend::choose_folder(Dialog* parent, std::string_view title) {
  if (folder_answer_) return *folder_answer_;
  if (!on_window_thread()) return headless::instance().choose_folder(parent, title);
  QWidget* owner = parent ? view_of(*parent) : nullptr;
  // The page of a window is a child widget; the chooser belongs to the window around it.
  if (owner) owner = owner->window();
  if (!owner) owner = main_window_.data();
  QFileDialog chooser(owner, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  chooser.setObjectName(QStringLiteral("folder_chooser"));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOption(QFileDialog::ShowDirsOnly);
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
    chooser.setOption(QFileDialog::DontUseNativeDialog);
  if (chooser.exec() != QDialog::Accepted) return {};
  const QStringList chosen = chooser.selectedFiles();
  if (chosen.isEmpty()) return {};
  const QByteArray path = QDir::toNativeSeparators(chosen.first()).toUtf8();
  return std::string(path.constData(), static_cast<size_t>(path.size()));
}

// ---- screenshots --------------------------------------------------------------------------------

QImage QtBackend::window_image(const Dialog& window) {
  WindowView* view = view_of(window);
  if (!view) return {};
  view->flush();
  view->ensurePolished();
  const QPixmap content = view->grab();
  // A plain title bar with the caption, since grab() shows the client area only.
  const QFontMetrics metrics(font_);
  const int title_height = view->is_top_level() ? metrics.height() + 10 : 0;
  QImage image(content.width(), content.height() + title_height, QImage::Format_ARGB32);
  image.fill(view->palette().color(QPalette::Window));
  QPainter painter(&image);
  if (title_height > 0) {
    const QRect bar(0, 0, image.width(), title_height);
    painter.fillRect(bar, view->palette().color(QPalette::Highlight));
    painter.setPen(view->palette().color(QPalette::HighlightedText));
    QFont bold = font_;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(bar.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, view->windowTitle());
  }
  painter.drawPixmap(0, title_height, content);
  painter.setPen(view->palette().color(QPalette::Shadow));
  painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
  return image;
}

bool QtBackend::screenshot(const Dialog& window, std::string_view name) {
  if (screenshot_dir_.empty()) return false;
  const QImage image = window_image(window);
  if (image.isNull()) return false;
  QDir dir(QString::fromStdString(screenshot_dir_));
  if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) return false;
  const QString file =
      dir.filePath(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + ".png");
  return image.save(file, "PNG");
}

void QtBackend::window_closing(WindowView& view) {
  if (screenshot_dir_.empty() || !view.window()) return;
  // The caption as a file name: "DSMCC Scanning" becomes dsmcc-scanning.png.
  std::string name;
  for (char c : view.window()->caption()) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u))
      name += static_cast<char>(std::tolower(u));
    else if (!name.empty() && name.back() != '-')
      name += '-';
  }
  while (!name.empty() && name.back() == '-') name.pop_back();
  if (name.empty()) name = "window-" + std::to_string(view.window()->template_id());
  screenshot(*view.window(), name);
}

}  // namespace ui::qt
