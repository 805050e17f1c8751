#include "app/session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "app/pid_finder.h"
#include "app/plugin_access.h"
#include "app/report_commands.h"
#include "host/host.h"
#include "plugin/carousel_report.h"
#include "resources/resources.h"
#include "ui/headless/headless_backend.h"
#include "ui/headless/tree_render.h"
#include "ui/ui.h"

namespace app {

namespace {

using Clock = std::chrono::steady_clock;
namespace r = resources;

// Ctrl-C during a capture ends it as Cancel in the progress window would; a second Ctrl-C ends the
// program at once.
std::atomic<int> g_interrupts{0};

extern "C" void on_interrupt(int) {
  if (g_interrupts.fetch_add(1) >= 1) _exit(130);
}

class InterruptScope {
 public:
  InterruptScope() {
    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptScope() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction previous_ {};
};

// The three counts the capture stored, as the progress window names them: read from the capture, not
// from the window's texts, which a short capture may close before they are ever refreshed.
void print_capture_counts(ICarouselReport* counts, bool last) {
  int32_t dsi = 0, dii = 0, ddb = 0;
  if (!counts || FAILED(counts->GetCaptureCounts(&dsi, &dii, &ddb))) return;
  std::fprintf(stderr, "\rDownloadServerInitiate: %d  DownloadIndicationInfo: %d  DownloadDataBlock: %d%s", dsi, dii,
               ddb, last ? "\n" : "");
  std::fflush(stderr);
}

// Decides when a running capture ends (end of input, --duration, Ctrl-C), then closes the progress
// window with Cancel; meanwhile shows the counters on a terminal.
class CaptureController {
 public:
  void input_ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    input_ended_ = true;
    cv_.notify_all();
  }

  void start(ui::Dialog* dialog, ui::Dialog* progress, std::optional<double> duration, bool show_counters,
             ICarouselReport* counts) {
    dialog_ = dialog;
    counts_ = counts;
    progress_ = progress;
    duration_ = duration;
    show_counters_ = show_counters;
    interrupts_.emplace();
    thread_ = std::thread([this] { run(); });
  }

  void join() {
    if (thread_.joinable()) thread_.join();
    interrupts_.reset();
  }

 private:
  void run() {
    const Clock::time_point started = Clock::now();
    const Clock::time_point deadline =
        duration_ ? started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*duration_))
                  : Clock::time_point::max();
    Clock::time_point next_show = started + std::chrono::milliseconds(200);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!input_ended_ && g_interrupts.load() == 0 && Clock::now() < deadline) {
        // Short steps, so that Ctrl-C, which only sets a flag, is seen promptly.
        cv_.wait_until(lock, std::min({deadline, Clock::now() + std::chrono::milliseconds(50), next_show}));
        // The next show moves on whether or not counters are shown: a wake-up time left in the past
        // would turn this wait into a busy loop for the rest of the capture.
        if (Clock::now() >= next_show) {
          if (show_counters_) show_counters(false);
          next_show = std::max(next_show + std::chrono::milliseconds(200), Clock::now());
        }
      }
    }
    // The window belongs to the dialog's thread: the click is done there. The progress window ends only
    // through this one post, so it is still there when the post runs.
    ui::Dialog* progress = progress_;
    dialog_->post([progress] { progress->button(r::ID_CANCEL)->click(); });
  }

  void show_counters(bool last) { print_capture_counts(counts_, last); }

  ui::Dialog* dialog_ = nullptr;
  ui::Dialog* progress_ = nullptr;
  ICarouselReport* counts_ = nullptr;  // borrowed from the session for the capture
  std::optional<double> duration_;
  bool show_counters_ = false;
  std::optional<InterruptScope> interrupts_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool input_ended_ = false;
};

struct Session {
  const Options* options = nullptr;
  std::string source;
  IHostPlugin* plugin = nullptr;
  host::Host* host = nullptr;
  ui::Dialog* dialog = nullptr;
  CaptureController controller;
  ICarouselReport* counts = nullptr;  // held while a capture runs on a terminal
  std::string output;
  std::unique_ptr<health::CaptureReport> report;  // check, diff
  int status = 0;
  bool dialog_ran = false;
};

bool reports(Command command) { return command == Command::check || command == Command::diff; }

// The analyzer's report of the capture the analysis window has just ended, asked of the plug-in object
// by its interface id; null when it gives none.
std::unique_ptr<health::CaptureReport> ask_report(IHostPlugin* plugin) {
  void* out = nullptr;
  if (!plugin || FAILED(plugin->QueryInterface(IID_ICarouselReport, &out)) || !out) return nullptr;
  auto* reporter = static_cast<ICarouselReport*>(out);
  health::CaptureReport* report = nullptr;
  const HRESULT hr = reporter->DescribeCapture(&report);
  reporter->Release();
  return std::unique_ptr<health::CaptureReport>(SUCCEEDED(hr) ? report : nullptr);
}

Session* g_session = nullptr;

std::vector<std::string> list_texts(const ui::ListBox& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.text_at(i));
  return out;
}

void type_pair(ui::Dialog& dialog, const std::string& program_text, const std::string& pid_text) {
  dialog.edit(r::ANALYSIS_PRG_EDIT)->set_text(program_text);
  dialog.edit(r::ANALYSIS_PID_EDIT)->set_text(pid_text);
  dialog.button(r::ANALYSIS_ADD)->click();
}

// The PSI lists no DSM-CC stream: name the PIDs that carry DSM-CC sections and the --pair to use.
// Returns those PIDs.
std::vector<uint32_t> report_unlisted_carousels(const std::string& source, const host::Host& host, bool capturing) {
  std::fprintf(stderr, "dsmcc: the PSI of %s lists no DSM-CC stream\n", source.c_str());
  // A file is read once more, whole; a live source cannot be, and the host noted during the scan
  // which PIDs carried DSM-CC sections (its capture gets the scan's bytes again).
  PidFinding finding;
  if (host.is_live()) {
    finding.searched = true;
    finding.pids = host.dsmcc_pids();
  } else {
    finding = find_dsmcc_pids(source);
  }
  if (!finding.error.empty()) {
    std::fprintf(stderr, "dsmcc: cannot search %s for DSM-CC PIDs: %s\n", source.c_str(), finding.error.c_str());
    return {};
  }
  if (!finding.searched) {
    std::fprintf(stderr, "dsmcc: a live source is not searched for DSM-CC PIDs; name them with --pair PRG:PID\n");
    return {};
  }
  if (finding.pids.empty()) {
    std::fprintf(stderr, "dsmcc: no PID of %s carries DSM-CC sections (tables 0x3B/0x3C)\n", source.c_str());
    return {};
  }
  for (uint32_t pid : finding.pids)
    std::fprintf(stderr,
                 "dsmcc: PID 0x%04x carries DSM-CC sections (tables 0x3B/0x3C); capture it with --pair PRG:0x%04x,"
                 " e.g. --pair 1:0x%04x\n",
                 pid, pid, pid);
  if (capturing) {
    std::string list;
    for (uint32_t pid : finding.pids) {
      char text[16];
      std::snprintf(text, sizeof text, "%s0x%04x", list.empty() ? "" : ", ", pid);
      list += text;
    }
    std::fprintf(stderr, "dsmcc: capturing PID %s under programme 1 (no PMT names a programme for it)\n",
                 list.c_str());
  }
  return finding.pids;
}

// --save DIR: everything the capture rebuilt, both kinds, in one save with one summary on stderr.
int save_capture(IHostPlugin* plugin, const std::string& dir, bool force) {
  void* out = nullptr;
  if (!plugin || FAILED(plugin->QueryInterface(IID_ICarouselReport, &out)) || !out) {
    std::fprintf(stderr, "dsmcc: the plug-in cannot save its capture\n");
    return 1;
  }
  auto* reporter = static_cast<ICarouselReport*>(out);
  std::string summary;
  const HRESULT hr = reporter->SaveCapture(dir.c_str(), force, &summary);
  reporter->Release();
  if (FAILED(hr)) {
    std::fprintf(stderr, "dsmcc: the capture could not be saved\n");
    return 1;
  }
  std::fprintf(stderr, "Save: %s\n", summary.c_str());
  return hr == S_OK ? 0 : 1;
}

void on_analysis_window(ui::Dialog& dialog) {
  Session& s = *g_session;
  s.dialog = &dialog;
  s.dialog_ran = true;
  const Options& o = *s.options;
  const std::vector<std::string> mux = list_texts(*dialog.list_box(r::ANALYSIS_MUX_LIST));

  if (o.command == Command::scan) {
    for (const std::string& entry : mux) s.output += entry + "\n";
    if (mux.empty()) report_unlisted_carousels(s.source, *s.host, false);
    dialog.button(r::ID_OK)->click();
    return;
  }

  for (const PairArg& pair : o.pairs) type_pair(dialog, pair.program_text, pair.pid_text);
  if (o.all) {
    ui::ListBox& list = *dialog.list_box(r::ANALYSIS_MUX_LIST);
    if (list.count() > 0) {
      list.set_sel(-1, true);
      dialog.button(r::ANALYSIS_MUX_ADD)->click();
    } else if (o.pairs.empty()) {
      for (uint32_t pid : report_unlisted_carousels(s.source, *s.host, true)) {
        char pid_text[16];
        std::snprintf(pid_text, sizeof pid_text, "0x%04x", pid);
        type_pair(dialog, "1", pid_text);
      }
    }
  }

  dialog.button(r::ANALYSIS_START)->click();
  s.controller.join();
  if (s.counts) {
    // The capture has stopped: these are the counts it stored, whatever the window last showed.
    print_capture_counts(s.counts, true);
    s.counts->Release();
    s.counts = nullptr;
  }

  if (reports(o.command)) {
    s.report = ask_report(s.plugin);
    dialog.button(r::ID_OK)->click();
    s.dialog = nullptr;
    return;
  }
  std::vector<Page> pages = o.pages;
  if (pages.empty()) pages = {Page::section, Page::data, Page::object};
  s.output = render_pages(dialog, pages, o.json);

  if (o.save_dir) s.status = save_capture(s.plugin, *o.save_dir, o.force);
  dialog.button(r::ID_OK)->click();
  s.dialog = nullptr;
}

void on_progress_window(ui::Dialog& progress) {
  Session& s = *g_session;
  const bool terminal = ::isatty(2) == 1;
  void* out = nullptr;
  if (terminal && !s.counts && SUCCEEDED(s.plugin->QueryInterface(IID_ICarouselReport, &out)) && out)
    s.counts = static_cast<ICarouselReport*>(out);
  s.controller.start(s.dialog, &progress, s.options->duration_seconds, terminal, s.counts);
  s.host->begin_capture();
}

void on_window(ui::Dialog& window) {
  if (!g_session) return;
  switch (window.template_id()) {
    case r::DIALOG_ANALYSIS:
      on_analysis_window(window);
      break;
    case r::DIALOG_SCANNING:
      on_progress_window(window);
      break;
    case r::DIALOG_PSI_SCAN:
      // A live source delivers its packets once: a capture of named pairs does not wait for the PAT
      // (up to the host's timeout) while the carousel goes by unseen.
      if (g_session->host->is_live() && g_session->options->command != Command::scan && !g_session->options->all)
        window.button(r::ID_CANCEL)->click();
      break;
    default:
      break;
  }
}

}  // namespace

std::string render_pages(const ui::Dialog& dialog, const std::vector<Page>& pages, bool json) {
  const ui::TabControl* tabs = dialog.tabs(r::ANALYSIS_TABS);
  std::string out = json ? "{" : "";
  bool first = true;
  for (Page page : pages) {
    const ui::Dialog* window = tabs ? tabs->page(static_cast<int>(page)) : nullptr;
    const ui::TreeView* tree = window ? window->tree(r::PAGE_TREE) : nullptr;
    if (json) {
      if (!first) out += ",";
      out += ui::headless::json_string(page_title(page));
      out += ":";
      out += tree ? ui::headless::render_json(*tree) : "[]";
    } else {
      if (!first) out += "\n";
      if (tree) out += ui::headless::render_text(*tree);
    }
    first = false;
  }
  if (json) out += "}\n";
  return out;
}

int run_session(const Options& options) {
  std::string error;
  std::unique_ptr<host::LoadedPlugin> loaded = load_analyzer_plugin(error);
  if (!loaded) {
    std::fprintf(stderr, "dsmcc: %s\n", error.c_str());
    return 2;
  }
  // A folder that cannot be made is known before anything is read: the capture would be for nothing.
  if (options.save_dir) {
    std::error_code ec;
    std::filesystem::create_directories(*options.save_dir, ec);
    if (ec || !std::filesystem::is_directory(*options.save_dir, ec)) {
      std::fprintf(stderr, "dsmcc: cannot save into %s: %s\n", options.save_dir->c_str(),
                   ec ? ec.message().c_str() : "it is not a folder");
      return 1;
    }
  }
  IHostPlugin* plugin = loaded->plugin();
  start_analyzer_plugin(plugin, options.log);

  // diff captures both sources with one plug-in object, one after the other, so that the log holds
  // both captures.
  std::vector<std::string> sources{options.source};
  if (options.command == Command::diff) sources.push_back(options.other_source);
  std::vector<std::unique_ptr<health::CaptureReport>> reports_made;
  for (size_t i = 0; i < sources.size(); ++i) {
    const bool last = i + 1 == sources.size();
    host::Host host;
    // --duration bounds the whole run and Ctrl-C ends it, the wait for a pipe's first bytes included:
    // the run then goes on with the pages of nothing.
    const auto deadline =
        options.duration_seconds
            ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*options.duration_seconds))
            : Clock::time_point::max();
    std::string open_error;
    {
      InterruptScope interrupts;
      open_error = host.open(sources[i], [deadline] { return g_interrupts.load() > 0 || Clock::now() >= deadline; });
    }
    if (!open_error.empty()) {
      std::fprintf(stderr, "dsmcc: %s\n", open_error.c_str());
      return 2;
    }
    if (host.source()->silent()) {
      if (options.duration_seconds && g_interrupts.load() == 0)
        std::fprintf(stderr, "dsmcc: nothing arrived on %s within --duration %g s\n", sources[i].c_str(),
                     *options.duration_seconds);
      else
        std::fprintf(stderr, "dsmcc: nothing arrived on %s before Ctrl-C\n", sources[i].c_str());
    }
    if (options.tuner_type) host.set_tuner_type(*options.tuner_type);
    host.set_diagnostic_handler([](const std::string& message) {
      std::fprintf(stderr, "dsmcc: %s\n", message.c_str());
    });

    Session session;
    session.options = &options;
    session.source = sources[i];
    session.plugin = plugin;
    session.host = &host;
    g_session = &session;
    host.set_end_of_input_handler([&session] { session.controller.input_ended(); });

    plugin->SetInterface(IID_OrvexFltMgr, host.filter_manager());
    plugin->SetInterface(IID_HostDriver, host.driver());
    // The command the plug-in's menu offers for its analysis window.
    uint32_t command = r::COMMAND_ANALYZE;
    HostMenu* menu = nullptr;
    if (SUCCEEDED(plugin->GetMenu(&menu)) && menu) {
      if (!menu->items.empty()) command = menu->items.front().command;
      delete menu;
    }
    ui::AutomationHook previous = ui::set_automation(on_window);
    const HRESULT hr = plugin->OnCommand(0, command);
    ui::set_automation(previous);
    // The plug-in lets go of the host's objects before the host stops. Between two captures it keeps
    // them until the next host's objects replace them, which a stopped host allows.
    if (last) loaded.reset();
    host.stop();
    g_session = nullptr;

    if (FAILED(hr) || !session.dialog_ran) {
      std::fprintf(stderr, "dsmcc: the analyzer refused to run on %s\n", sources[i].c_str());
      return 2;
    }
    if (!reports(options.command)) {
      std::fwrite(session.output.data(), 1, session.output.size(), stdout);
      std::fflush(stdout);
      return session.status;
    }
    if (!session.report) {
      std::fprintf(stderr, "dsmcc: the analyzer gave no report of the capture of %s\n", sources[i].c_str());
      return 2;
    }
    reports_made.push_back(std::move(session.report));
  }

  std::string output;
  int status = 0;
  if (options.command == Command::check) {
    output = format_check(*reports_made[0], options.json);
    status = check_status(*reports_made[0]);
  } else {
    bool same = true;
    output = format_diff(*reports_made[0], *reports_made[1], options.json, same);
    status = same ? 0 : 1;
  }
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace app
