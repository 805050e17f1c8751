// Trees as text and as JSON, for the command-line program, the tests and saved listings.
#pragma once

#include <string>
#include <string_view>

#include "ui/controls.h"

namespace ui::headless {

// One node per line, "\n" after each, two spaces of indentation per level, top-level nodes at column 0,
// children in order. Every node is written, expanded or not. Control bytes (0x00-0x1F, 0x7F) of a text
// are written as "\xHH" so that a node never spans two lines, and so are the spaces at the start of a
// text, so that the indentation always says the depth; every other byte is kept as it is.
std::string render_text(const TreeView& tree);
std::string render_text(const TreeNode& node, int level = 0);

// A JSON array of the top-level nodes, each {"text": ..., "image": n, "selected_image": n,
// "expanded": bool, "children": [...]}. Compact, no whitespace between tokens.
std::string render_json(const TreeView& tree);
std::string render_json(const TreeNode& node);

// A JSON string literal (with its quotes) of arbitrary bytes: valid UTF-8 is kept, '"' and '\\' and the
// control characters are escaped (\b \f \n \r \t, else \u00XX, DEL as \u007f), and each byte that is
// not part of a valid UTF-8 sequence (overlong forms, surrogates and values above U+10FFFF included)
// becomes \u00XX of the byte.
std::string json_string(std::string_view bytes);

}  // namespace ui::headless
