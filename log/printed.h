// printf into a std::string of exactly the needed length: the one formatting helper for texts that are
// built with a quoted format, so a long broadcast name is never cut by a fixed buffer.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

__attribute__((format(printf, 1, 2))) inline std::string printed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}
