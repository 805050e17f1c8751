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
  std::function<void(ScriptedDialog&, uint32_t)> timer;
  int init_calls = 0;

 protected:
  bool OnInitDialog() override {
    ++init_calls;
    if (init) init(*this);
    return true;
  }
  void on_timer(uint32_t id) override {
    if (timer) timer(*this, id);
  }
};

// Installs an automation hook for the life of the object and removes it afterwards.
class ScopedAutomation {
 public:
  explicit ScopedAutomation(ui::AutomationHook hook) : previous_(ui::set_automation(std::move(hook))) {}
  ~ScopedAutomation() { ui::set_automation(previous_); }

 private:
  ui::AutomationHook previous_;
};

}  // namespace uitest
