// The one bounded reader behind every byte layout of the analyzer.
//
// A cursor over a span. A read that would pass the end sets a sticky error flag, reads nothing, leaves
// the cursor where it was and returns 0 (or an empty span); every later read fails the same way. A
// decoder therefore reads a whole structure and checks ok() once, instead of testing each field, and
// no pointer past the end is ever formed.
//
// A length field hands its body on through the reader, never by cutting rest() or the input by hand:
// sub() for a body that is decoded field by field, bytes() for one that is kept or given whole to
// another decoder, skip() for one that is not decoded. The body thereby ends exactly where the field
// says, whatever its decoder reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bytes {

// Owned bytes, and a view of bytes owned elsewhere.
using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> data) noexcept : data_(data) {}
  ByteReader(const uint8_t* data, size_t size) noexcept : data_(data, size) {}

  // Sticky state.
  bool ok() const noexcept { return !failed_; }
  bool failed() const noexcept { return failed_; }
  // Offset at which the first failed read started, and how many bytes it wanted.
  size_t error_offset() const noexcept { return error_offset_; }
  size_t error_wanted() const noexcept { return error_wanted_; }
  void fail() noexcept { fail_at(pos_, 0); }

  size_t position() const noexcept { return pos_; }
  size_t size() const noexcept { return data_.size(); }
  size_t remaining() const noexcept { return data_.size() - pos_; }
  bool at_end() const noexcept { return pos_ >= data_.size(); }
  bool can_read(size_t n) const noexcept { return !failed_ && n <= remaining(); }

  std::span<const uint8_t> data() const noexcept { return data_; }
  std::span<const uint8_t> rest() const noexcept { return data_.subspan(pos_); }

  // Moves the cursor to an absolute offset inside the data (the end included).
  bool seek(size_t offset) noexcept {
    if (failed_ || offset > data_.size()) {
      fail_at(pos_, offset > pos_ ? offset - pos_ : 0);
      return false;
    }
    pos_ = offset;
    return true;
  }

  bool skip(size_t n) noexcept {
    if (!take(n)) return false;
    pos_ += n;
    return true;
  }

  uint8_t u8() noexcept {
    if (!take(1)) return 0;
    return data_[pos_++];
  }
  uint16_t be16() noexcept { return static_cast<uint16_t>(read_be(2)); }
  uint32_t be24() noexcept { return static_cast<uint32_t>(read_be(3)); }
  uint32_t be32() noexcept { return static_cast<uint32_t>(read_be(4)); }
  uint64_t be64() noexcept { return read_be(8); }
  uint16_t le16() noexcept { return static_cast<uint16_t>(read_le(2)); }
  uint32_t le32() noexcept { return static_cast<uint32_t>(read_le(4)); }
  uint64_t le64() noexcept { return read_le(8); }
  uint16_t u16(bool big_endian) noexcept { return big_endian ? be16() : le16(); }
  uint32_t u32(bool big_endian) noexcept { return big_endian ? be32() : le32(); }

  // A view of the next n bytes; empty (and failed) when fewer remain.
  std::span<const uint8_t> bytes(size_t n) noexcept {
    if (!take(n)) return {};
    auto view = data_.subspan(pos_, n);
    pos_ += n;
    return view;
  }

  // A reader over the next n bytes, which the cursor steps over. A length field thereby opens a
  // scope that ends exactly at the declared length, and an unknown tail is skipped rather than guessed.
  ByteReader sub(size_t n) noexcept {
    auto view = bytes(n);
    ByteReader inner(view);
    if (failed_) inner.failed_ = true;
    return inner;
  }

  // The bytes from the cursor to the end of this scope, which the cursor steps over: for a field that
  // runs to the end of its enclosing length rather than having one of its own.
  std::span<const uint8_t> take_rest() noexcept { return bytes(remaining()); }

  // Like sub(), except that when fewer than n bytes remain the inner reader covers what is left instead
  // of nothing. This reader fails all the same, where sub() would; the inner one is sound. For the
  // decoders that keep what they read of a body cut short.
  ByteReader sub_or_rest(size_t n) noexcept {
    if (failed_ || n <= remaining()) return sub(n);
    ByteReader inner(rest());
    fail_at(pos_, n);
    return inner;
  }

  // Reads without moving the cursor; a short peek fails like any other read.
  uint8_t peek_u8(size_t ahead = 0) noexcept {
    if (failed_ || ahead >= remaining()) {
      fail_at(pos_, ahead + 1);
      return 0;
    }
    return data_[pos_ + ahead];
  }

 private:
  bool take(size_t n) noexcept {
    if (failed_) return false;
    if (n > remaining()) {
      fail_at(pos_, n);
      return false;
    }
    return true;
  }
  void fail_at(size_t offset, size_t wanted) noexcept {
    if (!failed_) {
      failed_ = true;
      error_offset_ = offset;
      error_wanted_ = wanted;
    }
  }
  uint64_t read_be(size_t n) noexcept {
    if (!take(n)) return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[pos_ + i];
    pos_ += n;
    return v;
  }
  uint64_t read_le(size_t n) noexcept {
    if (!take(n)) return 0;
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | data_[pos_ + i];
    pos_ += n;
    return v;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool failed_ = false;
  size_t error_offset_ = 0;
  size_t error_wanted_ = 0;
};

}  // namespace bytes
