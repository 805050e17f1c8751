// A read-only mapping of a file's first bytes, for passes that look at a few bytes of every packet:
// the packets are read where the page cache holds them, without copying them out first.
//
// A mapped file that shrinks under the mapping (truncated by another program, or an I/O error)
// would end the process with SIGBUS on the next access. While a mapping lives, a SIGBUS inside it
// replaces the rest of the mapping by zeros and marks the mapping cut instead; a SIGBUS anywhere
// else goes on to the handler that was there before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace host {

class MappedFile {
 public:
  // Maps `length` bytes of `fd` from its start; valid() is false when the file cannot be mapped (or
  // no guard is free), and the caller reads it instead.
  MappedFile(int fd, uint64_t length);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool valid() const noexcept { return data_ != nullptr; }
  std::span<const uint8_t> bytes() const noexcept { return {data_, length_}; }
  // True once an access failed; the bytes from the failed page on read as zeros.
  bool cut() const noexcept;
  // The file is now shorter than the mapping. (Cut inside its last page it reads as zeros without a
  // fault; a fault where the file is not shorter is an error of the device.)
  bool shorter() const noexcept;
  // Sets up the page tables of [offset, offset + length) ahead of use, so that the reader does not
  // stop at every page; false when that part cannot be set up (then the reader's faults do it).
  bool prefault(uint64_t offset, uint64_t length) const noexcept;
  // Gives back the pages of [0, end) that are done with; the page cache keeps them.
  void release_before(uint64_t end) noexcept;

 private:
  uint8_t* data_ = nullptr;
  uint64_t length_ = 0;
  uint64_t released_ = 0;
  int fd_;
  int guard_ = -1;
};

}  // namespace host
