// Small windows for the window-layer tests: layouts made on the spot.
#pragma once

#include <string>

#include "ui/ui.h"

namespace uitest {

using resources::ControlKind;

inline resources::DialogTemplate layout(int id, std::vector<resources::ControlTemplate> controls = {}) {
  return resources::DialogTemplate{id, "test window", 100, 50, std::move(controls)};
}

}  // namespace uitest
