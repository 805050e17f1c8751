// The module's fixed resources as data: dialog layouts, the menu, the strings and the icons.
//
// Both window backends build their windows from these layouts, so a control id, a text or a rectangle
// is written down once, here. Geometry is in dialog units throughout.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace resources {

// ---- ids ----------------------------------------------------------------------------------------

// Dialog templates.
constexpr int DIALOG_ANALYSIS = 201;              // "DSMCC"
constexpr int DIALOG_SECTION_PAGE = 202;          // "Section" tab page
constexpr int DIALOG_OBJECT_CAROUSEL_PAGE = 203;  // "Object Carousel" tab page
constexpr int DIALOG_DATA_CAROUSEL_PAGE = 204;    // "Data Carousel" tab page
constexpr int DIALOG_SCANNING = 211;              // "DSMCC Scanning", the capture progress window
constexpr int DIALOG_PSI_SCAN = 213;              // "Scanning MUX PSI/SI"

// The plug-in's menu and its one command.
constexpr int MENU_PLUGIN = 201;
constexpr uint32_t COMMAND_ANALYZE = 0x8000;

// Strings.
constexpr int STRING_INIT_DRIVER_NULL = 101;
constexpr int STRING_NO_ATSC = 102;
constexpr int STRING_FILTER_MANAGER_NULL = 105;

// Icons.
constexpr int ICON_OPEN_FOLDER = 205;
constexpr int ICON_CLOSED_FOLDER = 206;
constexpr int ICON_DATA_DRUM = 208;

// Control ids shared by every dialog (the dialog framework's OK and Cancel), and the id of a label.
constexpr int ID_OK = 1;
constexpr int ID_CANCEL = 2;
constexpr int ID_STATIC = -1;

// Controls of the analysis window (201).
constexpr int ANALYSIS_PID_EDIT = 201;
constexpr int ANALYSIS_START = 202;
constexpr int ANALYSIS_TABS = 203;
constexpr int ANALYSIS_MUX_LIST = 211;
constexpr int ANALYSIS_RESCAN = 212;
constexpr int ANALYSIS_CAPTURE_LIST = 213;
constexpr int ANALYSIS_ADD = 214;
constexpr int ANALYSIS_REMOVE = 215;
constexpr int ANALYSIS_PRG_EDIT = 216;
constexpr int ANALYSIS_MUX_ADD = 217;

// Controls of the three tab pages (202, 203, 204): one tree each, and "Save..." on the carousel pages.
constexpr int PAGE_TREE = 1001;
constexpr int PAGE_SAVE = 1002;

// Controls of the progress window (211).
constexpr int SCANNING_DSI_COUNT = 208;
constexpr int SCANNING_DII_COUNT = 209;
constexpr int SCANNING_DDB_COUNT = 210;

// The PSI scan window (213): its progress bar is created at initialisation, and its timer.
constexpr int PSI_SCAN_PROGRESS = 103;
constexpr int PSI_SCAN_TIMER = 104;

// ---- dialog layouts -----------------------------------------------------------------------------

enum class ControlKind {
  static_text,
  button,
  default_button,  // the button that Enter presses
  edit,
  list_box,
  tree_view,
  tab_control,
  progress_bar,
};

// Style bits; each kind reads only its own.
enum : uint32_t {
  LIST_SORTED = 0x0001,         // list box: add_string keeps the entries in order
  LIST_MULTIPLE_SEL = 0x0002,   // list box: every click toggles one entry
  LIST_EXTENDED_SEL = 0x0004,   // list box: ranges with the keyboard and the mouse
  TREE_HAS_LINES = 0x0100,      // tree: lines between the nodes
  TREE_HAS_BUTTONS = 0x0200,    // tree: expand buttons
  TREE_LINES_AT_ROOT = 0x0400,  // tree: lines and buttons also at the top level
  PROGRESS_MARQUEE = 0x1000,    // progress bar: continuous animation instead of a position
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct ControlTemplate {
  ControlKind kind;
  int id;                 // ID_STATIC for labels
  std::string_view text;  // empty for controls without a text
  Rect rect;
  uint32_t style = 0;
};

struct DialogTemplate {
  int id;
  std::string_view caption;  // empty for the pages, which have none
  int width;
  int height;
  std::vector<ControlTemplate> controls;  // in creation (tab) order

  // The control with this id, or null.
  const ControlTemplate* find(int control_id) const;
};

// The layout with this id, or null.
const DialogTemplate* find_dialog(int id);
// Every layout of the module, in ascending id.
const std::vector<DialogTemplate>& all_dialogs();

// ---- menu and strings ---------------------------------------------------------------------------

struct MenuItem {
  uint32_t command;
  std::string_view text;
};

struct Menu {
  int id;
  std::vector<MenuItem> items;
};

// The menu with this id, or null.
const Menu* find_menu(int id);
// The string with this id, or null.
const char* load_string(int id);

// ---- icons --------------------------------------------------------------------------------------

constexpr int ICON_SIZE = 16;

// A 16 x 16 icon: colour pixels as RGBA (row by row from the top left, 4 bytes a pixel) and a mask
// with one byte a pixel, 1 where the pixel is transparent. A transparent pixel also has alpha 0.
struct Icon {
  int id = 0;
  std::array<uint8_t, ICON_SIZE * ICON_SIZE * 4> rgba{};
  std::array<uint8_t, ICON_SIZE * ICON_SIZE> mask{};

  bool transparent(int x, int y) const { return mask[static_cast<size_t>(y * ICON_SIZE + x)] != 0; }
};

// The icon with this id, or null.
const Icon* find_icon(int id);

}  // namespace resources
