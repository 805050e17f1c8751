#include "ui/headless/tree_render.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace ui::headless {

namespace {

void append_hex_escape(std::string& out, const char* prefix, unsigned char byte) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%s%02x", prefix, static_cast<unsigned>(byte));
  out += buf;
}

void append_text_line(std::string& out, const TreeNode& node, size_t level) {
  out.append(level * 2, ' ');
  // The indentation says the depth: spaces at the start of a text would move it, so they are escaped
  // like unprintable bytes. Spaces at the end stay: many field texts of the pages end in one, and
  // they move nothing.
  const std::string& text = node.text();
  const size_t first = text.find_first_not_of(' ');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool edge_space = byte == ' ' && (first == std::string::npos || i < first);
    if (byte < 0x20 || byte == 0x7F || edge_space)
      append_hex_escape(out, "\\x", byte);
    else
      out += text[i];
  }
  out += '\n';
}

// Length of the valid UTF-8 sequence at the start of s, or 0 when its first byte starts none.
size_t utf8_sequence_length(std::string_view s) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  auto continuation = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return i < s.size() && at(i) >= low && at(i) <= high;
  };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    // No overlong forms (E0 needs A0..BF), no surrogates (ED needs 80..9F).
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return continuation(1, low, high) && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    // No overlong forms (F0 needs 90..BF), nothing above U+10FFFF (F4 needs 80..8F).
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

void append_json_node_open(std::string& out, const TreeNode& node) {
  out += "{\"text\":";
  out += json_string(node.text());
  out += ",\"image\":";
  out += std::to_string(node.image());
  out += ",\"selected_image\":";
  out += std::to_string(node.selected_image());
  out += ",\"expanded\":";
  out += node.expanded() ? "true" : "false";
  out += ",\"children\":[";
}

// Writes the nodes and their subtrees as JSON objects separated by commas, without recursion so that
// a deep tree cannot exhaust the stack.
void append_json_nodes(std::string& out, const std::vector<std::unique_ptr<TreeNode>>& nodes) {
  struct Frame {
    const std::vector<std::unique_ptr<TreeNode>>* siblings;
    size_t next;
  };
  std::vector<Frame> stack{{&nodes, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.siblings->size()) {
      stack.pop_back();
      if (!stack.empty()) out += "]}";
      continue;
    }
    if (top.next > 0) out += ',';
    const TreeNode& node = *(*top.siblings)[top.next++];
    append_json_node_open(out, node);
    stack.push_back({&node.children(), 0});
  }
}

void append_text_nodes(std::string& out, const TreeNode* first, size_t level,
                       const std::vector<std::unique_ptr<TreeNode>>* roots) {
  // (node, level) in the order they are written; children pushed in reverse so the first comes first.
  std::vector<std::pair<const TreeNode*, size_t>> stack;
  if (first) stack.emplace_back(first, level);
  if (roots)
    for (auto it = roots->rbegin(); it != roots->rend(); ++it) stack.emplace_back(it->get(), level);
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    append_text_line(out, *node, depth);
    const auto& children = node->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(it->get(), depth + 1);
  }
}

}  // namespace

std::string render_text(const TreeView& tree) {
  std::string out;
  append_text_nodes(out, nullptr, 0, &tree.top_level());
  return out;
}

std::string render_text(const TreeNode& node, int level) {
  std::string out;
  append_text_nodes(out, &node, static_cast<size_t>(level < 0 ? 0 : level), nullptr);
  return out;
}

std::string render_json(const TreeView& tree) {
  std::string out = "[";
  append_json_nodes(out, tree.top_level());
  out += ']';
  return out;
}

std::string render_json(const TreeNode& node) {
  std::string out;
  append_json_node_open(out, node);
  append_json_nodes(out, node.children());
  out += "]}";
  return out;
}

std::string json_string(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  size_t i = 0;
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    switch (byte) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F) {
      append_hex_escape(out, "\\u00", byte);
      ++i;
      continue;
    }
    const size_t n = utf8_sequence_length(bytes.substr(i));
    if (n == 0) {
      append_hex_escape(out, "\\u00", byte);
      ++i;
      continue;
    }
    out.append(bytes.substr(i, n));
    i += n;
  }
  out += '"';
  return out;
}

}  // namespace ui::headless
