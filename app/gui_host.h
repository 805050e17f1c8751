// The host's main window for `dsmcc gui`: a menu bar with File (Open stream..., Quit) and the
// plug-in's own menu as GetMenu hands it over, a log of what the host did, and the plug-in object
// loaded as the headless program loads it. Each pick of a plug-in menu entry gives the plug-in a fresh
// host on the open stream (a file is then read again from its start) and sends OnCommand with the
// entry's command; for 0x8000 that runs the analysis window modally.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>

#include "plugin/host_contract.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace host {
class Host;
}

namespace app {

class GuiHost : public QMainWindow {
 public:
  GuiHost();
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

  IHostPlugin* plugin_ = nullptr;
  std::string source_;
  std::unique_ptr<host::Host> live_host_;  // standard input can be read once: one host for the session
  host::Host* current_host_ = nullptr;
  QMenu* file_menu_ = nullptr;
  QMenu* plugin_menu_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  bool running_ = false;
};

}  // namespace app
