// Modal runs: what ends them, the owner they disable while they run, and quit requests.
#include <gtest/gtest.h>

#include "tests/ui/test_windows.h"

namespace {

using namespace uitest;

constexpr int NESTED = 12;

resources::DialogTemplate outer_layout() {
  return layout(500, {{ControlKind::button, NESTED, "Nested", {0, 0, 10, 10}},
                      {ControlKind::button, resources::ID_OK, "OK", {0, 0, 10, 10}},
                      {ControlKind::button, resources::ID_CANCEL, "Cancel", {0, 0, 10, 10}}});
}

TEST(Dialog, OkCancelEnterAndTheCloseBoxEndTheRunUnlessAHandlerTakesThem) {
  const std::function<void(ui::Dialog&)> actions[] = {
      [](ui::Dialog& d) { d.button(resources::ID_OK)->click(); },
      [](ui::Dialog& d) { d.button(resources::ID_CANCEL)->click(); }, [](ui::Dialog& d) { d.press_enter(); },
      [](ui::Dialog& d) { d.close(); }};
  const int results[] = {resources::ID_OK, resources::ID_CANCEL, resources::ID_OK, resources::ID_CANCEL};
  for (int i = 0; i < 4; ++i) {
    ScriptedDialog window(outer_layout());
    window.init = [&](ScriptedDialog& d) { d.post([&] { actions[i](d); }); };
    EXPECT_EQ(window.run_modal(), results[i]) << i;
    EXPECT_FALSE(window.visible());
  }
  ui::Dialog with_default(resources::DIALOG_SCANNING);  // Cancel is its default button, and taken here
  int cancels = 0;
  with_default.on_command(resources::ID_CANCEL, [&] { ++cancels; });
  with_default.press_enter();
  with_default.close();
  EXPECT_EQ(cancels, 2);
  EXPECT_FALSE(with_default.ended());
}

TEST(Dialog, AModalWindowDisablesItsOwnerWhileItRunsAndEnablesItAfter) {
  ScriptedDialog outer(outer_layout());
  bool enabled_inside = true, click_taken = true, enabled_after = false;
  outer.on_command(NESTED, [&] {
    ScriptedDialog inner(layout(501), nullptr);  // no parent: the running window becomes the owner
    inner.init = [&](ScriptedDialog& d) {
      d.post([&] {
        enabled_inside = outer.enabled();
        click_taken = outer.button(resources::ID_OK)->click();
        d.end_dialog(1);
      });
    };
    inner.run_modal();
    enabled_after = outer.enabled();
  });
  outer.init = [](ScriptedDialog& d) {
    d.post([&d] {
      d.button(NESTED)->click();
      d.end_dialog(1);
    });
  };
  outer.run_modal();
  EXPECT_FALSE(enabled_inside);
  EXPECT_FALSE(click_taken);
  EXPECT_TRUE(enabled_after);
}

TEST(ModalLoop, AQuitRequestClosesTheInnerWindowThenTheOuterAndReachesTheNextLoop) {
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
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::quit);
  EXPECT_EQ(ui::dispatch_one(), ui::PumpResult::idle);
}

}  // namespace
