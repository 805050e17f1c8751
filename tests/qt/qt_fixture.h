// Windows on the Qt backend in tests: one QApplication for the process (the offscreen platform, as
// CTest sets it), a fresh backend for each test, and the helpers a test needs to act as a user with
// the mouse and keyboard and to wait for what the windows do.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/qt/control_widgets.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"
#include "ui/ui.h"

namespace qttest {

// The process's QApplication, made on first use and kept to the end (reachable, so never a leak).
QApplication& application();

// Runs Qt events for a while.
void pump_for(std::chrono::milliseconds time);

// Actions that wait for a condition on the windows' thread: `action` runs as soon as `ready` holds,
// checked every 10 ms while an event loop runs; when it does not hold within `limit`, `give_up` runs
// instead (it should end what waits, so that a test fails instead of hanging). Destroying the Waits
// drops what has not run yet, so declare it after the objects its functions use.
class Waits {
 public:
  Waits() = default;
  Waits(const Waits&) = delete;
  Waits& operator=(const Waits&) = delete;
  ~Waits();
  void when(std::function<bool()> ready, std::function<void()> action, std::chrono::milliseconds limit,
            std::function<void()> give_up);

 private:
  std::vector<std::unique_ptr<QTimer>> timers_;
};

// Mouse and keyboard, as QTest delivers them.
void click(QWidget* widget);
void click_row(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void double_click_row(QListWidget* list, int row);
void type_text(QWidget* widget, const QString& text);

class QtWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { application(); }
  void SetUp() override;
  void TearDown() override;

  ui::qt::QtBackend& backend() { return *backend_; }
  // The widget of a control, as its concrete type; null when it has none or another type.
  template <typename W>
  W* widget(const ui::Control* control) {
    return control ? dynamic_cast<W*>(backend_->widget_of(*control)) : nullptr;
  }
  // The texts a list widget shows.
  static std::vector<std::string> shown_texts(const QListWidget* list);

 private:
  std::unique_ptr<ui::qt::QtBackend> backend_;
};

}  // namespace qttest

namespace qttest {

// Runs `window` modally; once it shows, `body` runs (as the automation hook). With end_after_body the
// window is then ended with RESULT_OK unless the body ended it; without, it runs on until something
// that the body arranged ends it. Returns the window's result.
int run_window(ui::Dialog& window, const std::function<void()>& body, bool end_after_body = true);

}  // namespace qttest
