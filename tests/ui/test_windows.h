// Small windows for the window-layer tests: layouts made on the spot and a dialog whose reactions a
// test sets with lambdas.
#pragma once

#include <functional>
#include <string>

#include "ui/ui.h"

namespace uitest {

using resources::ControlKind;

inline resources::DialogTemplate layout(int id, std::vector<resources::ControlTemplate> controls = {}) {
  return resources::DialogTemplate{id, "test window", 100, 50, std::move(controls)};
}

class ScriptedDialog : public ui::Dialog {
 public:
  using ui::Dialog::Dialog;
  std::function<void(ScriptedDialog&)> init;

 protected:
  bool OnInitDialog() override {
    if (init) init(*this);
    return true;
  }
};

}  // namespace uitest
