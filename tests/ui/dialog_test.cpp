// A modal run disables its owner while it runs and gives it back its input after.
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

}  // namespace
