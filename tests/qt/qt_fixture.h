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
#include <string>

#include "ui/qt/control_widgets.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"
#include "ui/ui.h"

namespace qttest {

// The process's QApplication, made on first use and kept to the end (reachable, so never a leak).
QApplication& application();

// Runs Qt events (and so the window layer's work) until `done` holds or the time is up.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));
// Runs Qt events for a while.
void pump_for(std::chrono::milliseconds time);

// Runs `action` on the windows' thread as soon as `ready` holds, checking every 10 ms; when it does
// not hold within `limit`, runs `give_up` instead (which should end what waits, so a test fails
// instead of hanging).
void when(std::function<bool()> ready, std::function<void()> action, std::chrono::milliseconds limit,
          std::function<void()> give_up);

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
