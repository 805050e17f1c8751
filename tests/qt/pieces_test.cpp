// The pieces of the Qt backend that need no window: dialog units, the texts as shown, the icons, and
// the choice of the Qt platform by `dsmcc gui`.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/gui_display.h"
#include "tests/qt/qt_fixture.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/icons.h"

namespace {

using ui::qt::dialog_units;
using ui::qt::DialogUnits;

// ---- dialog units

TEST(DialogUnits, BaseUnitsAreTheRoundedLetterAverageAndTheHeight) {
  struct Case {
    int letters_width, height;
    int base_x, base_y;
  };
  const Case cases[] = {
      {312, 13, 6, 13},  // exactly 6 a letter
      {337, 13, 6, 13},  // 6.48: down
      {338, 15, 7, 15},  // 6.5: up
      {363, 16, 7, 16},  // 6.98: up
      {364, 16, 7, 16},  // exactly 7
      {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letters_width);
    const DialogUnits units = dialog_units(c.letters_width, c.height);
    EXPECT_EQ(units.base_x, c.base_x);
    EXPECT_EQ(units.base_y, c.base_y);
  }
}

TEST(DialogUnits, CoordinatesScaleByAQuarterAndAnEighthRounded) {
  const DialogUnits units{6, 13};
  struct Case {
    int du, x, y;
  };
  const Case cases[] = {
      {0, 0, 0},       {1, 2, 2},        // 1.5 and 1.625 round up
      {4, 6, 7},       {8, 12, 13},      // 6.5 rounds up
      {3, 5, 5},       {7, 11, 11},      // 4.5 -> 5, 4.875 -> 5; 10.5 -> 11, 11.375 -> 11
      {390, 585, 634}, {334, 501, 543},  // the analysis window: 390 x 334 units
      {-4, -6, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.du);
    EXPECT_EQ(units.x(c.du), c.x);
    EXPECT_EQ(units.y(c.du), c.y);
  }
}

// ---- texts as shown

TEST(DisplayText, KeepsUtf8AndEscapesWhatWouldBreakOrVanish) {
  struct Case {
    std::string bytes;
    std::string shown;  // UTF-8
  };
  const Case cases[] = {
      {"index.html", "index.html"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},            // two-byte character kept
      {"\xf0\x9f\x93\x81", "\xf0\x9f\x93\x81"},  // four bytes
      {"a\nb", "a\\x0ab"},                       // a line break would split the entry
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f", "\\x7f"},
      {"\xff", "\\xff"},                             // not UTF-8
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong "/"
      {"\xe2\x82", "\\xe2\\x82"},                    // cut short
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(ui::qt::display_text(c.bytes).toUtf8().toStdString(), c.shown);
  }
}

// ---- icons

class Icons : public qttest::QtWindows {};

TEST_F(Icons, ImagesTakeTheColoursAndTheMaskOfTheResource) {
  for (int id : {resources::ICON_OPEN_FOLDER, resources::ICON_CLOSED_FOLDER, resources::ICON_DATA_DRUM}) {
    SCOPED_TRACE(id);
    const resources::Icon* icon = resources::find_icon(id);
    ASSERT_NE(icon, nullptr);
    const QImage image = ui::qt::icon_image(*icon);
    ASSERT_EQ(image.size(), QSize(16, 16));
    int transparent = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const QRgb pixel = image.pixel(x, y);
        const size_t at = static_cast<size_t>(y * 16 + x) * 4;
        if (icon->transparent(x, y)) {
          ++transparent;
          EXPECT_EQ(qAlpha(pixel), 0) << x << "," << y;
        } else {
          EXPECT_EQ(qRed(pixel), icon->rgba[at]);
          EXPECT_EQ(qGreen(pixel), icon->rgba[at + 1]);
          EXPECT_EQ(qBlue(pixel), icon->rgba[at + 2]);
          EXPECT_EQ(qAlpha(pixel), 255);
        }
      }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 256);
  }
}

// ---- the Qt platform of `dsmcc gui`

TEST(GuiPlatform, IsChosenFromTheDisplayVariablesOrRefusedWithAReason) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> vars;
    std::vector<std::string> installed;
    std::string x_problem;  // what the X probe answers
    std::string platform;   // "" when refused
    std::string reason;     // a part of the message
  };
  const Case cases[] = {
      {"nothing set", {}, {"xcb", "offscreen"}, "", "", "neither DISPLAY nor WAYLAND_DISPLAY"},
      {"offscreen chosen", {{"QT_QPA_PLATFORM", "offscreen"}}, {"offscreen"}, "", "offscreen", ""},
      {"unknown platform", {{"QT_QPA_PLATFORM", "bogus"}}, {"xcb", "offscreen"}, "", "", "'bogus'"},
      {"empty variable is unset", {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":0"}}, {"xcb"}, "", "xcb", ""},
      {"X answers", {{"DISPLAY", ":0"}}, {"xcb"}, "", "xcb", ""},
      {"X does not answer", {{"DISPLAY", ":9"}}, {"xcb"}, "cannot connect to the X display :9", "", ":9"},
      {"no X plugin", {{"DISPLAY", ":0"}}, {"offscreen"}, "", "", "xcb"},
      {"Wayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, {"wayland", "xcb"}, "", "wayland", ""},
      {"Wayland without its plugin", {{"WAYLAND_DISPLAY", "wayland-0"}}, {"xcb"}, "", "", "Wayland"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int x_probes = 0;
    app::DisplayEnvironment env{[&](const char* name) -> const char* {
                                  auto it = c.vars.find(name);
                                  return it == c.vars.end() ? nullptr : it->second.c_str();
                                },
                                [&](const std::string& name) {
                                  return std::find(c.installed.begin(), c.installed.end(), name) !=
                                         c.installed.end();
                                },
                                [&](const std::string&) {
                                  ++x_probes;
                                  return c.x_problem;
                                }};
    std::string problem;
    EXPECT_EQ(app::choose_platform(env, problem), c.platform);
    if (c.platform.empty()) {
      EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    } else {
      EXPECT_EQ(problem, "");
    }
    // The X server is asked only when X is the way to the screen.
    if (c.platform != "xcb" && c.x_problem.empty()) {
      EXPECT_EQ(x_probes, 0);
    }
  }
}

}  // namespace
