// Windows on the Qt backend in tests: one QApplication for the process (the offscreen platform, as
// CTest sets it), a fresh backend for each test, and the helpers a test needs to act as a user with
// the mouse and keyboard and to wait for what the windows do.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
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

// Runs Qt events (posted work and timers of the windows' thread among them) until `ready` holds or
// `limit` has passed; says whether it holds.
bool pump_until(const std::function<bool()>& ready, std::chrono::milliseconds limit);

void click(QWidget* widget);
void click_row(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void type_text(QWidget* widget, const QString& text);

class QtWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  ui::qt::QtBackend& backend() { return *backend_; }
  // The widget of a control, as its concrete type; null when it has none or another type.
  template <typename W>
  W* widget(const ui::Control* control) {
    return control ? dynamic_cast<W*>(backend_->widget_of(*control)) : nullptr;
  }
  static std::vector<std::string> shown_texts(const QListWidget* list);

 private:
  std::unique_ptr<ui::qt::QtBackend> backend_;
};

}  // namespace qttest
