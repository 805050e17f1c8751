// Directory and file writes below one chosen directory, always relative to an open directory
// descriptor. No write follows a symbolic link: directories are opened with O_NOFOLLOW | O_DIRECTORY,
// files are created under a temporary name with O_EXCL | O_NOFOLLOW and renamed into place, so a file
// either stands complete under its final name or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

enum class WriteOutcome { written, kept, failed };

class DiskWriter {
 public:
  explicit DiskWriter(bool force) : force_(force) {}

  // Opens the directory the user chose, creating it (not its parents) when it is absent. This one
  // path is the user's own, so symbolic links in it are followed like anywhere else.
  UniqueFd open_target(const std::string& path, std::string& error);

  // Opens the directory `name` inside `parent`, creating it when absent. An entry of that name that
  // is not a directory (a symbolic link included) is an error. `shown` is the path for messages.
  UniqueFd open_subdirectory(int parent, const std::string& name, const std::string& shown,
                             std::string& error);

  // Writes `content` as the file `name` inside `dir`. An entry already there is kept (kept) unless
  // the writer was made with force, in which case a file or symbolic link there is replaced, never
  // written through. On failure (failed) no temporary file is left behind.
  WriteOutcome write_file(int dir, const std::string& name, std::span<const uint8_t> content,
                          const std::string& shown, std::string& error);

 private:
  bool force_;
  uint32_t temp_counter_ = 0;
};
