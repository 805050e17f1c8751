// The dialog layouts, the menu and the strings of the module.
#include <algorithm>

#include "resources/resources.h"

namespace resources {

namespace {

using K = ControlKind;

// Labels carry no size in the window descriptions; these fit their texts in the default dialog font.
constexpr int LABEL_HEIGHT = 8;

std::vector<DialogTemplate> make_dialogs() {
  std::vector<DialogTemplate> all;

  all.push_back(
      {DIALOG_ANALYSIS,
       "DSMCC",
       390,
       334,
       {
           {K::button, ANALYSIS_START, "Start", {7, 7, 50, 14}},
           {K::list_box, ANALYSIS_CAPTURE_LIST, "", {7, 24, 111, 43}, LIST_SORTED | LIST_MULTIPLE_SEL},
           {K::static_text, ID_STATIC, "PID", {123, 9, 20, LABEL_HEIGHT}},
           {K::edit, ANALYSIS_PID_EDIT, "", {148, 7, 40, 12}},
           {K::static_text, ID_STATIC, "Prg No", {122, 23, 24, LABEL_HEIGHT}},
           {K::edit, ANALYSIS_PRG_EDIT, "", {148, 21, 40, 12}},
           {K::button, ANALYSIS_ADD, "Add", {149, 36, 50, 14}},
           {K::button, ANALYSIS_REMOVE, "Remove", {149, 51, 50, 14}},
           {K::static_text, ID_STATIC, "MUX DSMCC streams", {236, 7, 80, LABEL_HEIGHT}},
           {K::list_box, ANALYSIS_MUX_LIST, "", {227, 22, 111, 43}, LIST_EXTENDED_SEL},
           {K::button, ANALYSIS_RESCAN, "Rescan...", {341, 22, 41, 14}},
           {K::button, ANALYSIS_MUX_ADD, "Add", {341, 40, 41, 14}},
           {K::tab_control, ANALYSIS_TABS, "", {7, 74, 376, 230}},
           {K::default_button, ID_OK, "OK", {7, 313, 50, 14}},
       }});

  // The section page: the tree fills the page.
  all.push_back({DIALOG_SECTION_PAGE,
                 "",
                 370,
                 201,
                 {
                     {K::tree_view,
                      PAGE_TREE,
                      "",
                      {0, 0, 370, 201},
                      TREE_HAS_LINES | TREE_HAS_BUTTONS | TREE_LINES_AT_ROOT},
                 }});

  // The carousel pages add the lines and buttons styles to their trees when they are initialised.
  all.push_back({DIALOG_OBJECT_CAROUSEL_PAGE,
                 "",
                 370,
                 201,
                 {
                     {K::button, PAGE_SAVE, "Save...", {313, 7, 50, 14}},
                     {K::tree_view, PAGE_TREE, "", {7, 34, 356, 160}},
                 }});

  all.push_back({DIALOG_DATA_CAROUSEL_PAGE,
                 "",
                 370,
                 201,
                 {
                     {K::button, PAGE_SAVE, "Save...", {313, 7, 50, 14}},
                     {K::tree_view, PAGE_TREE, "", {7, 34, 356, 157}},
                 }});

  // Every way of closing the progress window must stop its worker first, so Enter presses Cancel
  // rather than reaching a plain OK.
  all.push_back({DIALOG_SCANNING,
                 "DSMCC Scanning",
                 186,
                 81,
                 {
                     {K::static_text, ID_STATIC, "DownloadServerInitiate:", {7, 15, 82, LABEL_HEIGHT}},
                     {K::static_text, SCANNING_DSI_COUNT, "0", {91, 15, 33, 8}},
                     {K::static_text, ID_STATIC, "DownloadIndicationInfo:", {7, 29, 82, LABEL_HEIGHT}},
                     {K::static_text, SCANNING_DII_COUNT, "0", {91, 29, 33, 8}},
                     {K::static_text, ID_STATIC, "DownloadDataBlock:", {7, 43, 82, LABEL_HEIGHT}},
                     {K::static_text, SCANNING_DDB_COUNT, "0", {91, 43, 33, 8}},
                     {K::default_button, ID_CANCEL, "Cancel", {72, 60, 50, 14}},
                 }});

  // The progress bar (PSI_SCAN_PROGRESS) is placed by the window at initialisation.
  all.push_back({DIALOG_PSI_SCAN,
                 "Scanning MUX PSI/SI",
                 186,
                 49,
                 {
                     {K::default_button, ID_CANCEL, "Cancel", {67, 28, 50, 14}},
                 }});

  std::sort(all.begin(), all.end(),
            [](const DialogTemplate& a, const DialogTemplate& b) { return a.id < b.id; });
  return all;
}

}  // namespace

const ControlTemplate* DialogTemplate::find(int control_id) const {
  for (const auto& c : controls)
    if (c.id == control_id) return &c;
  return nullptr;
}

const std::vector<DialogTemplate>& all_dialogs() {
  static const std::vector<DialogTemplate> dialogs = make_dialogs();
  return dialogs;
}

const DialogTemplate* find_dialog(int id) {
  for (const auto& d : all_dialogs())
    if (d.id == id) return &d;
  return nullptr;
}

const Menu* find_menu(int id) {
  static const Menu plugin_menu{MENU_PLUGIN, {{COMMAND_ANALYZE, "DSMCC Analyzing..."}}};
  return id == plugin_menu.id ? &plugin_menu : nullptr;
}

const char* load_string(int id) {
  switch (id) {
    case STRING_INIT_DRIVER_NULL:
      return "InitDriver is NULL";
    case STRING_NO_ATSC:
      return "This plug-in does not yet support ATSC";
    case STRING_FILTER_MANAGER_NULL:
      return "OrvexFltMgr is NULL";
    default:
      return nullptr;
  }
}

}  // namespace resources
