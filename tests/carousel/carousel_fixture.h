// Shared pieces of the carousel tests: a capture that files built sections through the real intake, a
// log opened on a temporary file and read back, and a node sink that records the tree it is given.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/carousel_store.h"
#include "store/section_intake.h"
#include "carousel/object_carousel.h"
#include "tests/support/store_capture.h"

namespace carousel_test {

// A store with the given (programme, PID) pairs captured, filled by the section intake.
using Capture = testsupport::StoreCapture;

// The process log on a temporary file, level prefix on, threshold 4; closed and removed at the end.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every line written so far, without its line end.
  std::vector<std::string> lines() const;
  // How many lines are exactly "<level> - text".
  size_t count(int level, const std::string& text) const;
  bool has(int level, const std::string& text) const { return count(level, text) > 0; }
  // Lines whose text (behind the level prefix) contains `part`.
  size_t count_containing(const std::string& part) const;
  // Position of the first line "<level> - text" at or after `from`, or npos.
  size_t find(int level, const std::string& text, size_t from = 0) const;

 private:
  std::string path_;
};

// Records what build_tree reports, one line per node: two spaces of indentation per level, then
// "root", "prg N", "oc 0xID", "dir NAME", "fil NAME SIZE" or "fil NAME n/a".
class RecordingSink : public ObjectCarouselSink {
 public:
  Node root_node() override;
  Node programme_node(Node root, uint32_t programme_number) override;
  Node carousel_node(Node programme, uint32_t carouselId) override;
  Node directory_node(Node parent, const std::string& id) override;
  Node file_node(Node parent, const std::string& id, const FileRecord* file) override;

  std::string outline() const;
  size_t node_count() const { return nodes_.size(); }
  // The file records reported, in order (null for files not available).
  std::vector<const FileRecord*> files;
  // One line per directory and file below a carousel, in walk order: "dir /a/b" and "fil SIZE /a/b/f"
  // (or "fil n/a /a/b/f"), paths from the carousel node.
  std::vector<std::string> paths;

 private:
  Node add(Node parent, std::string text);
  struct Entry {
    Node parent;
    std::string text;
    std::vector<Node> children;
    std::string path;
  };
  std::vector<Entry> nodes_;
  std::vector<Node> top_;
};

// Counts what build_tree reports and how deep it goes, keeping nothing else: for trees too large to
// record.
class CountingSink : public ObjectCarouselSink {
 public:
  Node root_node() override { return add(0); }
  Node programme_node(Node root, uint32_t) override { return add(root); }
  Node carousel_node(Node programme, uint32_t) override { return add(programme); }
  Node directory_node(Node parent, const std::string&) override { return add(parent); }
  Node file_node(Node parent, const std::string&, const FileRecord*) override { return add(parent); }

  size_t nodes = 0;
  size_t max_depth = 0;  // the root is at depth 1

 private:
  // A node's handle is its depth, which is all a child needs to know.
  Node add(Node parent) {
    ++nodes;
    if (parent + 1 > max_depth) max_depth = parent + 1;
    return parent + 1;
  }
};

// Runs the four reconstruction steps over a capture (after the merge of the data carousel page).
std::string rebuild_outline(Capture& capture, size_t node_limit = kMaxTreeNodes);

}  // namespace carousel_test
