// printf into a std::string of exactly the needed length: the one formatting helper for texts that are
// built with a quoted format, so a long broadcast name or path is never cut by a fixed buffer.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace text {

// `args` is consumed; the caller still ends it with va_end.
__attribute__((format(printf, 1, 0))) inline std::string vprinted(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

__attribute__((format(printf, 1, 2))) inline std::string printed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vprinted(format, args);
  va_end(args);
  return text;
}

}  // namespace text
