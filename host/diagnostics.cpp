#include "host/diagnostics.h"

#include <cstdarg>

#include "text/printed.h"

namespace host {

void Diagnostics::set_handler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
  reported_.fill(0);
}

void Diagnostics::report(DiagnosticKind kind, const char* format, ...) {
  std::lock_guard lock(mutex_);
  if (!handler_) return;
  uint32_t& seen = reported_[static_cast<size_t>(kind)];
  if (seen > PER_KIND_LIMIT) return;
  if (seen++ == PER_KIND_LIMIT) {
    handler_("(further messages of this kind are not shown; the statistics count them all)");
    return;
  }
  va_list args;
  va_start(args, format);
  const std::string text = text::vprinted(format, args);
  va_end(args);
  handler_(text);
}

}  // namespace host
