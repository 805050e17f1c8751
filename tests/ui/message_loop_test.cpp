// The thread side of the window layer: modal loops with timers and posted work, events, threads, and
// the dispatching wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/ui/test_windows.h"

namespace {

using namespace uitest;
using namespace std::chrono_literals;

TEST(ModalLoop, TimersFireOnTheWindowThreadUntilKilled) {
  ScriptedDialog window(layout(1));
  const auto window_thread = std::this_thread::get_id();
  int fast = 0, slow = 0;
  bool on_own_thread = true;
  window.init = [](ScriptedDialog& d) {
    d.set_timer(1, 2);
    d.set_timer(2, 15);
  };
  window.timer = [&](ScriptedDialog& d, uint32_t id) {
    on_own_thread = on_own_thread && std::this_thread::get_id() == window_thread;
    if (id == 1 && ++fast == 5) {
      EXPECT_TRUE(d.kill_timer(1));
    }
    if (id == 2 && ++slow == 3) d.end_dialog(1);
  };
  EXPECT_EQ(window.run_modal(), 1);
  EXPECT_EQ(fast, 5);  // killed: no tick after the fifth
  EXPECT_EQ(slow, 3);
  EXPECT_TRUE(on_own_thread);
  EXPECT_FALSE(window.kill_timer(1));
}

TEST(ModalLoop, WorkPostedFromOtherThreadsRunsOnTheWindowThreadInOrder) {
  ScriptedDialog window(layout(1));
  const auto window_thread = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<bool> wrong_thread{false};
  std::thread poster;
  window.init = [&](ScriptedDialog& d) {
    poster = std::thread([&] {
      for (int i = 0; i < 100; ++i) {
        d.post([&, i] {
          if (std::this_thread::get_id() != window_thread) wrong_thread = true;
          order.push_back(i);
          if (i == 99) d.end_dialog(1);
        });
        if (i % 10 == 0) std::this_thread::sleep_for(1ms);  // lets the loop fall asleep in between
      }
    });
  };
  EXPECT_EQ(window.run_modal(), 1);
  poster.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_FALSE(wrong_thread);
}

TEST(ModalLoop, WorkQueuedForAWindowThatGoesAwayIsDropped) {
  ScriptedDialog outer(layout(1));
  bool ran = false;
  outer.init = [&](ScriptedDialog& d) {
    {
      ui::Dialog gone(layout(2));
      gone.post([&] { ran = true; });
    }
    d.post([&d] { d.end_dialog(1); });
  };
  outer.run_modal();
  EXPECT_FALSE(ran);
}

TEST(ModalLoop, AQuitRequestClosesTheInnerWindowAndThenReachesTheOuterLoop) {
  ScriptedDialog outer(layout(1));
  std::vector<std::string> events;
  outer.on_command(resources::ID_CANCEL, [&] {
    events.push_back("outer closed");
    outer.end_dialog(20);
  });
  outer.init = [&](ScriptedDialog& d) {
    d.post([&] {
      ScriptedDialog inner(layout(2), &outer);
      inner.on_command(resources::ID_CANCEL, [&] {
        events.push_back("inner closed");
        inner.end_dialog(10);
      });
      inner.init = [](ScriptedDialog& i) { i.post_quit(); };
      events.push_back("inner " + std::to_string(inner.run_modal()));
    });
  };
  EXPECT_EQ(outer.run_modal(), 20);
  EXPECT_EQ(events, (std::vector<std::string>{"inner closed", "inner 10", "outer closed"}));
  // The outermost loop passes the request on to whatever runs this thread's queue next.
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::quit);
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::idle);
}

// ---- events and threads -------------------------------------------------------------------------

TEST(Event, AutoResetIsConsumedByOneWaitManualResetStays) {
  ui::Event automatic(false, true);
  EXPECT_TRUE(automatic.signaled());
  EXPECT_EQ(ui::wait_for(automatic, 0), ui::WAIT_OBJECT_0);
  EXPECT_FALSE(automatic.signaled());
  EXPECT_EQ(ui::wait_for(automatic, 5), ui::WAIT_TIMEOUT);

  ui::Event manual(true, false);
  EXPECT_FALSE(manual.wait(1));
  manual.set();
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));
  manual.reset();
  EXPECT_FALSE(manual.wait(0));
}

TEST(Thread, RunsWhenResumedAndKeepsItsExitCode) {
  std::atomic<bool> started{false};
  ui::Thread worker(
      [&]() -> uint32_t {
        started = true;
        return 42;
      },
      true);
  std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(started);
  EXPECT_EQ(worker.exit_code(), ui::STILL_ACTIVE);
  worker.resume();
  EXPECT_EQ(ui::wait_for(worker, ui::INFINITE), ui::WAIT_OBJECT_0);
  EXPECT_TRUE(worker.finished());
  EXPECT_EQ(worker.exit_code(), 42u);
  EXPECT_EQ(ui::wait_for(worker, 0), ui::WAIT_OBJECT_0);  // a thread's end stays signalled
  worker.join();
}

TEST(Thread, AThrowingBodyEndsWithAFailureCode) {
  ui::Thread worker([]() -> uint32_t { throw std::runtime_error("boom"); });
  worker.join();
  EXPECT_EQ(worker.exit_code(), ui::WAIT_FAILED);
  EXPECT_TRUE(worker.finished());
}

// ---- the dispatching wait -----------------------------------------------------------------------

TEST(WaitPumpingMessages, RunsPostedWorkWhileTheWorkerNeedsTheWindowThread) {
  // The progress window's stop: the worker must reach the window thread before it can end, so a wait
  // that did not run posted work would never return.
  ScriptedDialog window(layout(1));
  window.create_control(ControlKind::static_text, 208, {0, 0, 10, 10}, "0");
  ui::Event stop;
  ui::Thread worker(
      [&]() -> uint32_t {
        stop.wait(ui::INFINITE);
        std::atomic<bool> shown{false};
        window.post([&] {
          window.static_text(208)->set_text("3");
          shown = true;
        });
        while (!shown) std::this_thread::sleep_for(1ms);
        return 0;
      },
      false);
  stop.set();
  ui::Waitable* handles[] = {&worker};
  EXPECT_EQ(ui::wait_pumping_messages(handles), 0u);
  EXPECT_EQ(window.static_text(208)->text(), "3");
}

TEST(WaitPumpingMessages, AQuitRequestEndsTheWaitWithOneAndIsConsumed) {
  ScriptedDialog window(layout(1));
  ui::Event never;
  int ran_before_quit = 0, ran_after_quit = 0;
  window.post([&] { ++ran_before_quit; });
  std::thread quitter([&] {
    std::this_thread::sleep_for(10ms);
    window.post_quit();
    window.post([&] { ++ran_after_quit; });
  });
  ui::Waitable* handles[] = {&never};
  EXPECT_EQ(ui::wait_pumping_messages(handles), 1u);
  quitter.join();
  EXPECT_EQ(ran_before_quit, 1);
  EXPECT_EQ(ran_after_quit, 0);  // still queued behind the quit
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::dispatched);
  EXPECT_EQ(ran_after_quit, 1);
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::idle);
}

TEST(WaitPumpingMessages, TimersFireDuringTheWaitAndANullHandleFails) {
  ScriptedDialog window(layout(1));
  ui::Event done;
  int ticks = 0;
  window.timer = [&](ScriptedDialog& d, uint32_t) {
    if (++ticks == 3) {
      d.kill_timer(1);
      done.set();
    }
  };
  window.set_timer(1, 2);
  ui::Waitable* handles[] = {&done};
  EXPECT_EQ(ui::wait_pumping_messages(handles), 0u);
  EXPECT_EQ(ticks, 3);

  ui::Waitable* broken[] = {&done, nullptr};
  EXPECT_EQ(ui::wait_pumping_messages(broken), ui::WAIT_FAILED);
}

TEST(WaitPumpingMessages, ASlowTimerCannotHideASignalledHandle) {
  ScriptedDialog window(layout(1));
  ui::Event done(true, false);
  window.timer = [&](ScriptedDialog&, uint32_t) {
    std::this_thread::sleep_for(3ms);  // slower than its own interval
    done.set();
  };
  window.set_timer(1, 1);
  ui::Waitable* handles[] = {&done};
  EXPECT_EQ(ui::wait_pumping_messages(handles), 0u);
  window.kill_timer(1);
}

}  // namespace
