#include "ui/qt/icons.h"

#include <QPixmap>

namespace ui::qt {

QImage icon_image(const resources::Icon& icon) {
  constexpr int n = resources::ICON_SIZE;
  QImage image(n, n, QImage::Format_ARGB32);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const size_t at = static_cast<size_t>(y * n + x) * 4;
      const int alpha = icon.transparent(x, y) ? 0 : icon.rgba[at + 3];
      image.setPixel(x, y, qRgba(icon.rgba[at], icon.rgba[at + 1], icon.rgba[at + 2], alpha));
    }
  }
  return image;
}

QIcon tree_icon(const resources::Icon* normal, const resources::Icon* selected) {
  QIcon out;
  if (normal) out.addPixmap(QPixmap::fromImage(icon_image(*normal)), QIcon::Normal);
  if (selected) out.addPixmap(QPixmap::fromImage(icon_image(*selected)), QIcon::Selected);
  return out;
}

}  // namespace ui::qt
