// The Qt 6 Widgets backend of the window layer.
//
//   QApplication app(argc, argv);
//   ui::qt::QtBackend backend;          // on the thread that runs the windows
//   ui::set_backend(&backend);
//   ... windows of the system, run modally as ever ...
//   ui::set_backend(nullptr);           // before the backend goes
//
// Every window gets a widget (WindowView) whose controls mirror the models; the user's input reaches
// the models through their own operations (Button::click, ListBox::click, TabControl::click,
// Edit::set_text, TreeView::expand, Dialog::close, Dialog::press_enter). A modal window runs a
// QEventLoop until it ends. The window thread's posted work and timers run from Qt's event loop,
// whichever loop that is (a modal window's, a message box's, the program's), and a dispatching wait
// (wait_pumping_messages) keeps painting while it waits. Windows created on another thread than the
// one that made the backend are left without widgets and run as the headless backend runs them.
//
// Screenshots: with a folder set (at construction from the environment variable DSMCC_SCREENSHOT_DIR),
// every modal window is written to a PNG file when it closes, and screenshot() writes one on request.
#pragma once

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/backend.h"
#include "ui/qt/dialog_units.h"

namespace ui::qt {

class WindowView;

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  int result = 0;
};

class QtBackend final : public ui::Backend {
 public:
  // Needs the QApplication; the calling thread becomes the windows' thread.
  QtBackend();
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  void attach(Dialog& window) override;
  void detach(Dialog& window) override;
  void run_modal_loop(Dialog& window) override;
  void wake() override;
  int message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type) override;
  std::string choose_folder(Dialog* parent, std::string_view title) override;
  void idle_wait(std::chrono::steady_clock::time_point until) override;

  // The widget that owns modal windows without an owner window of their own (the program's main
  // window); null for none.
  void set_main_window(QWidget* window) { main_window_ = window; }
  // The font of every window; the dialog units follow it. Set it before the first window.
  void set_dialog_font(const QFont& font);
  const QFont& dialog_font() const { return font_; }
  const DialogUnits& units() const { return units_; }

  // ---- for the program, the tests and screenshots
  // The view of a window, or null when it has none (not attached, or run on another thread).
  WindowView* view_of(const Dialog& window) const;
  // The widget of a control, or null.
  QWidget* widget_of(const Control& control) const;
  // The modal windows running now, innermost last.
  const std::vector<Dialog*>& modal_windows() const { return modal_windows_; }
  // Brings every pending tree update of every window onto the screen.
  void flush();
  // The message boxes shown so far, oldest first.
  std::vector<ShownBox> shown_message_boxes() const;
  // Automation: the folder chooser answers this instead of asking while it is set.
  void set_folder_answer(std::optional<std::string> path) { folder_answer_ = std::move(path); }

  void set_screenshot_dir(std::string dir) { screenshot_dir_ = std::move(dir); }
  const std::string& screenshot_dir() const { return screenshot_dir_; }
  // The window as it looks now, under a title bar with its caption.
  QImage window_image(const Dialog& window);
  // Writes window_image() to <screenshot dir>/<name>.png; false without a folder or when writing fails.
  bool screenshot(const Dialog& window, std::string_view name);

  // Called by a top-level view just before it hides.
  void window_closing(WindowView& view);

 private:
  class Waker;
  enum class Loop { modal, pumping_wait };

  bool on_window_thread() const;
  // Runs the thread's posted work and due timers (or, inside a dispatching wait, only notes that
  // something came), then arms the timer for the next due window timer.
  void run_posted_work();
  void arm_timer();
  QWidget* owner_widget(const Dialog& window) const;

  QFont font_;
  DialogUnits units_;
  QObject* waker_ = nullptr;
  int wake_event_type_ = 0;
  std::atomic<bool> wake_posted_{false};
  QTimer timer_;
  std::vector<Loop> loops_;
  std::vector<Dialog*> modal_windows_;
  bool woken_ = false;
  std::unordered_map<const Dialog*, WindowView*> views_;
  QPointer<QWidget> main_window_;
  std::optional<std::string> folder_answer_;
  std::string screenshot_dir_;
  mutable std::mutex boxes_mutex_;
  std::vector<ShownBox> shown_boxes_;
};

}  // namespace ui::qt
