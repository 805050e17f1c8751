#include "app/gui_host.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "app/pid_finder.h"
#include "app/plugin_access.h"
#include "host/host.h"
#include "ui/backend.h"

namespace app {

namespace {

// A file is delivered once no filter has been added for this long, which lets Start install all of
// its filters first.
constexpr std::chrono::milliseconds kAutoBegin{300};

QString from_utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

GuiHost::GuiHost(const LogOptions& log_options) {
  log_ = new QPlainTextEdit(this);
  log_->setReadOnly(true);
  log_->setObjectName(QStringLiteral("host_log"));
  setCentralWidget(log_);

  loaded_ = load_analyzer_plugin(plugin_error_);
  if (loaded_) {
    plugin_ = loaded_->plugin();
    start_analyzer_plugin(plugin_, log_options);
    log(QStringLiteral("Plug-in loaded from ") + from_utf8(loaded_->module_path()));
  } else {
    log(QStringLiteral("No plug-in: ") + from_utf8(plugin_error_));
  }
  build_menus();
  setWindowTitle(QStringLiteral("dsmcc"));
  resize(640, 360);
  statusBar()->showMessage(QStringLiteral("No stream open"));
}

GuiHost::~GuiHost() {
  if (search_wanted_) *search_wanted_ = false;
  if (pid_search_.joinable()) pid_search_.join();
  // The plug-in lets go of the hosts' objects before the last host stops.
  plugin_ = nullptr;
  loaded_.reset();
  if (live_host_) live_host_->stop();
}

void GuiHost::build_menus() {
  file_menu_ = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* open = file_menu_->addAction(QStringLiteral("&Open stream..."));
  open->setObjectName(QStringLiteral("open_stream"));
  open->setShortcut(QKeySequence::Open);
  QObject::connect(open, &QAction::triggered, this, [this] { ask_for_source(); });
  file_menu_->addSeparator();
  QAction* quit = file_menu_->addAction(QStringLiteral("&Quit"));
  quit->setObjectName(QStringLiteral("quit"));
  quit->setShortcut(QKeySequence::Quit);
  QObject::connect(quit, &QAction::triggered, this, [this] { close(); });

  if (!plugin_) return;
  char* name = nullptr;
  QString title = QStringLiteral("Plug-in");
  if (SUCCEEDED(plugin_->GetName(&name)) && name) {
    title = QString::fromUtf8(name);
    task_free(name);
  }
  HostMenu* menu = nullptr;
  if (FAILED(plugin_->GetMenu(&menu)) || !menu) {
    log(QStringLiteral("The plug-in offers no menu."));
    return;
  }
  // The host owns the menu from here on.
  std::unique_ptr<HostMenu> owned(menu);
  plugin_menu_ = menuBar()->addMenu(title);
  plugin_menu_->setObjectName(QStringLiteral("plugin_menu"));
  for (const HostMenuItem& item : owned->items) {
    QAction* action = plugin_menu_->addAction(from_utf8(item.text));
    action->setData(item.command);
    const uint32_t command = item.command;
    QObject::connect(action, &QAction::triggered, this, [this, command] { run_plugin_command(command); });
  }
}

QAction* GuiHost::plugin_action(uint32_t command) const {
  if (!plugin_menu_) return nullptr;
  for (QAction* action : plugin_menu_->actions())
    if (action->data().toUInt() == command) return action;
  return nullptr;
}

QString GuiHost::log_text() const {
  return log_->toPlainText();
}

void GuiHost::log(const QString& line) {
  log_->appendPlainText(line);
}

void GuiHost::ask_for_source() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open stream"), QString(),
      QStringLiteral("Transport streams (*.ts *.m2ts *.mts *.trp);;All files (*)"));
  if (file.isEmpty()) return;
  const QByteArray path = file.toUtf8();
  if (std::string error = open_source(std::string(path.constData(), static_cast<size_t>(path.size())));
      !error.empty())
    QMessageBox::warning(this, QStringLiteral("Open stream"), from_utf8(error));
}

std::string GuiHost::open_source(const std::string& source) {
  if (running_) return "an analysis is running";
  // Opening once here checks the stream; every analysis opens it again for itself.
  auto probe = std::make_unique<host::Host>();
  if (std::string error = probe->open(source); !error.empty()) return error;
  if (live_host_) live_host_->stop();
  live_host_.reset();
  if (source == "-") live_host_ = std::move(probe);
  source_ = source;
  const QString shown = source == "-" ? QStringLiteral("standard input") : from_utf8(source);
  setWindowTitle(QStringLiteral("dsmcc - ") + (source == "-" ? shown : QFileInfo(shown).fileName()));
  statusBar()->showMessage(QStringLiteral("Stream: ") + shown);
  log(QStringLiteral("Opened ") + shown);
  search_for_carousel_pids();
  return {};
}

QString GuiHost::carousel_pids_text(const std::vector<uint32_t>& found) {
  QStringList pids;
  for (uint32_t pid : found) pids << QStringLiteral("0x%1").arg(pid, 4, 16, QLatin1Char('0'));
  return QStringLiteral("DSM-CC sections (tables 0x3B/0x3C) on PID ") + pids.join(QStringLiteral(", ")) +
         QStringLiteral(". One that the MUX DSMCC streams list does not show can be added in the analysis "
                        "window with PID and Prg No (e.g. PID ") +
         pids.front() + QStringLiteral(", Prg No 1).");
}

void GuiHost::search_for_carousel_pids() {
  if (search_wanted_) *search_wanted_ = false;
  if (pid_search_.joinable()) pid_search_.join();
  if (live_host_ || source_.rfind("udp:", 0) == 0) return;  // read once: the analysis has the bytes
  auto wanted = std::make_shared<std::atomic<bool>>(true);
  search_wanted_ = wanted;
  pid_search_ = std::thread([this, wanted, source = source_] {
    const PidFinding finding = find_dsmcc_pids(source);
    QString line;
    if (!finding.error.empty())
      line = QStringLiteral("Cannot search for DSM-CC PIDs: ") + from_utf8(finding.error);
    else if (finding.pids.empty())
      line = QStringLiteral("No PID of this stream carries DSM-CC sections (tables 0x3B/0x3C).");
    else
      line = carousel_pids_text(finding.pids);
    // The window joins this thread before it goes, so `this` is alive for the queued call.
    QMetaObject::invokeMethod(
        this, [this, wanted, line] {
          if (*wanted) log(line);
        },
        Qt::QueuedConnection);
  });
}

HRESULT GuiHost::run_plugin_command(uint32_t command) {
  if (!plugin_ || running_) return E_FAIL;
  if (source_.empty()) {
    ui::message_box(nullptr, "Open a stream first (File > Open stream...).", "dsmcc",
                    ui::BOX_OK | ui::BOX_ICON_INFORMATION);
    return E_FAIL;
  }
  std::unique_ptr<host::Host> fresh;
  host::Host* host = live_host_.get();
  if (!host) {
    fresh = std::make_unique<host::Host>();
    if (std::string error = fresh->open(source_); !error.empty()) {
      ui::message_box(nullptr, error, "dsmcc", ui::BOX_OK | ui::BOX_ICON_ERROR);
      return E_FAIL;
    }
    fresh->set_auto_begin(kAutoBegin);
    host = fresh.get();
  }
  // Messages about damaged input come on the host's threads; the log belongs to this one. Every host
  // is stopped before this window goes (after each analysis, or in the destructor for standard
  // input), so `this` outlives the calls; a message still queued when it goes is dropped with it.
  host->set_diagnostic_handler([this](const std::string& message) {
    const QString line = from_utf8(message);
    QMetaObject::invokeMethod(
        this, [this, line] { log(line); }, Qt::QueuedConnection);
  });
  plugin_->SetInterface(IID_OrvexFltMgr, host->filter_manager());
  plugin_->SetInterface(IID_HostDriver, host->driver());

  running_ = true;
  current_host_ = host;
  // A live source is read once, by the analysis itself: the PIDs its PSI scan saw carrying DSM-CC
  // sections are named here as soon as there are any (the analysis window runs modally meanwhile).
  QTimer watch;
  if (host->is_live()) {
    QObject::connect(&watch, &QTimer::timeout, this, [this, host, &watch] {
      const std::vector<uint32_t> pids = host->dsmcc_pids();
      if (pids.empty()) return;
      log(carousel_pids_text(pids));
      watch.stop();
    });
    watch.start(500);
  }
  const HRESULT hr = plugin_->OnCommand(0, command);
  watch.stop();
  current_host_ = nullptr;
  running_ = false;

  if (fresh) fresh->stop();
  const host::Statistics stats = host->statistics();
  char line[256];
  std::snprintf(line, sizeof line, "Command %#x: %s; %llu packets read, %llu sections delivered", command,
                SUCCEEDED(hr) ? "done" : "refused by the plug-in",
                static_cast<unsigned long long>(stats.packets),
                static_cast<unsigned long long>(stats.sections_delivered));
  log(QString::fromUtf8(line));
  return hr;
}

void GuiHost::closeEvent(QCloseEvent* event) {
  // A running analysis is modal; the main window closes only between analyses.
  if (running_)
    event->ignore();
  else
    event->accept();
}

}  // namespace app
