// The module's analysis command: a new analysis window each time, run modally on the calling thread.
// Nothing of a previous window survives it.
#include "capture/dsmcc_dlg.h"
#include "plugin/dsmcc_plugin.h"

namespace {

void run_analysis_dialog(OrvexFltMgr* filter_manager) {
  CDSMCCDlg dialog(filter_manager, nullptr);
  dialog.run_modal();
}

// Installed when the module is loaded, so that the plug-in object itself needs no window code.
[[maybe_unused]] const bool g_installed = (set_analysis_runner(&run_analysis_dialog), true);

}  // namespace
