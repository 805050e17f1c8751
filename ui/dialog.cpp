#include "ui/dialog.h"

#include <algorithm>

#include "ui/backend.h"
#include "ui/message_loop.h"
#include "ui/thread_queue.h"

namespace ui {

namespace {

std::mutex g_automation_mutex;
AutomationHook g_automation;

AutomationHook automation() {
  std::lock_guard lock(g_automation_mutex);
  return g_automation;
}

std::unique_ptr<Control> make_control(Dialog& owner, resources::ControlKind kind, int id, Rect rect,
                                      std::string_view text, uint32_t style) {
  using K = resources::ControlKind;
  switch (kind) {
    case K::button:
    case K::default_button:
      return std::make_unique<Button>(owner, kind, id, rect, text, style);
    case K::edit:
      return std::make_unique<Edit>(owner, kind, id, rect, text, style);
    case K::list_box:
      return std::make_unique<ListBox>(owner, kind, id, rect, text, style);
    case K::tree_view:
      return std::make_unique<TreeView>(owner, kind, id, rect, text, style);
    case K::tab_control:
      return std::make_unique<TabControl>(owner, kind, id, rect, text, style);
    case K::progress_bar:
      return std::make_unique<ProgressBar>(owner, kind, id, rect, text, style);
    case K::static_text:
      break;
  }
  return std::make_unique<StaticText>(owner, kind, id, rect, text, style);
}

}  // namespace

AutomationHook set_automation(AutomationHook hook) {
  std::lock_guard lock(g_automation_mutex);
  std::swap(g_automation, hook);
  return hook;
}

Dialog::Dialog(int template_id, Dialog* parent) : template_id_(template_id), parent_(parent) {
  if (const auto* layout = resources::find_dialog(template_id)) build(*layout);
  bind_to_current_thread();
}

Dialog::Dialog(const resources::DialogTemplate& layout, Dialog* parent)
    : template_id_(layout.id), parent_(parent) {
  build(layout);
  bind_to_current_thread();
}

Dialog::~Dialog() {
  for (Dialog* child : children_) {
    child->parent_ = nullptr;
    child->host_ = nullptr;
  }
  if (created_ && parent_) {
    std::erase(parent_->children_, this);
    if (auto* strip = dynamic_cast<TabControl*>(host_)) strip->forget_page(this);
  }
  detach_view();
  if (auto q = queue()) q->purge(this);
}

void Dialog::build(const resources::DialogTemplate& layout) {
  caption_.assign(layout.caption);
  rect_ = Rect{0, 0, layout.width, layout.height};
  for (const auto& c : layout.controls)
    controls_.push_back(make_control(*this, c.kind, c.id, c.rect, c.text, c.style));
}

void Dialog::bind_to_current_thread() {
  auto current = detail::current_queue();
  std::shared_ptr<detail::ThreadQueue> previous;
  {
    std::lock_guard lock(queue_mutex_);
    if (queue_ == current) return;
    previous = std::exchange(queue_, current);
  }
  if (previous) previous->purge(this);
}

std::shared_ptr<detail::ThreadQueue> Dialog::queue() const {
  std::lock_guard lock(queue_mutex_);
  return queue_;
}

void Dialog::set_caption(std::string_view caption) {
  if (caption_ == caption) return;
  caption_.assign(caption);
  window_changed(Change::text);
}

void Dialog::move_to(int x, int y) {
  if (rect_.x == x && rect_.y == y) return;
  rect_.x = x;
  rect_.y = y;
  window_changed(Change::geometry);
}

void Dialog::show(bool on) {
  if (visible_ == on) return;
  visible_ = on;
  window_changed(Change::visible);
}

void Dialog::enable(bool on) {
  if (enabled_ == on) return;
  enabled_ = on;
  window_changed(Change::enabled);
}

bool Dialog::accepts_input() const {
  if (!enabled_) return false;
  // A page takes input only while the window around it does; a modal window's owner plays no part.
  return !(created_ && parent_) || parent_->accepts_input();
}

Control* Dialog::control(int id) const {
  for (const auto& c : controls_)
    if (c->id() == id) return c.get();
  return nullptr;
}

Control& Dialog::create_control(resources::ControlKind kind, int id, Rect rect, std::string_view text,
                                uint32_t style) {
  controls_.push_back(make_control(*this, kind, id, rect, text, style));
  window_changed(Change::content);
  return *controls_.back();
}

void Dialog::control_changed(Control& control, Change what) {
  if (view_) view_->control_changed(control, what);
}

void Dialog::window_changed(Change what) {
  if (view_) view_->window_changed(*this, what);
}

void Dialog::attach_view() {
  if (attached_) return;
  attached_ = true;
  backend().attach(*this);
}

void Dialog::detach_view() {
  if (!attached_) return;
  attached_ = false;
  backend().detach(*this);
  view_ = nullptr;
}

// ---- modal use ----------------------------------------------------------------------------------

int Dialog::run_modal() {
  if (running_modal_) return -1;
  bind_to_current_thread();
  auto q = queue();
  Dialog* owner = parent_ ? parent_ : (q->modal_stack.empty() ? nullptr : q->modal_stack.back());

  // Undoes the run's effects on every way out, an exception from the dialog's code included.
  struct Run {
    Dialog& self;
    detail::ThreadQueue& queue;
    Dialog* owner;
    bool owner_was_enabled;
    Run(Dialog& d, detail::ThreadQueue& q, Dialog* o)
        : self(d), queue(q), owner(o), owner_was_enabled(o && o->enabled()) {
      if (owner) owner->enable(false);
      queue.modal_stack.push_back(&self);
      self.running_modal_ = true;
    }
    ~Run() {
      self.show(false);
      self.running_modal_ = false;
      std::erase(queue.modal_stack, &self);
      for (Dialog* child : self.children_) child->detach_view();
      self.detach_view();
      if (owner && owner_was_enabled) owner->enable(true);
      if (self.quit_pending_) {
        self.quit_pending_ = false;
        post_quit_message();
      }
    }
  };

  ended_ = false;
  result_ = 0;
  quit_pending_ = false;
  Run run(*this, *q, owner);
  attach_view();
  OnInitDialog();
  if (!ended_) {
    show(true);
    if (auto hook = automation()) hook(*this);
  }
  if (!ended_) backend().run_modal_loop(*this);
  return result_;
}

void Dialog::end_dialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  // The loop may be asleep when this comes from a timer of another window or from posted work.
  if (auto q = queue()) q->wake_up();
}

void answer_quit(Dialog& window) {
  window.quit_pending_ = true;
  window.close();
}

// ---- child use ----------------------------------------------------------------------------------

void Dialog::create(Dialog& parent, Control* host) {
  if (created_) return;
  bind_to_current_thread();
  parent_ = &parent;
  host_ = host;
  created_ = true;
  parent.children_.push_back(this);
  attach_view();
  OnInitDialog();
  show(true);
}

// ---- commands -----------------------------------------------------------------------------------

void Dialog::on_command(int control_id, Handler handler) {
  on_notify(control_id, Notify::clicked, std::move(handler));
}

void Dialog::on_notify(int control_id, Notify code, Handler handler) {
  handlers_[{control_id, code}] = std::move(handler);
}

void Dialog::command(int control_id, Notify code) {
  auto it = handlers_.find({control_id, code});
  if (it != handlers_.end() && it->second) {
    Handler handler = it->second;  // a handler may replace itself while it runs
    handler();
    return;
  }
  if (code != Notify::clicked) return;
  if (control_id == resources::ID_OK) OnOK();
  if (control_id == resources::ID_CANCEL) OnCancel();
}

void Dialog::press_enter() {
  for (const auto& c : controls_) {
    if (c->kind() == resources::ControlKind::default_button) {
      if (c->accepts_input()) command(c->id());
      return;
    }
  }
  if (accepts_input()) command(resources::ID_OK);
}

void Dialog::close() {
  on_close();
}

void Dialog::on_close() {
  command(resources::ID_CANCEL);
}

// ---- timers and work from other threads ---------------------------------------------------------

void Dialog::set_timer(uint32_t id, uint32_t interval_ms) {
  if (auto q = queue()) q->set_timer(this, id, interval_ms);
}

bool Dialog::kill_timer(uint32_t id) {
  auto q = queue();
  return q && q->kill_timer(this, id);
}

void Dialog::post(std::function<void()> work) {
  if (!work) return;
  if (auto q = queue()) q->push({this, std::move(work), false});
}

void Dialog::post_quit() {
  if (auto q = queue()) q->push({nullptr, {}, true});
}

}  // namespace ui
