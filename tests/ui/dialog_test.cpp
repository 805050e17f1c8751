// A modal run disables its owner while it runs and gives it back its input after.
#include <gtest/gtest.h>

#include "tests/dialog/automation.h"
#include "tests/ui/test_windows.h"

namespace {

using namespace uitest;

constexpr int NESTED = 12;

TEST(Dialog, AModalWindowDisablesItsOwnerWhileItRunsAndEnablesItAfter) {
  ui::Dialog outer(layout(500, {{ControlKind::button, NESTED, "Nested", {0, 0, 10, 10}},
                                {ControlKind::button, resources::ID_OK, "OK", {0, 0, 10, 10}}}));
  bool enabled_inside = true, click_taken = true, enabled_after = false;
  outer.on_command(NESTED, [&] {
    ui::Dialog inner(layout(501), nullptr);  // no parent: the running window becomes the owner
    inner.run_modal();
    enabled_after = outer.enabled();
  });
  testdialog::Automation automation;
  automation.on(501, [&](ui::Dialog& inner) {
    enabled_inside = outer.enabled();
    click_taken = outer.button(resources::ID_OK)->click();
    inner.end_dialog(1);
  });
  automation.on(500, [&](ui::Dialog&) {
    outer.button(NESTED)->click();
    outer.end_dialog(1);
  });
  outer.run_modal();
  EXPECT_FALSE(enabled_inside);
  EXPECT_FALSE(click_taken);
  EXPECT_TRUE(enabled_after);
}

}  // namespace
