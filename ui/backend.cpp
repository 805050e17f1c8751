#include "ui/backend.h"

#include <atomic>

#include "ui/headless/headless_backend.h"
#include "ui/message_loop.h"

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

std::string choose_folder(Dialog* parent, std::string_view title) { return backend().choose_folder(parent, title); }

std::string Backend::choose_folder(Dialog*, std::string_view) { return {}; }

void Backend::idle_wait(std::chrono::steady_clock::time_point until) { wait_for_work(until); }

}  // namespace ui
