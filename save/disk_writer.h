// Directory and file writes below one chosen directory, always relative to an open directory
// descriptor. No write follows a symbolic link: directories are opened with O_NOFOLLOW | O_DIRECTORY,
// files are created under a temporary name with O_EXCL | O_NOFOLLOW and renamed into place, so a file
// either stands complete under its final name or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace save {

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

// refused: a symbolic link, a directory or another entry that is no regular file stands where the
// file goes; it is left as it is (never followed, never replaced) and only that path is not written.
// not_linked: link_file found no hard link possible there; nothing was done.
enum class WriteOutcome { written, kept, refused, not_linked, failed };

class DiskWriter {
 public:
  explicit DiskWriter(bool force) : force_(force) {}

  // Opens the directory the user chose, creating it (not its parents) when it is absent. This one
  // path is the user's own, so symbolic links in it are followed like anywhere else.
  UniqueFd open_target(const std::string& path, std::string& error);

  // Opens the directory `name` inside `parent`, creating it when absent. An entry of that name that
  // is not a directory (a symbolic link included) is refused: no descriptor, *refused set and the
  // reason in `error`; any other failure leaves *refused false. `shown` is the path for messages.
  UniqueFd open_subdirectory(int parent, const std::string& name, const std::string& shown,
                             std::string& error, bool* refused = nullptr);

  // Writes `content` as the file `name` inside `dir`. A regular file already there is kept (kept)
  // unless the writer was made with force, in which case it is replaced; any other entry is refused.
  // On failure (failed) no temporary file is left behind.
  WriteOutcome write_file(int dir, const std::string& name, std::span<const uint8_t> content,
                          const std::string& shown, std::string& error);

  // Puts a hard link to the file `from` (a path below `from_dir` that this save wrote) as `name`
  // inside `dir`, with write_file's rules for what stands there already; not_linked where the file
  // system makes no such link.
  WriteOutcome link_file(int from_dir, const std::string& from, int dir, const std::string& name,
                         const std::string& shown, std::string& error);

 private:
  // What stands at `name`: kept, refused, failed, or written for nothing (go ahead).
  WriteOutcome look(int dir, const std::string& name, const std::string& shown, std::string& error);
  // Renames the finished temporary file into place; removes it when that fails.
  WriteOutcome place(int dir, const std::string& temp, const std::string& name, const std::string& shown,
                     std::string& error);
  std::string temp_name();

  bool force_;
  uint32_t temp_counter_ = 0;
};

}  // namespace save
