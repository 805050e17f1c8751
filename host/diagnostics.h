// Messages about damaged input, for the embedding program to show (stderr, a status line).
//
// A badly damaged stream can break thousands of times; the first few messages of each kind say what
// is wrong, the rest would only bury them, so each kind is passed on a limited number of times and
// the statistics keep the full count.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace host {

enum class DiagnosticKind : uint8_t {
  sync,
  torn_packet,
  continuity,
  transport_error,
  malformed_packet,
  section_length,
  section_cut,
  psi_crc,
  input_overrun,
  input_error,
  count_
};

class Diagnostics {
 public:
  using Handler = std::function<void(const std::string&)>;
  static constexpr uint32_t PER_KIND_LIMIT = 20;

  // The handler is called on the host's threads (one at a time).
  void set_handler(Handler handler);
  void report(DiagnosticKind kind, const char* format, ...) __attribute__((format(printf, 3, 4)));

 private:
  std::mutex mutex_;
  Handler handler_;
  std::array<uint32_t, static_cast<size_t>(DiagnosticKind::count_)> reported_{};
};

}  // namespace host
