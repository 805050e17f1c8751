// The trees the three pages show, built away from any window: a flat list of nodes in the order they
// are shown, and the one node limit that caps every page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace carousel {

// Directories that bind each other can make the name walk exponential, and a capture can store a
// million blocks of a dozen section page nodes each: every page stops growing here.
inline constexpr size_t kMaxTreeNodes = 1000000;

// Image indexes of the carousel trees.
inline constexpr int IMAGE_CLOSED_FOLDER = 0;
inline constexpr int IMAGE_OPEN_FOLDER = 1;
inline constexpr int IMAGE_DATA_DRUM = 2;

// Hands out nodes up to a limit. The first node refused writes `limit_line` (a format taking the
// limit as %zu) at level 1, once: the page says that it was cut, not how often.
class TreeBudget {
 public:
  TreeBudget(size_t limit, const char* limit_line) : limit_(limit), limit_line_(limit_line) {}
  bool take();
  bool exhausted() const { return exhausted_; }
  size_t limit() const { return limit_; }

 private:
  size_t limit_;
  const char* limit_line_;
  size_t used_ = 0;
  bool exhausted_ = false;
};

struct PageNode {
  std::string text;
  int image = 0;
  int selected_image = 0;
  size_t parent = 0;  // index of the parent node, or PageTree::kTop
};

// Each node stands behind its parent and its parent's earlier children, so inserting them in order
// into a tree view shows the tree as it was built.
struct PageTree {
  static constexpr size_t kTop = SIZE_MAX;
  std::vector<PageNode> nodes;

  size_t add(size_t parent, std::string text, int image, int selected_image) {
    nodes.push_back({std::move(text), image, selected_image, parent});
    return nodes.size() - 1;
  }
  bool empty() const { return nodes.empty(); }
};

}  // namespace carousel
