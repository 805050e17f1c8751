// The diagnostic log: one process-wide text log that every part of the analyzer writes through.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

namespace logio {

class LogWriter;

class CDebugLog {
 public:
  // Options (second argument of init).
  enum : uint32_t {
    OPT_FILE = 0x01,         // the path given to init, as is
    OPT_TEMP_DIR = 0x02,     // the name given to init, in $TMP (or $TEMP)
    OPT_DATED_NAME = 0x04,   // init's argument is a directory; the name is the opening date and time
    OPT_DELETE_EMPTY = 0x08, // delete at close a file that was created empty and got no line
    OPT_APPEND = 0x10,       // append instead of truncate
    OPT_DEBUGGER = 0x40,     // also send every line to the debugger output
  };
  // Prefixes (third argument of init), listed in the order they stand in a line.
  enum : uint32_t {
    PFX_LINE_NUMBER = 0x08,
    PFX_TIME_OF_DAY = 0x01,
    PFX_ELAPSED = 0x02,
    PFX_LEVEL = 0x04,
    PFX_INDENT = 0x100,
  };

  CDebugLog();
  ~CDebugLog();
  CDebugLog(const CDebugLog&) = delete;
  CDebugLog& operator=(const CDebugLog&) = delete;

  // 0 opened; 1 the file could not be opened; 4 already open; 5 neither file nor debugger output; 6 options
  // 0.
  int init(const char* path, uint32_t options, uint32_t prefixes, int32_t threshold);
  void set_level(int32_t threshold);
  // printf-style; always 0.
  int log(int32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Filters, prefixes and writes one line; always 0.
  int write_line(const char* text, int32_t level);
  // 0 closed; 2 no open file.
  int close();
  // Lines reach the file a moment after they are logged; this returns once every line logged so far
  // is in it (for a reader in the same process that needs them now).
  void flush();

  // The clock behind start_time and the time prefixes: whole seconds of the epoch and milliseconds.
  // Tests pin it to fixed readings; null restores the system clock.
  using ClockFn = void (*)(time_t& seconds, uint16_t& millis);
  void set_clock(ClockFn clock);

  // Whether a line of `level` would be written now; costs no lock (for a caller that can skip work
  // whose only trace is lines of that level).
  bool passes(int32_t level) const { return may_pass(level); }

  // Read access for the host and the tests.
  bool is_open() const;
  int32_t line_count() const;
  int32_t threshold() const;
  uint32_t options() const;
  uint32_t prefixes() const;
  std::string file_path() const;

 private:
  // (implementation detail; see debug_log.cpp)
  // Whether a line of `level` passes, answered without the lock (a dropped trace line costs nothing);
  // write_line asks again under the lock.
  bool may_pass(int32_t level) const { return level <= pass_limit_.load(std::memory_order_relaxed); }
  void update_pass_limit();

  mutable std::recursive_mutex mutex_;
  std::unique_ptr<LogWriter> file_;
  uint32_t prefixes_ = 0;
  int32_t threshold_ = 0;
  uint32_t open_ = 0;
  uint32_t options_ = 0;
  int32_t line_count_ = 0;
  time_t start_seconds_ = 0;
  uint16_t start_millis_ = 0;
  char file_path_[260] = {};
  uint32_t created_empty_ = 0;
  uint32_t file_output_ = 0;
  char line_[1024] = {};
  char message_[1024] = {};
  char scratch_[1024] = {};
  ClockFn clock_ = nullptr;
  // Whether a debugger was attached at the last look, and the second of the clock at that look.
  bool debugger_seen_ = false;
  bool debugger_checked_ = false;
  time_t debugger_checked_at_ = 0;
  // The threshold while lines are accepted, else below every level.
  std::atomic<int64_t> pass_limit_{INT64_MIN};
  // The time prefixes of the last clock reading, kept until the reading changes: formatting them costs
  // more than the rest of a line.
  time_t stamp_seconds_ = 0;
  uint16_t stamp_millis_ = 0;
  bool stamp_valid_ = false;
  char time_of_day_[64] = {};
  size_t time_of_day_size_ = 0;
  char elapsed_[64] = {};
  size_t elapsed_size_ = 0;
  // Time of day, elapsed time and level as they stand in a line, for prefix_level_.
  char prefix_[160] = {};
  size_t prefix_size_ = 0;
  int32_t prefix_level_ = 0;
  bool prefix_valid_ = false;
};

// The one log of the process.
extern CDebugLog g_log;

// The log file's path for a module path: the extension replaced by "txt" ("dsmcc.so" gives "dsmcc.txt",
// a name without extension gets ".txt"); a path under 5 characters gives "orvex.txt".
std::string log_path_for_module(const std::string& module_path);

// The plug-in's start-up: the log beside the module that holds this code, opened with options 0x41,
// prefixes 0x0F and threshold 0, then level 4, then "Starting DSMCC plugin" at level 2. A `path` that
// is not empty is opened instead of the one beside the module, and a `level` other than 4 replaces the
// 4 before the first line. Returns "" when the file is open, else why it is not.
std::string start_plugin_log(const std::string& path = {}, int32_t level = 4);

// The full path of the loaded module (executable or shared object) that holds the log's code; "" when
// the system cannot say.
std::string this_module_path();

// The TracerPid value of a /proc/<pid>/status text; 0 when the line is absent or unreadable.
long tracer_pid_from_status(const char* status_text);
// True while a debugger (any tracer) is attached to this process.
bool debugger_attached();

}  // namespace logio
