// A window made from a dialog layout of resources/: a modal dialog (run_modal) or a child page inside
// another window (create). The controls of the layout exist from construction on, so a dialog's code
// can fill them before, during and after the window is shown.
//
// Everything here runs on the window's thread (the thread that constructed or runs it), except post()
// and post_quit(), which any thread may call while the window exists.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resources/resources.h"
#include "ui/controls.h"

namespace ui {

class ViewHook;
namespace detail {
struct ThreadQueue;
}

// Results of a dialog and of a message box.
constexpr int RESULT_OK = 1;
constexpr int RESULT_CANCEL = 2;
constexpr int RESULT_YES = 6;
constexpr int RESULT_NO = 7;

class Dialog {
 public:
  using Handler = std::function<void()>;

  // From the module's layout with this id; an unknown id gives an empty window of size 0 without
  // controls, whose control lookups then answer null.
  explicit Dialog(int template_id, Dialog* parent = nullptr);
  explicit Dialog(const resources::DialogTemplate& layout, Dialog* parent = nullptr);
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog();

  int template_id() const { return template_id_; }
  const std::string& caption() const { return caption_; }
  void set_caption(std::string_view caption);
  // The owner of a modal window or the parent window of a child page.
  Dialog* parent() const { return parent_; }
  // Where the window stands (a page: inside its parent, relative to its host control) and its client
  // size, in dialog units.
  Rect rect() const { return rect_; }
  int width() const { return rect_.width; }
  int height() const { return rect_.height; }
  // Moves the window, keeping its size.
  void move_to(int x, int y);

  bool visible() const { return visible_; }
  void show(bool on = true);
  bool enabled() const { return enabled_; }
  void enable(bool on = true);
  // Whether user input reaches the window: it is enabled, and for a page its parent accepts input too.
  bool accepts_input() const;

  // ---- controls
  // The control with this id (the first one, for labels sharing ID_STATIC), or null.
  Control* control(int id) const;
  // Typed access: null when there is no such control or it is of another kind.
  Button* button(int id) const { return dynamic_cast<Button*>(control(id)); }
  Edit* edit(int id) const { return dynamic_cast<Edit*>(control(id)); }
  StaticText* static_text(int id) const { return dynamic_cast<StaticText*>(control(id)); }
  ListBox* list_box(int id) const { return dynamic_cast<ListBox*>(control(id)); }
  TreeView* tree(int id) const { return dynamic_cast<TreeView*>(control(id)); }
  TabControl* tabs(int id) const { return dynamic_cast<TabControl*>(control(id)); }
  ProgressBar* progress(int id) const { return dynamic_cast<ProgressBar*>(control(id)); }
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
  // Adds a control that the layout does not hold (a progress bar placed at initialisation, say).
  Control& create_control(resources::ControlKind kind, int id, Rect rect, std::string_view text = {},
                          uint32_t style = 0);

  // ---- modal use
  // Shows the window over its owner (the parent, or else the innermost modal window of this thread),
  // disables the owner, runs OnInitDialog, calls the automation hook, and runs the thread's work and
  // timers until end_dialog. Returns end_dialog's result.
  int run_modal();
  // Ends the modal loop once the current piece of work returns; the first result given wins. Also
  // valid inside OnInitDialog, in which case the window never shows.
  void end_dialog(int result);
  bool running_modal() const { return running_modal_; }
  bool ended() const { return ended_; }
  int result() const { return result_; }

  // ---- child use
  // Makes this window a child page of parent, hosted by one of parent's controls (the tab strip, or
  // null), and runs OnInitDialog. The page is shown; a tab strip hides the pages of unselected tabs.
  void create(Dialog& parent, Control* host = nullptr);
  bool created() const { return created_; }
  Control* host() const { return host_; }
  // The child pages created on this window, in order of creation.
  const std::vector<Dialog*>& children() const { return children_; }

  // ---- commands
  // Runs handler when the control reports code (Notify::clicked for on_command). A later registration
  // for the same control and code replaces the earlier one.
  void on_command(int control_id, Handler handler);
  void on_notify(int control_id, Notify code, Handler handler);
  // Dispatches a control's report: the registered handler, else for a click on ID_OK OnOK() and on
  // ID_CANCEL OnCancel().
  void command(int control_id, Notify code = Notify::clicked);
  // Enter: clicks the default button, or OnOK() when there is none.
  void press_enter();
  // The close box and Escape: on_close().
  void close();

  // ---- timers: on_timer(id) runs on the window's thread every interval_ms while the thread's loop has
  // nothing else to do. Setting an existing id restarts it with the new interval.
  void set_timer(uint32_t id, uint32_t interval_ms);
  bool kill_timer(uint32_t id);

  // ---- work from other threads
  // Runs work on the window's thread, from its modal loop or a dispatching wait, in order of posting.
  // Work still queued when the window is destroyed is dropped.
  void post(std::function<void()> work);
  // A quit request to the window's thread (see wait_pumping_messages).
  void post_quit();

  // ---- for backends
  void set_view(ViewHook* view) { view_ = view; }
  ViewHook* view() const { return view_; }
  bool attached() const { return attached_; }
  // Called by the controls.
  void control_changed(Control& control, Change what);

 protected:
  // Runs once when the window is created (modal or child), after its controls exist.
  virtual bool OnInitDialog() { return true; }
  // Default reactions of ID_OK and ID_CANCEL: end the modal loop with that result.
  virtual void OnOK() { end_dialog(RESULT_OK); }
  virtual void OnCancel() { end_dialog(RESULT_CANCEL); }
  // The close box and Escape: a click on ID_CANCEL (its handler, or else OnCancel()).
  virtual void on_close();
  virtual void on_timer(uint32_t id) { (void)id; }

 private:
  friend struct detail::ThreadQueue;
  friend void answer_quit(Dialog& window);
  void build(const resources::DialogTemplate& layout);
  void bind_to_current_thread();
  std::shared_ptr<detail::ThreadQueue> queue() const;
  void window_changed(Change what);
  void attach_view();
  void detach_view();

  int template_id_ = 0;
  std::string caption_;
  Rect rect_;
  Dialog* parent_ = nullptr;
  Control* host_ = nullptr;
  bool visible_ = false;
  bool enabled_ = true;
  bool created_ = false;
  bool attached_ = false;
  bool running_modal_ = false;
  bool ended_ = false;
  bool quit_pending_ = false;
  int result_ = 0;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<Dialog*> children_;
  std::map<std::pair<int, Notify>, Handler> handlers_;
  ViewHook* view_ = nullptr;
  mutable std::mutex queue_mutex_;
  std::shared_ptr<detail::ThreadQueue> queue_;
};

// ---- automation: a program drives the windows as a user would.
// Called on the window's thread once a modal window has run OnInitDialog (and not already ended), with
// the window; every nested modal window gets its own call. The hook may change controls, click
// buttons (which may run further modal windows inside the call), keep the window to post to it later
// from another thread, or end it.
using AutomationHook = std::function<void(Dialog&)>;
// Installs the hook for every thread (an empty one removes it); returns the previous hook.
AutomationHook set_automation(AutomationHook hook);

}  // namespace ui
