// The narrow seam between the window models and whatever shows them.
//
// A backend attaches a view to each window that is created, runs the loop of a modal window, is woken
// when work is posted from another thread, and shows message boxes. The headless backend (the default)
// keeps everything in memory; a graphical backend mirrors the models into widgets through the window's
// ViewHook and feeds user input back by calling the models' own operations (Button::click,
// ListBox::click, TabControl::click, Dialog::close, ...).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/controls.h"
#include "ui/dialog.h"

namespace ui {

// A window's view, as the backend attached it. Called on the window's thread after every change.
class ViewHook {
 public:
  virtual ~ViewHook() = default;
  virtual void control_changed(Control& control, Change what) = 0;
  virtual void window_changed(Dialog& window, Change what) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // A window was created (modal, before OnInitDialog; or a child page): build its view, if any, and
  // give it to the window with Dialog::set_view.
  virtual void attach(Dialog& window) = 0;
  // The window ends or goes away: drop its view.
  virtual void detach(Dialog& window) = 0;
  // Runs the calling thread's work (posted work, timers; see message_loop.h) until window.ended().
  // A quit request taken from the queue is handed to answer_quit().
  virtual void run_modal_loop(Dialog& window) = 0;
  // Work was posted to, or a handle signalled for, some window thread. Called from any thread.
  virtual void wake() = 0;
  // Shows a message box; returns the button pressed (RESULT_OK, RESULT_CANCEL, RESULT_YES, RESULT_NO).
  virtual int message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type) = 0;
  // Asks the user for a folder to write into ("Save..."): its path, or "" when the user cancelled.
  // The default cancels.
  virtual std::string choose_folder(Dialog* parent, std::string_view title);
  // The answer that automation has settled for yes/no questions (RESULT_YES or RESULT_NO), so that a
  // caller acts on it without putting the question; 0 when questions go to a user (the default).
  virtual int settled_answer() const { return 0; }
  // Sleeps the calling window thread inside a dispatching wait (wait_pumping_messages) until work is
  // posted to it, one of its timers falls due or `until` passes. A graphical backend keeps its own
  // events (painting) flowing meanwhile; the default only sleeps (wait_for_work).
  virtual void idle_wait(std::chrono::steady_clock::time_point until);
};

// What a modal loop does with a quit request it took from the queue: closes the window as the close
// box would, and has the request put back into the queue once this loop has ended, so that the loops
// around it end too.
void answer_quit(Dialog& window);

// The backend in use (the headless one unless another was set). set_backend(nullptr) restores the
// headless backend. Set it before the first window is created.
Backend& backend();
void set_backend(Backend* backend);

// Message box types.
constexpr uint32_t BOX_OK = 0x00;
constexpr uint32_t BOX_OK_CANCEL = 0x01;
constexpr uint32_t BOX_YES_NO = 0x04;
constexpr uint32_t BOX_ICON_ERROR = 0x10;
constexpr uint32_t BOX_ICON_WARNING = 0x30;
constexpr uint32_t BOX_ICON_INFORMATION = 0x40;

// Shows a message box through the backend; returns the button pressed.
int message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type = BOX_OK);
// Asks for a folder through the backend; "" when the user cancelled.
std::string choose_folder(Dialog* parent, std::string_view title);

}  // namespace ui
