#include "ui/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace ui::qt {

namespace {

// value * numerator / denominator, rounded half away from zero, without overflow for dialog sizes.
int scale(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  const long long rounded =
      product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
  return static_cast<int>(rounded);
}

}  // namespace

int DialogUnits::x(int du) const {
  return scale(du, base_x, 4);
}
int DialogUnits::y(int du) const {
  return scale(du, base_y, 8);
}

QRect DialogUnits::rect(const resources::Rect& r) const {
  const int left = x(r.x), top = y(r.y);
  return QRect(left, top, x(r.x + r.width) - left, y(r.y + r.height) - top);
}

DialogUnits dialog_units(int letters_width, int char_height) {
  // The rounded average: half the width of 26 letters, rounded up at .5.
  return DialogUnits{(letters_width / 26 + 1) / 2, char_height};
}

DialogUnits dialog_units(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return dialog_units(width, metrics.height());
}

}  // namespace ui::qt
