// The headless backend: windows live in memory only, modal loops run the thread's posted work and
// timers on the calling thread, and message boxes are printed on stderr. The command-line program and
// the tests run every dialog through it; it is the backend in use unless a program sets another.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace ui::headless {

struct ShownMessageBox {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  int result = 0;
};

class HeadlessBackend : public Backend {
 public:
  void attach(Dialog& window) override;
  void detach(Dialog& window) override;
  void run_modal_loop(Dialog& window) override;
  void wake() override;
  // Prints "caption: text" on stderr and answers RESULT_OK, or for a yes/no box the answer that
  // automation set (RESULT_YES unless set_question_answer said otherwise).
  int message_box(Dialog* parent, std::string_view text, std::string_view caption, uint32_t type) override;
  // Answers with the folder that automation set (set_folder_answer), or "" (cancelled) when none is set.
  std::string choose_folder(Dialog* parent, std::string_view title) override;
  void set_folder_answer(std::string path);
  void set_question_answer(int answer);
  // The answer set_question_answer settled; 0 until it was called.
  int settled_answer() const override;

  // Every message box shown so far, oldest first (for tests and for the program's exit status).
  std::vector<ShownMessageBox> shown_message_boxes() const;
  void clear_message_boxes();

 private:
  mutable std::mutex mutex_;
  std::vector<ShownMessageBox> shown_;
  std::string folder_answer_;
  int question_answer_ = RESULT_YES;
  bool question_answer_set_ = false;
};

// The process's headless backend.
HeadlessBackend& instance();

}  // namespace ui::headless
