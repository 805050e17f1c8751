// What every test folder needs besides the builders: the process log opened on a file of the running
// test and read back line by line with its level, and a private temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/debug_log.h"
#include "tests/support/streams.h"

namespace testsupport {

struct LogLine {
  int level = -1;
  std::string text;
};

// Lines are written with the level prefix alone ("<4> - text"), so a test can check both.
class LogCapture {
 public:
  explicit LogCapture(int threshold = 4) : threshold_(threshold) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "log";
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = ::testing::TempDir() + "dsmcc-" + std::to_string(::getpid()) + "-" + name.substr(0, 200) + ".txt";
    reopen();
  }
  ~LogCapture() {
    logio::g_log.close();
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Empties the file: what follows is all that later reads see.
  void reopen() {
    logio::g_log.close();
    ASSERT_EQ(
        logio::g_log.init(path_.c_str(), logio::CDebugLog::OPT_FILE, logio::CDebugLog::PFX_LEVEL, threshold_),
        0)
        << "cannot open the test log " << path_;
  }

  std::vector<LogLine> lines() const {
    logio::g_log.flush();
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
  // How many lines carry exactly this text at this level.
  size_t count(int level, const std::string& text) const {
    size_t n = 0;
    for (const auto& l : lines()) n += l.level == level && l.text == text;
    return n;
  }
  bool has(int level, const std::string& text) const { return count(level, text) > 0; }
  // How many lines of any level contain `part`.
  size_t count_containing(const std::string& part) const {
    size_t n = 0;
    for (const auto& l : lines()) n += l.text.find(part) != std::string::npos;
    return n;
  }
  // The whole log, for failure messages.
  std::string dump() const {
    std::string all;
    for (const auto& l : lines()) all += "<" + std::to_string(l.level) + "> " + l.text + "\n";
    return all;
  }

 private:
  int threshold_;
  std::string path_;
};

// The whole file as text; empty when it cannot be read.
inline std::string read_text(const std::string& path) {
  const std::vector<uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// The first n bytes of v as a buffer of their own, so that the sanitizer build sees a read past them.
inline std::vector<uint8_t> head(const std::vector<uint8_t>& v, size_t n) {
  return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

// Removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::string pattern = ::testing::TempDir() + "dsmcc-test-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `bytes` to NAME in the folder and returns its full path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return file;
  }

 private:
  std::string path_;
};

}  // namespace testsupport
