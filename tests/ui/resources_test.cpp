// The module's resources: the layouts the windows are described with, the menu, the strings and the
// icons.
#include "resources/resources.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using resources::ControlKind;

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
