#include "log/debug_log.h"

#include <dlfcn.h>
#include <link.h>
#include <locale.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

CDebugLog g_log;

namespace {

constexpr size_t kMaxPath = 259;
// How long a look at the debugger state stays valid: a look costs a read of /proc per line otherwise.
constexpr int64_t kDebuggerRecheckSeconds = 1;

void system_clock(time_t& seconds, uint16_t& millis) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  seconds = now.tv_sec;
  millis = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

int64_t monotonic_seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec);
}

// Appends s to the zero-terminated buffer, never writing at or past limit (limit <= capacity).
void append_bounded(char* buffer, size_t limit, const char* s) {
  size_t used = std::strlen(buffer);
  if (used + 1 >= limit) return;
  size_t room = limit - 1 - used;
  size_t n = std::strlen(s);
  if (n > room) n = room;
  std::memcpy(buffer + used, s, n);
  buffer[used + n] = '\0';
}

// Local time through a strftime pattern in the "C" locale: month names stay English whatever locale
// the host process has selected.
void format_local_time(char* out, size_t size, const char* pattern, time_t seconds) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  tm local{};
  localtime_r(&seconds, &local);
  if (!c_locale || strftime_l(out, size, pattern, &local, c_locale) == 0) out[0] = '\0';
}

std::string with_trailing_slash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string temp_directory() {
  for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

// The address that dladdr() looks up: internal, so no other binary's definition can stand in for it.
void module_anchor() {}

}  // namespace

CDebugLog::~CDebugLog() {
  close();
}

void CDebugLog::set_clock(ClockFn clock) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  clock_ = clock;
}

int CDebugLog::init(const char* path, uint32_t options, uint32_t prefixes, int32_t threshold) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (open_) return 4;
  prefixes_ = prefixes;
  threshold_ = threshold;
  options_ = options;
  line_count_ = 0;
  if (options == 0) return 6;

  file_output_ = (options & (OPT_FILE | OPT_TEMP_DIR | OPT_DATED_NAME)) ? 1 : 0;
  (clock_ ? clock_ : system_clock)(start_seconds_, start_millis_);

  const std::string given = path ? path : "";
  std::string full;
  if (options & OPT_TEMP_DIR) {
    full = with_trailing_slash(temp_directory()) + given;
  } else if (options & OPT_DATED_NAME) {
    char name[64];
    format_local_time(name, sizeof name, "%d-%b-%y-%H-%M-%S.log", start_seconds_);
    full = with_trailing_slash(given) + name;
  } else {
    full = given;
  }

  if (file_output_) {
    // A longer path is refused rather than cut: a cut path would name some other file.
    if (full.size() > kMaxPath) return 1;
    // "e": the descriptor must not leak into processes that the host starts.
    FILE* f = std::fopen(full.c_str(), (options & OPT_APPEND) ? "ae" : "we");
    if (!f) return 1;
    file_ = f;
    std::memcpy(file_path_, full.c_str(), full.size() + 1);
    open_ = 1;
    std::fseek(f, 0, SEEK_END);
    created_empty_ = std::ftell(f) == 0 ? 1 : 0;
    return 0;
  }
  if (options & OPT_DEBUGGER) {
    open_ = 1;
    return 0;
  }
  return 5;
}

void CDebugLog::set_level(int32_t threshold) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  threshold_ = threshold;
}

int CDebugLog::log(int32_t level, const char* format, ...) {
  // The lock is held from formatting to flushing, so concurrent lines never interleave.
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // The same filter as write_line, tested early so that a dropped line costs no formatting.
  if (open_ != 1 || threshold_ < 0 || level > threshold_) return 0;
  if (format) {
    va_list args;
    va_start(args, format);
    vsnprintf(message_, sizeof message_, format, args);
    va_end(args);
  } else {
    message_[0] = '\0';
  }
  return write_line(message_, level);
}

int CDebugLog::write_line(const char* text, int32_t level) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (open_ != 1 || threshold_ < 0 || level > threshold_) return 0;

  // One character stays free for the line end, so a cut line still ends a line.
  constexpr size_t kLineRoom = sizeof line_ - 1;
  ++line_count_;
  line_[0] = '\0';
  if (prefixes_ & PFX_LINE_NUMBER) {
    snprintf(line_, sizeof line_, "%4ld - ", static_cast<long>(line_count_));
  }

  time_t now_seconds = 0;
  uint16_t now_millis = 0;
  (clock_ ? clock_ : system_clock)(now_seconds, now_millis);

  if (prefixes_ & PFX_TIME_OF_DAY) {
    char stamp[32];
    format_local_time(stamp, sizeof stamp, "%b %d %H:%M:%S", now_seconds);
    snprintf(scratch_, sizeof scratch_, "%.15s.%3hu - ", stamp, static_cast<unsigned short>(now_millis));
    append_bounded(line_, kLineRoom, scratch_);
  }
  if (prefixes_ & PFX_ELAPSED) {
    double elapsed = static_cast<double>(now_seconds - start_seconds_) +
                     (static_cast<int>(now_millis) - static_cast<int>(start_millis_)) * 0.001;
    snprintf(scratch_, sizeof scratch_, "(%.3lf) - ", elapsed);
    append_bounded(line_, kLineRoom, scratch_);
  }
  if (prefixes_ & PFX_LEVEL) {
    snprintf(scratch_, sizeof scratch_, "<%ld> - ", static_cast<long>(level));
    append_bounded(line_, kLineRoom, scratch_);
  }
  if (prefixes_ & PFX_INDENT) {
    // Clamped so that an absurd level can neither overflow the product nor ask for more than a line.
    int64_t width = static_cast<int64_t>(level) * 3;
    if (width > static_cast<int64_t>(sizeof scratch_ - 1)) width = sizeof scratch_ - 1;
    if (width < -static_cast<int64_t>(sizeof scratch_ - 1))
      width = -static_cast<int64_t>(sizeof scratch_ - 1);
    snprintf(scratch_, sizeof scratch_, "%*s", static_cast<int>(width), " ");
    append_bounded(line_, kLineRoom, scratch_);
  }
  append_bounded(line_, kLineRoom, text ? text : "");
  append_bounded(line_, sizeof line_, "\n");

  if (file_output_ && file_) {
    std::fputs(line_, file_);
    std::fflush(file_);
  }
  if (options_ & OPT_DEBUGGER) {
    int64_t now = monotonic_seconds();
    if (debugger_checked_at_ < 0 || now - debugger_checked_at_ >= kDebuggerRecheckSeconds) {
      debugger_seen_ = debugger_attached();
      debugger_checked_at_ = now;
    }
    if (debugger_seen_) {
      std::fputs(line_, stderr);
      std::fflush(stderr);
    }
  }
  return 0;
}

int CDebugLog::close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!file_output_ || !open_) return 2;
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (created_empty_ && line_count_ == 0 && (options_ & OPT_DELETE_EMPTY)) ::unlink(file_path_);
  open_ = 0;
  return 0;
}

bool CDebugLog::is_open() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return open_ == 1;
}

int32_t CDebugLog::line_count() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return line_count_;
}

int32_t CDebugLog::threshold() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return threshold_;
}

uint32_t CDebugLog::options() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return options_;
}

uint32_t CDebugLog::prefixes() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return prefixes_;
}

std::string CDebugLog::file_path() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return std::string(file_path_);
}

std::string log_path_for_module(const std::string& module_path) {
  if (module_path.size() < 5) return "orvex.txt";
  size_t slash = module_path.rfind('/');
  size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = module_path.rfind('.');
  // A dot that opens the name (a hidden file) or sits in a directory name is no extension.
  if (dot == std::string::npos || dot <= name_start) return module_path + ".txt";
  return module_path.substr(0, dot + 1) + "txt";
}

std::string this_module_path() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&module_anchor), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0) {
    return "";
  }
  char buffer[1025];
  // The main program heads the list of loaded objects; the loader knows it only by argv[0].
  if (map && map->l_prev == nullptr) {
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer - 1) return "";
    buffer[n] = '\0';
    return buffer;
  }
  if (!info.dli_fname || !*info.dli_fname) return "";
  if (info.dli_fname[0] != '/') {
    char* resolved = ::realpath(info.dli_fname, nullptr);
    if (resolved) {
      std::string full = resolved;
      std::free(resolved);
      return full.size() <= 1024 ? full : "";
    }
  }
  std::string name = info.dli_fname;
  return name.size() <= 1024 ? name : "";
}

void start_plugin_log() {
  std::string path = log_path_for_module(this_module_path());
  g_log.init(path.c_str(), 65, 15, 0);
  g_log.set_level(4);
  g_log.log(2, "Starting DSMCC plugin");
}

long tracer_pid_from_status(const char* status_text) {
  if (!status_text) return 0;
  const char* key = "TracerPid:";
  const char* p = status_text;
  while (p && *p) {
    if (std::strncmp(p, key, std::strlen(key)) == 0) return std::strtol(p + std::strlen(key), nullptr, 10);
    p = std::strchr(p, '\n');
    if (p) ++p;
  }
  return 0;
}

bool debugger_attached() {
  FILE* f = std::fopen("/proc/self/status", "re");
  if (!f) return false;
  char text[4096];
  size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  return tracer_pid_from_status(text) != 0;
}
