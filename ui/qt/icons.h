// The module's icons (RGBA colour and a transparency mask) as Qt images and tree icons.
#pragma once

#include <QIcon>
#include <QImage>

#include "resources/resources.h"

namespace ui::qt {

// 16 x 16, premultiplied-free ARGB; a masked pixel is fully transparent whatever its colour.
QImage icon_image(const resources::Icon& icon);
// An icon that shows `normal` and, on a selected item, `selected`. Either may be null (no image).
QIcon tree_icon(const resources::Icon* normal, const resources::Icon* selected);

}  // namespace ui::qt
