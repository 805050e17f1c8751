#include "tests/qt/qt_fixture.h"

#include <QEventLoop>

namespace qttest {

bool pump_until(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return ready();
}

void click(QWidget* widget) {
  ASSERT_NE(widget, nullptr);
  QTest::mouseClick(widget, Qt::LeftButton);
}

void click_row(QListWidget* list, int row, Qt::KeyboardModifiers modifiers) {
  ASSERT_NE(list->item(row), nullptr) << "no row " << row;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                    list->visualItemRect(list->item(row)).center());
}

void type_text(QWidget* widget, const QString& text) {
  ASSERT_NE(widget, nullptr);
  widget->setFocus();
  QTest::keyClicks(widget, text);
}

void QtWindows::SetUpTestSuite() {
  // One for the process, reachable to the end (so never a leak). CTest sets the platform; a test run by
  // hand without a display gets the same.
  static int argc = 1;
  static char name[] = "qt_tests";
  static char* argv[] = {name, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  [[maybe_unused]] static QApplication* app = new QApplication(argc, argv);
}

void QtWindows::SetUp() {
  backend_ = std::make_unique<ui::qt::QtBackend>();
  ui::set_backend(backend_.get());
}

void QtWindows::TearDown() {
  ui::set_automation({});
  ui::set_backend(nullptr);
  // Views of ended windows are deleted from the event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  backend_.reset();
}

std::vector<std::string> QtWindows::shown_texts(const QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; list && i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

}  // namespace qttest

// The font library keeps its configuration for the life of the process; Qt loads it once and never
// frees it. These are not ours, so the leak checker of the sanitizer build leaves them out.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
