// The module's resources: the layouts the windows are described with, the menu, the strings and the
// icons.
#include "resources/resources.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using resources::ControlKind;
using resources::Rect;

struct Placement {
  int dialog;
  int control;
  ControlKind kind;
  const char* text;
  Rect rect;
};

class Layouts : public ::testing::TestWithParam<Placement> {};

TEST_P(Layouts, EveryControlStandsWhereTheWindowDescriptionPutsIt) {
  const auto& p = GetParam();
  const auto* dialog = resources::find_dialog(p.dialog);
  ASSERT_NE(dialog, nullptr);
  const auto* c = dialog->find(p.control);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->kind, p.kind);
  EXPECT_EQ(c->text, p.text);
  EXPECT_EQ(c->rect, p.rect);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Layouts,
    ::testing::Values(Placement{201, 202, ControlKind::button, "Start", {7, 7, 50, 14}},
                      Placement{201, 213, ControlKind::list_box, "", {7, 24, 111, 43}},
                      Placement{201, 201, ControlKind::edit, "", {148, 7, 40, 12}},
                      Placement{201, 216, ControlKind::edit, "", {148, 21, 40, 12}},
                      Placement{201, 214, ControlKind::button, "Add", {149, 36, 50, 14}},
                      Placement{201, 215, ControlKind::button, "Remove", {149, 51, 50, 14}},
                      Placement{201, 211, ControlKind::list_box, "", {227, 22, 111, 43}},
                      Placement{201, 212, ControlKind::button, "Rescan...", {341, 22, 41, 14}},
                      Placement{201, 217, ControlKind::button, "Add", {341, 40, 41, 14}},
                      Placement{201, 203, ControlKind::tab_control, "", {7, 74, 376, 230}},
                      Placement{201, 1, ControlKind::default_button, "OK", {7, 313, 50, 14}},
                      Placement{202, resources::PAGE_TREE, ControlKind::tree_view, "", {0, 0, 370, 201}},
                      Placement{203, resources::PAGE_SAVE, ControlKind::button, "Save...", {313, 7, 50, 14}},
                      Placement{203, resources::PAGE_TREE, ControlKind::tree_view, "", {7, 34, 356, 160}},
                      Placement{204, resources::PAGE_SAVE, ControlKind::button, "Save...", {313, 7, 50, 14}},
                      Placement{204, resources::PAGE_TREE, ControlKind::tree_view, "", {7, 34, 356, 157}},
                      Placement{211, 208, ControlKind::static_text, "0", {91, 15, 33, 8}},
                      Placement{211, 209, ControlKind::static_text, "0", {91, 29, 33, 8}},
                      Placement{211, 210, ControlKind::static_text, "0", {91, 43, 33, 8}},
                      Placement{211, 2, ControlKind::default_button, "Cancel", {72, 60, 50, 14}},
                      Placement{213, 2, ControlKind::default_button, "Cancel", {67, 28, 50, 14}}),
    [](const auto& param_info) {
      return "dialog" + std::to_string(param_info.param.dialog) + "_control" +
             std::to_string(param_info.param.control);
    });

TEST(Layouts, WindowsHaveTheirCaptionsSizesAndLabels) {
  struct Window {
    int id;
    const char* caption;
    int width, height;
    std::vector<std::pair<const char*, std::pair<int, int>>> labels;  // text, (x, y)
  };
  const std::vector<Window> windows = {
      {201, "DSMCC", 390, 334, {{"PID", {123, 9}}, {"Prg No", {122, 23}}, {"MUX DSMCC streams", {236, 7}}}},
      {202, "", 370, 201, {}},
      {203, "", 370, 201, {}},
      {204, "", 370, 201, {}},
      {211,
       "DSMCC Scanning",
       186,
       81,
       {{"DownloadServerInitiate:", {7, 15}},
        {"DownloadIndicationInfo:", {7, 29}},
        {"DownloadDataBlock:", {7, 43}}}},
      {213, "Scanning MUX PSI/SI", 186, 49, {}},
  };
  ASSERT_EQ(resources::all_dialogs().size(), windows.size());
  for (const auto& w : windows) {
    SCOPED_TRACE(w.id);
    const auto* d = resources::find_dialog(w.id);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->caption, w.caption);
    EXPECT_EQ(d->width, w.width);
    EXPECT_EQ(d->height, w.height);
    std::vector<std::pair<std::string, std::pair<int, int>>> labels;
    std::set<int> ids;
    for (const auto& c : d->controls) {
      // Every control lies inside its window, and only labels share an id.
      EXPECT_GE(c.rect.x, 0);
      EXPECT_GE(c.rect.y, 0);
      EXPECT_LE(c.rect.x + c.rect.width, d->width) << c.id;
      EXPECT_LE(c.rect.y + c.rect.height, d->height) << c.id;
      if (c.id == resources::ID_STATIC) {
        EXPECT_EQ(c.kind, ControlKind::static_text);
        labels.emplace_back(std::string(c.text), std::make_pair(c.rect.x, c.rect.y));
      } else {
        EXPECT_TRUE(ids.insert(c.id).second) << "id " << c.id << " twice";
      }
    }
    ASSERT_EQ(labels.size(), w.labels.size());
    for (size_t i = 0; i < labels.size(); ++i) {
      EXPECT_EQ(labels[i].first, w.labels[i].first);
      EXPECT_EQ(labels[i].second, w.labels[i].second);
    }
  }
  EXPECT_EQ(resources::find_dialog(200), nullptr);
}

TEST(Layouts, ListStylesMatchTheirUse) {
  const auto* d = resources::find_dialog(resources::DIALOG_ANALYSIS);
  const uint32_t capture = d->find(resources::ANALYSIS_CAPTURE_LIST)->style;
  const uint32_t mux = d->find(resources::ANALYSIS_MUX_LIST)->style;
  EXPECT_TRUE(capture & resources::LIST_SORTED);
  EXPECT_TRUE(capture & resources::LIST_MULTIPLE_SEL);
  EXPECT_FALSE(mux & resources::LIST_SORTED);
  EXPECT_TRUE(mux & resources::LIST_EXTENDED_SEL);
  // The carousel pages add the tree styles themselves at initialisation; the section page has them.
  EXPECT_EQ(resources::find_dialog(203)->find(resources::PAGE_TREE)->style, 0u);
  EXPECT_NE(resources::find_dialog(202)->find(resources::PAGE_TREE)->style & resources::TREE_HAS_BUTTONS, 0u);
}

TEST(MenuAndStrings, HoldTheModulesTexts) {
  const auto* menu = resources::find_menu(201);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->items.size(), 1u);
  EXPECT_EQ(menu->items[0].command, 0x8000u);
  EXPECT_EQ(menu->items[0].text, "DSMCC Analyzing...");
  EXPECT_EQ(resources::find_menu(202), nullptr);

  EXPECT_STREQ(resources::load_string(101), "InitDriver is NULL");
  EXPECT_STREQ(resources::load_string(102), "This plug-in does not yet support ATSC");
  EXPECT_STREQ(resources::load_string(105), "OrvexFltMgr is NULL");
  EXPECT_EQ(resources::load_string(103), nullptr);
}

TEST(Icons, ThreeDistinctMaskedIconsWhoseMaskMatchesTheirAlpha) {
  std::vector<const resources::Icon*> icons;
  for (int id : {resources::ICON_OPEN_FOLDER, resources::ICON_CLOSED_FOLDER, resources::ICON_DATA_DRUM}) {
    const auto* icon = resources::find_icon(id);
    ASSERT_NE(icon, nullptr) << id;
    EXPECT_EQ(icon->id, id);
    int transparent = 0;
    for (int y = 0; y < resources::ICON_SIZE; ++y) {
      for (int x = 0; x < resources::ICON_SIZE; ++x) {
        const auto alpha = icon->rgba[static_cast<size_t>((y * resources::ICON_SIZE + x) * 4 + 3)];
        EXPECT_EQ(alpha, icon->transparent(x, y) ? 0 : 0xff) << id << " at " << x << "," << y;
        transparent += icon->transparent(x, y);
      }
    }
    // A shape on a see-through ground: neither blank nor a full square.
    EXPECT_GT(transparent, 16) << id;
    EXPECT_LT(transparent, 200) << id;
    for (const auto* other : icons) EXPECT_NE(other->rgba, icon->rgba);
    icons.push_back(icon);
  }
  EXPECT_EQ(resources::find_icon(207), nullptr);
}

}  // namespace
