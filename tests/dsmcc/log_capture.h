// Opens the process log on a file of the running test and reads its lines back, each with its level.
// Lines are written with the level prefix alone ("<4> - text"), so a test can check both.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "log/debug_log.h"

namespace testlog {

struct LogLine {
  int level = -1;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "log";
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = ::testing::TempDir() + "dsmcc-" + std::to_string(::getpid()) + "-" + name + ".txt";
    if (path_.size() > 250) path_ = ::testing::TempDir() + "dsmcc-" + std::to_string(::getpid()) + ".txt";
    reopen();
  }
  ~LogCapture() {
    g_log.close();
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Empties the file: what follows is all that later reads see.
  void reopen() {
    g_log.close();
    const int result = g_log.init(path_.c_str(), CDebugLog::OPT_FILE, CDebugLog::PFX_LEVEL, 4);
    ASSERT_EQ(result, 0) << "cannot open the test log " << path_;
  }

  std::vector<LogLine> lines() const {
    g_log.flush();
    std::vector<LogLine> out;
    std::ifstream in(path_);
    std::string raw;
    while (std::getline(in, raw)) {
      LogLine line;
      const auto close = raw.find("> - ");
      if (raw.size() > 1 && raw[0] == '<' && close != std::string::npos) {
        line.level = std::stoi(raw.substr(1, close - 1));
        line.text = raw.substr(close + 4);
      } else {
        line.text = raw;
      }
      out.push_back(line);
    }
    return out;
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines()) out.push_back(l.text);
    return out;
  }

  // How many lines carry exactly this text at this level.
  size_t count(int level, const std::string& text) const {
    size_t n = 0;
    for (const auto& l : lines())
      if (l.level == level && l.text == text) ++n;
    return n;
  }
  bool has(int level, const std::string& text) const { return count(level, text) > 0; }

  // How many lines of any level contain `part`.
  size_t count_containing(const std::string& part) const {
    size_t n = 0;
    for (const auto& l : lines())
      if (l.text.find(part) != std::string::npos) ++n;
    return n;
  }

  // The whole log, for failure messages.
  std::string dump() const {
    std::string all;
    for (const auto& l : lines()) all += "<" + std::to_string(l.level) + "> " + l.text + "\n";
    return all;
  }

 private:
  std::string path_;
};

}  // namespace testlog
