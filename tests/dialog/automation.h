// Drives the dialogs in tests as a user would: an action per dialog template, run by the window layer's
// automation hook once the window of that template has initialised.
#pragma once

#include <functional>
#include <map>

#include "ui/ui.h"

namespace testdialog {

class Automation {
 public:
  using Action = std::function<void(ui::Dialog&)>;

  Automation() {
    previous_ = ui::set_automation([this](ui::Dialog& window) {
      ++shown_[window.template_id()];
      auto it = actions_.find(window.template_id());
      if (it != actions_.end() && it->second) it->second(window);
    });
  }
  ~Automation() { ui::set_automation(previous_); }
  Automation(const Automation&) = delete;
  Automation& operator=(const Automation&) = delete;

  void on(int template_id, Action action) { actions_[template_id] = std::move(action); }
  // How many windows of this template were shown.
  int shown(int template_id) const {
    auto it = shown_.find(template_id);
    return it == shown_.end() ? 0 : it->second;
  }

 private:
  ui::AutomationHook previous_;
  std::map<int, Action> actions_;
  std::map<int, int> shown_;
};

}  // namespace testdialog
