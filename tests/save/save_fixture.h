// Shared pieces of the save tests: a capture filed through the real intake and rebuilt as the
// carousel pages rebuild it, a scratch directory that is removed afterwards, and a snapshot of what a
// save left on disk.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/carousel_store.h"
#include "store/section_intake.h"
#include "tests/support/store_capture.h"

namespace save_test {

// A store with the given (programme, PID) pairs captured, filled by the section intake.
class Capture : public testsupport::StoreCapture {
 public:
  using StoreCapture::StoreCapture;
  // What the two carousel pages do before anything can be saved: the programme index, module
  // images, inflation and BIOP parsing.
  void rebuild();
};

// A fresh directory below the system's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Every entry below `root`, by path relative to it: "<dir>" for a directory, "<link>" for a symbolic
// link (never followed), "<other>" for anything else, and the content of a regular file.
std::map<std::string, std::string> snapshot(const std::string& root);

// The entries of one directory (names only, not recursive), sorted.
std::vector<std::string> entries(const std::string& dir);

std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);
std::string as_text(const std::vector<uint8_t>& bytes);

}  // namespace save_test
