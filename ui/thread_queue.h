// Inside the window layer: the work queue of one thread. Not for use outside ui/.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ui {
class Dialog;
}

namespace ui::detail {

using Clock = std::chrono::steady_clock;

struct ThreadQueue {
  struct Item {
    Dialog* target = nullptr;  // null for a quit request
    std::function<void()> work;
    bool quit = false;
  };
  struct Timer {
    Dialog* window = nullptr;
    uint32_t id = 0;
    Clock::duration interval{};
    Clock::time_point due{};
  };

  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Item> items;
  std::vector<Timer> timers;
  bool woken = false;
  // The modal windows running on this thread, innermost last. Touched by the owning thread only.
  std::vector<Dialog*> modal_stack;

  // Any thread.
  void push(Item item);
  void wake_up();
  // The owning thread: forgets the window's queued work and timers.
  void purge(Dialog* window);
  void set_timer(Dialog* window, uint32_t id, uint32_t interval_ms);
  bool kill_timer(Dialog* window, uint32_t id);
  // Calls the window's on_timer (the queue is a friend of Dialog).
  static void fire(Dialog* window, uint32_t id);
};

// The calling thread's queue, created on first use.
std::shared_ptr<ThreadQueue> current_queue();

}  // namespace ui::detail
