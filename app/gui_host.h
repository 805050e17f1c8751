// The host's main window for `dsmcc gui`: a menu bar with File (Open stream..., Quit) and the
// plug-in's own menu as GetMenu hands it over, and a log of what the host did. The plug-in is the
// module the headless program loads (the registered one, else dsmcc.so beside the program), started
// as a host starts it. Each pick of a plug-in menu entry gives the plug-in a fresh host on the open
// stream (a file is then read again from its start) and sends OnCommand with the entry's command; for
// 0x8000 that runs the analysis window modally.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>
#include <string>

#include "app/cli.h"
#include "host/plugin_loader.h"
#include "contract/host_contract.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace host {
class Host;
}

namespace app {

class GuiHost : public QMainWindow {
 public:
  // Loads and starts the plug-in; without one the window offers File only (see plugin_error()).
  explicit GuiHost(const LogOptions& log_options = {});
  ~GuiHost() override;
  GuiHost(const GuiHost&) = delete;
  GuiHost& operator=(const GuiHost&) = delete;

  // Makes SOURCE (a file, "-" or a UDP address) the stream of the analyses that follow. Returns "" or
  // a one-line message; the previous stream stays on failure.
  std::string open_source(const std::string& source);
  const std::string& source() const { return source_; }

  // Sends the plug-in one of its menu commands, as picking the menu entry does; returns its result.
  // Without an open stream it says so in a message box and returns E_FAIL without calling the plug-in.
  HRESULT run_plugin_command(uint32_t command);

  // Why no plug-in could be loaded, or "".
  const std::string& plugin_error() const { return plugin_error_; }

  QMenu* file_menu() const { return file_menu_; }
  QMenu* plugin_menu() const { return plugin_menu_; }
  // The entry of the plug-in's menu for this command, or null.
  QAction* plugin_action(uint32_t command) const;
  // The host of the analysis that runs now, or null.
  host::Host* current_host() const { return current_host_; }
  // What the log panel shows.
  QString log_text() const;
  void log(const QString& line);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_menus();
  void ask_for_source();
  void search_for_carousel_pids();
  static QString carousel_pids_text(const std::vector<uint32_t>& pids);

  std::unique_ptr<host::LoadedPlugin> loaded_;
  IHostPlugin* plugin_ = nullptr;
  std::string plugin_error_;
  std::string source_;
  std::unique_ptr<host::Host> live_host_;  // standard input can be read once: one host for the session
  // The search of an opened file for the PIDs that carry DSM-CC sections, whose answer goes to the log
  // (a capture of the carousel PID alone lists nothing in the analysis window's MUX list).
  std::thread pid_search_;
  std::shared_ptr<std::atomic<bool>> search_wanted_;
  host::Host* current_host_ = nullptr;
  QMenu* file_menu_ = nullptr;
  QMenu* plugin_menu_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  bool running_ = false;
};

}  // namespace app
