// Threads, events and the per-thread work queue that the window layer runs on.
//
// Every thread that shows windows has one queue. Work posted to a window lands in the queue of the
// thread that runs the window, and runs there, one piece at a time, from a modal loop or from
// wait_pumping_messages. Timers of the thread's windows fire from the same loops when the queue has
// nothing else to do. A quit request is a queue entry of its own that the loops answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace ui {

// Results and arguments of the waits, with the values the dialogs' own code expects.
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr uint32_t INFINITE = 0xFFFFFFFF;
// The exit code of a thread that has not ended yet.
constexpr uint32_t STILL_ACTIVE = 259;

namespace detail {
struct WaitState;
struct ThreadQueue;
}  // namespace detail

// Something a thread can wait for: an event, or the end of a thread.
class Waitable {
 public:
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;
  virtual ~Waitable();

  // Whether the object is signalled now; does not consume an auto-reset signal.
  bool signaled() const;

 protected:
  Waitable(bool manual_reset, bool initially_signaled);
  void set_signaled();
  void clear_signaled();

 private:
  friend uint32_t wait_for(Waitable& object, uint32_t timeout_ms);
  friend uint32_t wait_pumping_messages(std::span<Waitable* const> handles);
  std::shared_ptr<detail::WaitState> state_;
};

// An event: auto-reset (a successful wait clears it) or manual-reset (stays set until reset()).
class Event : public Waitable {
 public:
  explicit Event(bool manual_reset = false, bool initially_signaled = false);
  void set();
  void reset();
  // Waits up to timeout_ms (INFINITE for no limit); true when the event was signalled.
  bool wait(uint32_t timeout_ms);
};

// A worker thread whose end can be waited for like an event. Created suspended or running; the body's
// result becomes the exit code. Destruction joins the thread; a thread that was never resumed is
// released without running its body. Never destroy a Thread from its own body.
class Thread : public Waitable {
 public:
  using Body = std::function<uint32_t()>;

  explicit Thread(Body body, bool suspended = false);
  ~Thread() override;

  void resume();
  bool finished() const { return signaled(); }
  // The body's result, or STILL_ACTIVE while it runs.
  uint32_t exit_code() const;
  // Waits for the end of the thread; harmless when it already ended.
  void join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Waits for one object up to timeout_ms: WAIT_OBJECT_0 when it was signalled, else WAIT_TIMEOUT.
// Dispatches nothing: a window thread that waits here runs no posted work meanwhile.
uint32_t wait_for(Waitable& object, uint32_t timeout_ms);

// Waits for any of the handles while running the calling thread's posted work and due timers.
// First runs every waiting piece of work; returns 1 as soon as a quit request is taken from the queue
// (the request is consumed). With nothing waiting, returns the index of the first signalled handle
// (consuming an auto-reset signal), or blocks until a handle is signalled or work arrives and starts
// over. A null handle gives WAIT_FAILED. With no handles it runs work until a quit request comes.
uint32_t wait_pumping_messages(std::span<Waitable* const> handles);

// Puts a quit request into the calling thread's queue.
void post_quit_message();

// ---- for backends that run their own loop --------------------------------------------------------

enum class PumpResult {
  idle,        // nothing to run
  dispatched,  // ran one posted function or one timer
  quit,        // took a quit request from the queue
};

// Runs one piece of work of the calling thread's queue: a posted function, or else one due timer.
PumpResult dispatch_one();
// Blocks the calling thread until work is posted to it, a timer of it falls due, or `until` passes.
void wait_for_work(std::chrono::steady_clock::time_point until);
// When the calling thread's next timer falls due (time_point::max() when it has none).
std::chrono::steady_clock::time_point next_timer_due();

}  // namespace ui
