#include "ui/headless/headless_backend.h"

#include <cstdio>
#include <string>

#include "ui/message_loop.h"

namespace ui::headless {

HeadlessBackend& instance() {
  static HeadlessBackend backend;
  return backend;
}

// Nothing to show: the models are the whole window.
void HeadlessBackend::attach(Dialog&) {}
void HeadlessBackend::detach(Dialog&) {}

void HeadlessBackend::run_modal_loop(Dialog& window) {
  while (!window.ended()) {
    switch (dispatch_one()) {
      case PumpResult::quit:
        answer_quit(window);
        break;
      case PumpResult::dispatched:
        break;
      case PumpResult::idle:
        wait_for_work(next_timer_due());
        break;
    }
  }
}

// The queues' own condition variables wake the loops above.
void HeadlessBackend::wake() {}

int HeadlessBackend::message_box(Dialog*, std::string_view text, std::string_view caption, uint32_t type) {
  std::lock_guard lock(mutex_);
  const int result = (type & 0x0F) == BOX_YES_NO ? question_answer_ : RESULT_OK;
  const std::string line = std::string(caption) + ": " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  shown_.push_back({std::string(text), std::string(caption), type, result});
  return result;
}

std::string HeadlessBackend::choose_folder(Dialog*, std::string_view) {
  std::lock_guard lock(mutex_);
  return folder_answer_;
}

void HeadlessBackend::set_folder_answer(std::string path) {
  std::lock_guard lock(mutex_);
  folder_answer_ = std::move(path);
}

void HeadlessBackend::set_question_answer(int answer) {
  std::lock_guard lock(mutex_);
  question_answer_ = answer;
  question_answer_set_ = true;
}

int HeadlessBackend::settled_answer() const {
  std::lock_guard lock(mutex_);
  return question_answer_set_ ? question_answer_ : 0;
}

std::vector<ShownMessageBox> HeadlessBackend::shown_message_boxes() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void HeadlessBackend::clear_message_boxes() {
  std::lock_guard lock(mutex_);
  shown_.clear();
}

}  // namespace ui::headless
