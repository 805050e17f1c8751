#include "ui/backend.h"

#include <atomic>

#include "ui/headless/headless_backend.h"

namespace ui {

namespace {
std::atomic<Backend*> g_backend{nullptr};
}

Backend& backend() {
  Backend* chosen = g_backend.load(std::memory_order_acquire);
  return chosen ? *chosen : headless::instance();
}

void set_backend(Backend* chosen) {
  g_backend.store(chosen, std::memory_order_release);
}

int message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type) {
  return backend().message_box(parent, text, caption, type);
}

}  // namespace ui
