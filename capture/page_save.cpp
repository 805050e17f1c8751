#include "capture/page_save.h"

#include <cstdio>

#include "capture/dsmcc_dlg.h"
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "log/debug_log.h"
#include "save/carousel_save.h"
#include "ui/backend.h"

namespace capture {

namespace {

save::SaveReport save(CDSMCCDlg& dialog, SaveKind kind, const save::SaveOptions& options) {
  return kind == SaveKind::object_carousels ? save::save_object_carousels(dialog.model(), options)
                                            : save::save_data_carousels(dialog.model(), options);
}

// The summary of a save into `dir`, logged as it is shown.
std::string logged_summary(const save::SaveReport& report, const std::string& dir) {
  const std::string summary = save::format_save_summary(report);
  logio::g_log.log(report.ok() ? 4 : 1, "save to %s: %s", dir.c_str(), summary.c_str());
  return summary;
}

}  // namespace

std::string save_from_page(CDSMCCDlg& dialog, SaveKind kind) {
  ui::Dialog* page = kind == SaveKind::object_carousels ? static_cast<ui::Dialog*>(dialog.object_page())
                                                        : static_cast<ui::Dialog*>(dialog.data_page());
  const char* title = kind == SaveKind::object_carousels ? "Save the object carousels into"
                                                         : "Save the data carousel modules into";
  save::SaveOptions options;
  options.dir = ui::choose_folder(page ? page : &dialog, title);
  if (options.dir.empty()) return {};
  const int settled = ui::backend().settled_answer();
  options.force = settled == ui::RESULT_YES;

  save::SaveReport report = save(dialog, kind, options);
  if (report.ok() && report.existing_kept > 0 && settled == 0) {
    char question[512];
    std::snprintf(question, sizeof question,
                  "%llu files already existed below %s and were kept. Replace them?",
                  static_cast<unsigned long long>(report.existing_kept), options.dir.c_str());
    if (ui::message_box(&dialog, question, "Save", ui::BOX_YES_NO | ui::BOX_ICON_WARNING) == ui::RESULT_YES) {
      options.force = true;
      report = save(dialog, kind, options);
    }
  }
  const std::string summary = logged_summary(report, options.dir);
  ui::message_box(&dialog, summary, "Save",
                  ui::BOX_OK | (report.ok() ? ui::BOX_ICON_INFORMATION : ui::BOX_ICON_ERROR));
  return options.dir;
}

std::string save_whole_capture(CDSMCCDlg& dialog, const std::string& dir, bool force, bool& ok) {
  save::SaveOptions options;
  options.dir = dir;
  options.force = force;
  const save::SaveReport report = save::save_carousels(dialog.model(), options);
  ok = report.ok();
  return logged_summary(report, options.dir);
}

void wire_save_buttons(CDSMCCDlg& dialog) {
  if (carousel::CObjectCarouselDlg* page = dialog.object_page())
    page->set_save_action([&dialog] { save_from_page(dialog, SaveKind::object_carousels); });
  if (carousel::CDataCarouselDlg* page = dialog.data_page())
    page->set_save_action([&dialog] { save_from_page(dialog, SaveKind::data_carousels); });
}

}  // namespace capture
