#include "log/debug_log.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "log/log_writer.h"

namespace logio {

CDebugLog g_log;

namespace {

constexpr size_t kMaxPath = 259;
// How long a look at the debugger state stays valid: a look costs a read of /proc per line otherwise.

void system_clock(time_t& seconds, uint16_t& millis) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  seconds = now.tv_sec;
  millis = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

// Appends up to n bytes of s at line + used, never past limit - 1 characters in all; the new length.
size_t append_cut(char* line, size_t used, size_t limit, const char* s, size_t n) {
  if (used + 1 >= limit) return used;
  const size_t room = limit - 1 - used;
  if (n > room) n = room;
  std::memcpy(line + used, s, n);
  return used + n;
}

// "%4ld - " of n, written without printf: it is the one prefix that changes on every line.
size_t format_line_number(char* out, long n) {
  char digits[24];
  size_t count = 0;
  unsigned long magnitude = n < 0 ? 0ul - static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (n < 0) digits[count++] = '-';
  size_t used = 0;
  for (size_t pad = count; pad < 4; ++pad) out[used++] = ' ';
  while (count) out[used++] = digits[--count];
  std::memcpy(out + used, " - ", 3);
  return used + 3;
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

CDebugLog::CDebugLog() = default;

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

  stamp_valid_ = false;
  prefix_valid_ = false;
  debugger_checked_ = false;
  if (file_output_) {
    // A longer path is refused rather than cut: a cut path would name some other file.
    if (full.size() > kMaxPath) return 1;
    // Close-on-exec: the descriptor must not leak into processes that the host starts.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | ((options & OPT_APPEND) ? O_APPEND : O_TRUNC);
    const int fd = ::open(full.c_str(), flags, 0666);
    if (fd < 0) return 1;
    created_empty_ = ::lseek(fd, 0, SEEK_END) == 0 ? 1 : 0;
    file_ = std::make_unique<logio::LogWriter>(fd);
    std::memcpy(file_path_, full.c_str(), full.size() + 1);
    open_ = 1;
    update_pass_limit();
    return 0;
  }
  if (options & OPT_DEBUGGER) {
    open_ = 1;
    update_pass_limit();
    return 0;
  }
  return 5;
}

void CDebugLog::update_pass_limit() {
  pass_limit_.store(open_ == 1 && threshold_ >= 0 ? threshold_ : INT64_MIN, std::memory_order_relaxed);
}

void CDebugLog::set_level(int32_t threshold) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  threshold_ = threshold;
  update_pass_limit();
}

int CDebugLog::log(int32_t level, const char* format, ...) {
  if (!may_pass(level)) return 0;
  // The lock is held from formatting to handing the line over, so concurrent lines never interleave.
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
  size_t used = 0;
  if (prefixes_ & PFX_LINE_NUMBER) used = format_line_number(line_, static_cast<long>(line_count_));

  time_t now_seconds = 0;
  uint16_t now_millis = 0;
  (clock_ ? clock_ : system_clock)(now_seconds, now_millis);

  const bool stamp_changed = !stamp_valid_ || now_seconds != stamp_seconds_ || now_millis != stamp_millis_;
  if ((prefixes_ & (PFX_TIME_OF_DAY | PFX_ELAPSED)) && stamp_changed) {
    if (!stamp_valid_ || now_seconds != stamp_seconds_) {
      char stamp[32];
      format_local_time(stamp, sizeof stamp, "%b %d %H:%M:%S", now_seconds);
      std::memcpy(scratch_, stamp, sizeof stamp);
    }
    snprintf(time_of_day_, sizeof time_of_day_, "%.15s.%3hu - ", scratch_,
             static_cast<unsigned short>(now_millis));
    time_of_day_size_ = std::strlen(time_of_day_);
    double elapsed = static_cast<double>(now_seconds - start_seconds_) +
                     (static_cast<int>(now_millis) - static_cast<int>(start_millis_)) * 0.001;
    snprintf(elapsed_, sizeof elapsed_, "(%.3lf) - ", elapsed);
    elapsed_size_ = std::strlen(elapsed_);
    stamp_seconds_ = now_seconds;
    stamp_millis_ = now_millis;
    stamp_valid_ = true;
  }
  // The time and level prefixes of consecutive lines are mostly the same text: it is put together
  // only when the clock reading or the level changes, and copied as one block.
  if (stamp_changed || !prefix_valid_ || level != prefix_level_) {
    prefix_size_ = 0;
    if (prefixes_ & PFX_TIME_OF_DAY)
      prefix_size_ = append_cut(prefix_, prefix_size_, sizeof prefix_, time_of_day_, time_of_day_size_);
    if (prefixes_ & PFX_ELAPSED)
      prefix_size_ = append_cut(prefix_, prefix_size_, sizeof prefix_, elapsed_, elapsed_size_);
    if (prefixes_ & PFX_LEVEL) {
      char level_text[32];
      const int n = snprintf(level_text, sizeof level_text, "<%ld> - ", static_cast<long>(level));
      prefix_size_ = append_cut(prefix_, prefix_size_, sizeof prefix_, level_text, static_cast<size_t>(n));
    }
    prefix_level_ = level;
    prefix_valid_ = true;
  }
  used = append_cut(line_, used, kLineRoom, prefix_, prefix_size_);
  if (prefixes_ & PFX_INDENT) {
    // "%*s" of " ": as many spaces as the width says, left-justified when it is negative, and at
    // least the one. Clamped so that an absurd level can neither overflow the product nor ask for
    // more than a line.
    int64_t width = static_cast<int64_t>(level) * 3;
    if (width < 0) width = -width;
    if (width > static_cast<int64_t>(sizeof scratch_ - 1)) width = sizeof scratch_ - 1;
    if (width < 1) width = 1;
    size_t room = kLineRoom - 1 - used;
    size_t n = static_cast<size_t>(width) < room ? static_cast<size_t>(width) : room;
    std::memset(line_ + used, ' ', n);
    used += n;
  }
  if (text) used = append_cut(line_, used, kLineRoom, text, strnlen(text, kLineRoom));
  line_[used++] = '\n';
  line_[used] = '\0';

  if (file_output_ && file_) file_->append(line_, used);
  if (options_ & OPT_DEBUGGER) {
    // Looked at again whenever the line's second differs from the last look's (the clock already
    // read for the prefixes; a second clock read a line costs as much as the rest of the prefix).
    if (!debugger_checked_ || now_seconds != debugger_checked_at_) {
      debugger_seen_ = debugger_attached();
      debugger_checked_at_ = now_seconds;
      debugger_checked_ = true;
    }
    if (debugger_seen_) {
      std::fwrite(line_, 1, used, stderr);
      std::fflush(stderr);
    }
  }
  return 0;
}

int CDebugLog::close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!file_output_ || !open_) return 2;
  // Everything logged is written before the file closes.
  file_.reset();
  if (created_empty_ && line_count_ == 0 && (options_ & OPT_DELETE_EMPTY)) ::unlink(file_path_);
  open_ = 0;
  update_pass_limit();
  return 0;
}

void CDebugLog::flush() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (file_) file_->flush();
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

std::string start_plugin_log(const std::string& path, int32_t level) {
  const std::string file = path.empty() ? log_path_for_module(this_module_path()) : path;
  errno = 0;
  const int opened = g_log.init(file.c_str(), 65, 15, 0);
  const int open_errno = errno;
  g_log.set_level(level);
  g_log.log(2, "Starting DSMCC plugin");
  if (opened == 0 || opened == 4) return {};
  if (file.size() > kMaxPath) return "the path is longer than " + std::to_string(kMaxPath) + " bytes";
  return open_errno ? std::strerror(open_errno) : "it cannot be opened";
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

}  // namespace logio
