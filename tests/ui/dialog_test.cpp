// Dialogs: controls from their layout, command dispatch, modal runs, child pages and the automation hook.
#include <gtest/gtest.h>


#include "tests/ui/test_windows.h"
#include "ui/headless/headless_backend.h"

namespace {

using namespace uitest;

constexpr int GO = 10, EDIT = 11, NESTED = 12;

resources::DialogTemplate outer_layout() {
  return layout(500, {{ControlKind::button, GO, "Go", {0, 0, 10, 10}},
                      {ControlKind::edit, EDIT, "", {0, 0, 10, 10}},
                      {ControlKind::button, NESTED, "Nested", {0, 0, 10, 10}},
                      {ControlKind::button, resources::ID_OK, "OK", {0, 0, 10, 10}},
                      {ControlKind::button, resources::ID_CANCEL, "Cancel", {0, 0, 10, 10}}});
}

TEST(Dialog, OkAndCancelEndTheRunUnlessAHandlerTakesThem) {
  for (int id : {resources::ID_OK, resources::ID_CANCEL}) {
    ScriptedDialog window(outer_layout());
    window.init = [id](ScriptedDialog& d) { d.post([&d, id] { d.button(id)->click(); }); };
    EXPECT_EQ(window.run_modal(), id);
    EXPECT_FALSE(window.running_modal());
    EXPECT_FALSE(window.visible());
  }

  ScriptedDialog window(outer_layout());
  int cancels = 0;
  window.on_command(resources::ID_CANCEL, [&] {
    if (++cancels == 2) window.end_dialog(77);
  });
  window.init = [](ScriptedDialog& d) {
    d.post([&d] { d.close(); });  // the close box reaches the Cancel handler
    d.post([&d] { d.button(resources::ID_CANCEL)->click(); });
  };
  EXPECT_EQ(window.run_modal(), 77);
  EXPECT_EQ(cancels, 2);
}

TEST(Dialog, EnterPressesTheDefaultButtonOrElseOk) {
  ui::Dialog with_default(resources::DIALOG_SCANNING);  // Cancel is its default button
  int cancels = 0;
  with_default.on_command(resources::ID_CANCEL, [&] { ++cancels; });
  with_default.press_enter();
  EXPECT_EQ(cancels, 1);

  ScriptedDialog plain(outer_layout());
  plain.init = [](ScriptedDialog& d) { d.post([&d] { d.press_enter(); }); };
  EXPECT_EQ(plain.run_modal(), resources::ID_OK);
}

TEST(Dialog, EndDialogInsideInitNeverShowsTheWindowNorCallsTheHook) {
  int hooked = 0;
  ScopedAutomation automation([&](ui::Dialog&) { ++hooked; });
  ScriptedDialog window(outer_layout());
  window.init = [](ScriptedDialog& d) { d.end_dialog(2); };
  EXPECT_EQ(window.run_modal(), 2);
  EXPECT_EQ(window.init_calls, 1);
  EXPECT_EQ(hooked, 0);
}

TEST(Dialog, FirstResultWinsAndARunStartsAfresh) {
  ScriptedDialog window(outer_layout());
  window.init = [](ScriptedDialog& d) {
    d.end_dialog(5);
    d.end_dialog(6);
  };
  EXPECT_EQ(window.run_modal(), 5);
  window.init = [](ScriptedDialog& d) { d.post([&d] { d.end_dialog(9); }); };
  EXPECT_EQ(window.run_modal(), 9);
  EXPECT_EQ(window.init_calls, 2);
}

TEST(Dialog, AModalWindowDisablesItsOwnerWhileItRuns) {
  ScriptedDialog outer(outer_layout());
  bool outer_enabled_inside = true, outer_click_taken = true;
  bool outer_enabled_after = false;
  outer.on_command(GO, [&] {});
  outer.on_command(NESTED, [&] {
    ScriptedDialog inner(layout(501), nullptr);  // no parent: the running window becomes the owner
    inner.init = [&](ScriptedDialog& d) {
      d.post([&] {
        outer_enabled_inside = outer.enabled();
        outer_click_taken = outer.button(GO)->click();
        d.end_dialog(1);
      });
    };
    inner.run_modal();
    outer_enabled_after = outer.enabled();
  });
  outer.init = [](ScriptedDialog& d) {
    d.post([&d] {
      d.button(NESTED)->click();
      d.end_dialog(1);
    });
  };
  outer.run_modal();
  EXPECT_FALSE(outer_enabled_inside);
  EXPECT_FALSE(outer_click_taken);
  EXPECT_TRUE(outer_enabled_after);
}

TEST(Dialog, ChildPagesInitialiseOnCreateAndFollowTheirParentsInput) {
  ui::Dialog parent(resources::DIALOG_ANALYSIS);
  ScriptedDialog page(*resources::find_dialog(resources::DIALOG_DATA_CAROUSEL_PAGE));
  EXPECT_FALSE(page.created());
  page.create(parent, parent.tabs(resources::ANALYSIS_TABS));
  page.create(parent, parent.tabs(resources::ANALYSIS_TABS));  // a second create changes nothing
  EXPECT_EQ(page.init_calls, 1);
  EXPECT_TRUE(page.created());
  EXPECT_EQ(page.parent(), &parent);
  EXPECT_EQ(page.host(), parent.tabs(resources::ANALYSIS_TABS));
  EXPECT_EQ(parent.children(), (std::vector<ui::Dialog*>{&page}));

  page.move_to(4, 28);
  EXPECT_EQ(page.rect(), (resources::Rect{4, 28, 370, 201}));

  int saves = 0;
  page.on_command(resources::PAGE_SAVE, [&] { ++saves; });
  EXPECT_TRUE(page.button(resources::PAGE_SAVE)->click());
  parent.enable(false);
  EXPECT_FALSE(page.button(resources::PAGE_SAVE)->click());
  EXPECT_EQ(saves, 1);
}

TEST(Automation, EveryModalWindowGetsOneCallAfterInitNestedOnesInside) {
  std::vector<std::string> events;
  ScopedAutomation automation([&](ui::Dialog& d) {
    events.push_back("hook " + std::to_string(d.template_id()) + " " + d.edit(EDIT)->text());
    if (d.template_id() == 500) {
      d.edit(EDIT)->set_text("typed");
      d.button(NESTED)->click();  // runs the nested window inside this call
      events.push_back("back in 500 " + d.edit(EDIT)->text());
      d.end_dialog(3);
    } else {
      d.end_dialog(4);
    }
  });

  ScriptedDialog outer(outer_layout());
  outer.init = [&](ScriptedDialog& d) { d.edit(EDIT)->set_text("from init"); };
  outer.on_command(NESTED, [&] {
    ScriptedDialog inner(layout(600, {{ControlKind::edit, EDIT, "", {0, 0, 1, 1}}}), &outer);
    inner.init = [&](ScriptedDialog&) { events.push_back("init 600"); };
    const int r = inner.run_modal();
    events.push_back("600 ended " + std::to_string(r));
  });
  EXPECT_EQ(outer.run_modal(), 3);
  const std::vector<std::string> want = {"hook 500 from init", "init 600", "hook 600 ", "600 ended 4",
                                         "back in 500 typed"};
  EXPECT_EQ(events, want);
}

TEST(MessageBox, HeadlessPrintsOnStderrAndAnswersTheFirstButton) {
  auto& headless = ui::headless::instance();
  headless.clear_message_boxes();
  ::testing::internal::CaptureStderr();
  const int ok = ui::message_box(nullptr, resources::load_string(resources::STRING_NO_ATSC), "DSMCC");
  const int yes = ui::message_box(nullptr, "Overwrite?", "Save", ui::BOX_YES_NO | ui::BOX_ICON_WARNING);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ok, ui::RESULT_OK);
  EXPECT_EQ(yes, ui::RESULT_YES);
  EXPECT_EQ(err, "DSMCC: This plug-in does not yet support ATSC\nSave: Overwrite?\n");
  const auto shown = headless.shown_message_boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "This plug-in does not yet support ATSC");
  EXPECT_EQ(shown[1].caption, "Save");
  EXPECT_EQ(shown[1].result, ui::RESULT_YES);
}

}  // namespace
