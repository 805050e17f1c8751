// Dialog units to pixels, as the dialog layouts of resources/ are meant to be read: four horizontal
// units are the average width of a letter of the dialog font, eight vertical units its height.
#pragma once

#include <QFont>
#include <QRect>

#include "resources/resources.h"

namespace ui::qt {

struct DialogUnits {
  int base_x = 0;  // average width of the 52 letters A-Z a-z, in pixels
  int base_y = 0;  // character height of the font, in pixels

  // A horizontal and a vertical coordinate: du * base / 4 (or 8), rounded to the nearest pixel.
  int x(int du) const;
  int y(int du) const;
  // Both corners are converted, so that adjacent rectangles stay adjacent in pixels.
  QRect rect(const resources::Rect& r) const;
};

// From the width of the 52 letters drawn in one run and the character height, both in pixels.
DialogUnits dialog_units(int letters_width, int char_height);
// The units of a font (measured on the default screen).
DialogUnits dialog_units(const QFont& font);

}  // namespace ui::qt
