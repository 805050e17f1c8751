#include "ui/message_loop.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/thread_queue.h"

namespace ui {

namespace detail {

// Below this a timer would keep a loop busy without ever letting it wait.
constexpr uint32_t MIN_TIMER_INTERVAL_MS = 1;

void ThreadQueue::push(Item item) {
  {
    std::lock_guard lock(mutex);
    items.push_back(std::move(item));
  }
  cv.notify_all();
  backend().wake();
}

void ThreadQueue::wake_up() {
  {
    std::lock_guard lock(mutex);
    woken = true;
  }
  cv.notify_all();
  backend().wake();
}

void ThreadQueue::purge(Dialog* window) {
  std::deque<Item> dropped;  // destroyed outside the lock: a work's captures may post again
  {
    std::lock_guard lock(mutex);
    for (auto it = items.begin(); it != items.end();) {
      if (it->target == window) {
        dropped.push_back(std::move(*it));
        it = items.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(timers, [window](const Timer& t) { return t.window == window; });
    std::erase(modal_stack, window);
  }
}

void ThreadQueue::set_timer(Dialog* window, uint32_t id, uint32_t interval_ms) {
  const auto interval = std::chrono::milliseconds(std::max(interval_ms, MIN_TIMER_INTERVAL_MS));
  std::lock_guard lock(mutex);
  const auto due = Clock::now() + interval;
  for (auto& t : timers) {
    if (t.window == window && t.id == id) {
      t.interval = interval;
      t.due = due;
      return;
    }
  }
  timers.push_back({window, id, interval, due});
}

bool ThreadQueue::kill_timer(Dialog* window, uint32_t id) {
  std::lock_guard lock(mutex);
  return std::erase_if(timers, [&](const Timer& t) { return t.window == window && t.id == id; }) > 0;
}

void ThreadQueue::fire(Dialog* window, uint32_t id) {
  window->on_timer(id);
}

std::shared_ptr<ThreadQueue> current_queue() {
  thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  return queue;
}

// The shared state of a Waitable: its signal and the window threads that wait for it while pumping.
struct WaitState {
  std::mutex mutex;
  std::condition_variable cv;
  bool signaled = false;
  bool manual_reset = false;
  std::vector<std::shared_ptr<ThreadQueue>> pumping_waiters;

  void set() {
    std::vector<std::shared_ptr<ThreadQueue>> waiters;
    {
      std::lock_guard lock(mutex);
      signaled = true;
      waiters = pumping_waiters;
    }
    cv.notify_all();
    for (auto& q : waiters) q->wake_up();
  }
  void reset() {
    std::lock_guard lock(mutex);
    signaled = false;
  }
  // Takes the signal: an auto-reset object is cleared by a successful take.
  bool try_acquire() {
    std::lock_guard lock(mutex);
    if (!signaled) return false;
    if (!manual_reset) signaled = false;
    return true;
  }
  void add_waiter(const std::shared_ptr<ThreadQueue>& q) {
    std::lock_guard lock(mutex);
    pumping_waiters.push_back(q);
  }
  void remove_waiter(const std::shared_ptr<ThreadQueue>& q) {
    std::lock_guard lock(mutex);
    auto it = std::find(pumping_waiters.begin(), pumping_waiters.end(), q);
    if (it != pumping_waiters.end()) pumping_waiters.erase(it);
  }
};

}  // namespace detail

using detail::Clock;
using detail::ThreadQueue;

// ---- Waitable, Event ----------------------------------------------------------------------------

Waitable::Waitable(bool manual_reset, bool initially_signaled)
    : state_(std::make_shared<detail::WaitState>()) {
  state_->manual_reset = manual_reset;
  state_->signaled = initially_signaled;
}

Waitable::~Waitable() = default;

bool Waitable::signaled() const {
  std::lock_guard lock(state_->mutex);
  return state_->signaled;
}

void Waitable::set_signaled() {
  state_->set();
}
void Waitable::clear_signaled() {
  state_->reset();
}

Event::Event(bool manual_reset, bool initially_signaled) : Waitable(manual_reset, initially_signaled) {}
void Event::set() {
  set_signaled();
}
void Event::reset() {
  clear_signaled();
}
bool Event::wait(uint32_t timeout_ms) {
  return wait_for(*this, timeout_ms) == WAIT_OBJECT_0;
}

uint32_t wait_for(Waitable& object, uint32_t timeout_ms) {
  auto& s = *object.state_;
  std::unique_lock lock(s.mutex);
  auto ready = [&] { return s.signaled; };
  if (timeout_ms == INFINITE) {
    s.cv.wait(lock, ready);
  } else if (!s.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!s.manual_reset) s.signaled = false;
  return WAIT_OBJECT_0;
}

// ---- Thread -------------------------------------------------------------------------------------

struct Thread::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  bool resumed = false;
  bool abandoned = false;
  std::atomic<uint32_t> exit_code{STILL_ACTIVE};
  std::thread thread;
};

Thread::Thread(Body body, bool suspended) : Waitable(true, false), impl_(std::make_unique<Impl>()) {
  impl_->resumed = !suspended;
  impl_->thread = std::thread([this, body = std::move(body)]() mutable {
    {
      std::unique_lock lock(impl_->mutex);
      impl_->cv.wait(lock, [this] { return impl_->resumed || impl_->abandoned; });
      if (!impl_->resumed) return;  // released without ever running
    }
    uint32_t code = WAIT_FAILED;
    try {
      code = body();
    } catch (...) {
      // A body must not throw; the thread then ends with a failure code instead of ending the process.
    }
    impl_->exit_code = code;
    set_signaled();
  });
}

Thread::~Thread() {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->resumed) impl_->abandoned = true;
  }
  impl_->cv.notify_all();
  if (impl_->thread.joinable()) {
    if (impl_->thread.get_id() == std::this_thread::get_id())
      impl_->thread.detach();
    else
      impl_->thread.join();
  }
}

void Thread::resume() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->abandoned) return;
    impl_->resumed = true;
  }
  impl_->cv.notify_all();
}

uint32_t Thread::exit_code() const {
  return impl_->exit_code.load();
}

void Thread::join() {
  if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id()) impl_->thread.join();
}

// ---- the calling thread's queue -----------------------------------------------------------------

void post_quit_message() {
  ThreadQueue::Item item;
  item.quit = true;
  detail::current_queue()->push(std::move(item));
}

PumpResult dispatch_one() {
  auto q = detail::current_queue();
  std::unique_lock lock(q->mutex);
  if (!q->items.empty()) {
    ThreadQueue::Item item = std::move(q->items.front());
    q->items.pop_front();
    lock.unlock();
    if (item.quit) return PumpResult::quit;
    if (item.work) item.work();
    return PumpResult::dispatched;
  }
  // Timers fire only when nothing else waits, the earliest due first; each is rearmed from now, so a
  // slow handler delays its timer instead of piling up ticks.
  const auto now = Clock::now();
  ThreadQueue::Timer* earliest = nullptr;
  for (auto& t : q->timers)
    if (t.due <= now && (!earliest || t.due < earliest->due)) earliest = &t;
  if (!earliest) return PumpResult::idle;
  earliest->due = now + earliest->interval;
  Dialog* window = earliest->window;
  const uint32_t id = earliest->id;
  lock.unlock();
  ThreadQueue::fire(window, id);
  return PumpResult::dispatched;
}

Clock::time_point next_timer_due() {
  auto q = detail::current_queue();
  std::lock_guard lock(q->mutex);
  auto due = Clock::time_point::max();
  for (const auto& t : q->timers) due = std::min(due, t.due);
  return due;
}

void wait_for_work(Clock::time_point until) {
  auto q = detail::current_queue();
  std::unique_lock lock(q->mutex);
  auto deadline = until;
  for (const auto& t : q->timers) deadline = std::min(deadline, t.due);
  auto ready = [&] { return !q->items.empty() || q->woken; };
  if (deadline == Clock::time_point::max())
    q->cv.wait(lock, ready);
  else
    q->cv.wait_until(lock, deadline, ready);
  q->woken = false;
}

uint32_t wait_pumping_messages(std::span<Waitable* const> handles) {
  for (Waitable* h : handles)
    if (!h) return WAIT_FAILED;
  auto q = detail::current_queue();

  // Registered for the whole wait, so that a signal between the check and the sleep still wakes it.
  struct Registration {
    std::span<Waitable* const> handles;
    const std::shared_ptr<ThreadQueue>& queue;
    Registration(std::span<Waitable* const> h, const std::shared_ptr<ThreadQueue>& q) : handles(h), queue(q) {
      for (Waitable* w : handles) w->state_->add_waiter(queue);
    }
    ~Registration() {
      for (Waitable* w : handles) w->state_->remove_waiter(queue);
    }
  } registration(handles, q);

  for (;;) {
    // Everything already waiting runs first; each timer that is due fires once per round, so a timer
    // faster than its handler cannot keep the handles from being looked at.
    for (;;) {
      std::unique_lock lock(q->mutex);
      if (q->items.empty()) break;
      ThreadQueue::Item item = std::move(q->items.front());
      q->items.pop_front();
      lock.unlock();
      if (item.quit) return 1;
      if (item.work) item.work();
    }
    std::vector<std::pair<Dialog*, uint32_t>> due;
    {
      std::lock_guard lock(q->mutex);
      const auto now = Clock::now();
      for (auto& t : q->timers) {
        if (t.due > now) continue;
        t.due = now + t.interval;
        due.emplace_back(t.window, t.id);
      }
    }
    for (auto& [window, id] : due) {
      // A timer killed by an earlier handler of this round does not fire.
      bool alive;
      {
        std::lock_guard lock(q->mutex);
        alive = std::any_of(q->timers.begin(), q->timers.end(),
                            [&, window = window, id = id](const ThreadQueue::Timer& t) {
                              return t.window == window && t.id == id;
                            });
      }
      if (alive) ThreadQueue::fire(window, id);
    }
    // Work that the handlers posted runs in the next round, after the handles have been looked at.

    for (size_t i = 0; i < handles.size(); ++i)
      if (handles[i]->state_->try_acquire()) return static_cast<uint32_t>(i);

    backend().idle_wait(Clock::time_point::max());
  }
}

}  // namespace ui
