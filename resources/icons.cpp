// The three tree icons, drawn for this project as character grids: one character a pixel, turned into
// RGBA pixels and a transparency mask through a small palette.
#include <array>

#include "resources/resources.h"

namespace resources {

namespace {

using Grid = std::array<const char*, ICON_SIZE>;

struct PaletteEntry {
  char key;
  uint8_t r, g, b;
};

// '.' is transparent; every other character of a grid must stand here.
constexpr PaletteEntry PALETTE[] = {
    {'K', 0x3a, 0x3a, 0x3a},  // outline
    {'L', 0xff, 0xe9, 0x96},  // folder highlight
    {'Y', 0xf2, 0xc9, 0x4c},  // folder body
    {'y', 0xc4, 0x96, 0x2a},  // folder shade
    {'b', 0x9c, 0xc2, 0xf2},  // drum top
    {'B', 0x3f, 0x72, 0xc4},  // drum side
    {'W', 0xff, 0xff, 0xff},  // drum shine
};

// clang-format off
constexpr Grid CLOSED_FOLDER = {
    "................",
    "................",
    ".KKKKK..........",
    "KLLLLLK.........",
    "KLYYYYYKKKKKKKK.",
    "KLLLLLLLLLLLLLYK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KLYYYYYYYYYYYYyK",
    "KyyyyyyyyyyyyyyK",
    ".KKKKKKKKKKKKKK.",
    "................",
};

// The front flap leans forward, showing the inside of the back.
constexpr Grid OPEN_FOLDER = {
    "................",
    "................",
    ".KKKKK..........",
    "KLLLLLK.........",
    "KLYYYYYKKKKKKK..",
    "KLYYYYYYYYYYYyK.",
    "KLYYKKKKKKKKKKKK",
    "KLYKLLLLLLLLLLLK",
    "KLKLYYYYYYYYYYK.",
    "KLKLYYYYYYYYYYK.",
    "KKLYYYYYYYYYYK..",
    "KKLYYYYYYYYYYK..",
    "KLYYYYYYYYYYK...",
    "KyyyyyyyyyyyK...",
    "KKKKKKKKKKKKK...",
    "................",
};

// Three disks stacked into one cylinder.
constexpr Grid DATA_DRUM = {
    "................",
    "....KKKKKKKK....",
    "..KKbbbbbbbbKK..",
    ".KbbWWbbbbbbbbK.",
    ".KKbbbbbbbbbbKK.",
    ".KBKKKKKKKKKKBK.",
    ".KWBBBBBBBBBBBK.",
    ".KKBBBBBBBBBBKK.",
    ".KBKKKKKKKKKKBK.",
    ".KWBBBBBBBBBBBK.",
    ".KKBBBBBBBBBBKK.",
    ".KBKKKKKKKKKKBK.",
    ".KWBBBBBBBBBBBK.",
    "..KKBBBBBBBBKK..",
    "....KKKKKKKK....",
    "................",
};

// clang-format on

constexpr bool grid_is_square(const Grid& grid) {
  for (const char* row : grid) {
    int n = 0;
    while (row[n] != '\0') ++n;
    if (n != ICON_SIZE) return false;
  }
  return true;
}

constexpr bool grid_uses_palette(const Grid& grid) {
  for (const char* row : grid) {
    for (int x = 0; row[x] != '\0'; ++x) {
      bool known = row[x] == '.';
      for (const auto& entry : PALETTE) known = known || entry.key == row[x];
      if (!known) return false;
    }
  }
  return true;
}

static_assert(grid_is_square(CLOSED_FOLDER) && grid_is_square(OPEN_FOLDER) && grid_is_square(DATA_DRUM));
static_assert(grid_uses_palette(CLOSED_FOLDER) && grid_uses_palette(OPEN_FOLDER) &&
              grid_uses_palette(DATA_DRUM));

Icon make_icon(int id, const Grid& grid) {
  Icon icon;
  icon.id = id;
  for (int y = 0; y < ICON_SIZE; ++y) {
    for (int x = 0; x < ICON_SIZE; ++x) {
      const char key = grid[static_cast<size_t>(y)][x];
      const auto pixel = static_cast<size_t>(y * ICON_SIZE + x);
      if (key == '.') {
        icon.mask[pixel] = 1;
        continue;  // colour and alpha stay 0
      }
      for (const auto& entry : PALETTE) {
        if (entry.key != key) continue;
        icon.rgba[pixel * 4 + 0] = entry.r;
        icon.rgba[pixel * 4 + 1] = entry.g;
        icon.rgba[pixel * 4 + 2] = entry.b;
        icon.rgba[pixel * 4 + 3] = 0xff;
      }
    }
  }
  return icon;
}

}  // namespace

const Icon* find_icon(int id) {
  static const std::array<Icon, 3> icons = {
      make_icon(ICON_OPEN_FOLDER, OPEN_FOLDER),
      make_icon(ICON_CLOSED_FOLDER, CLOSED_FOLDER),
      make_icon(ICON_DATA_DRUM, DATA_DRUM),
  };
  for (const auto& icon : icons)
    if (icon.id == id) return &icon;
  return nullptr;
}

}  // namespace resources
