#include "tests/carousel/carousel_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <span>

#include "log/debug_log.h"

namespace carousel_test {

LogCapture::LogCapture() {
  char name[] = "/tmp/carousel_test_log_XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  path_ = name;
  g_log.close();
  EXPECT_EQ(g_log.init(path_.c_str(), CDebugLog::OPT_FILE, CDebugLog::PFX_LEVEL, 4), 0);
}

LogCapture::~LogCapture() {
  g_log.close();
  std::remove(path_.c_str());
}

std::vector<std::string> LogCapture::lines() const {
  g_log.flush();
  std::vector<std::string> out;
  std::ifstream in(path_);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

size_t LogCapture::count(int level, const std::string& text) const {
  const std::string want = "<" + std::to_string(level) + "> - " + text;
  size_t n = 0;
  for (const auto& line : lines()) n += line == want;
  return n;
}

size_t LogCapture::count_containing(const std::string& part) const {
  size_t n = 0;
  for (const auto& line : lines()) n += line.find(part) != std::string::npos;
  return n;
}

size_t LogCapture::find(int level, const std::string& text, size_t from) const {
  const std::string want = "<" + std::to_string(level) + "> - " + text;
  auto all = lines();
  for (size_t i = from; i < all.size(); ++i) {
    if (all[i] == want) return i;
  }
  return std::string::npos;
}

RecordingSink::Node RecordingSink::add(Node parent, std::string text) {
  Node id = nodes_.size() + 1;  // 0 stands for "no parent"
  nodes_.push_back(Entry{parent, std::move(text), {}, {}});
  if (parent == 0) {
    top_.push_back(id);
  } else {
    nodes_.at(parent - 1).children.push_back(id);
  }
  return id;
}

RecordingSink::Node RecordingSink::root_node() {
  return add(0, "root");
}

RecordingSink::Node RecordingSink::programme_node(Node root, uint32_t programme_number) {
  return add(root, "prg " + std::to_string(programme_number));
}

RecordingSink::Node RecordingSink::carousel_node(Node programme, uint32_t carouselId) {
  char text[32];
  std::snprintf(text, sizeof text, "oc %#x", carouselId);
  return add(programme, text);
}

RecordingSink::Node RecordingSink::directory_node(Node parent, const std::string& id) {
  Node node = add(parent, "dir " + id);
  nodes_.at(node - 1).path = nodes_.at(parent - 1).path + "/" + id;
  paths.push_back("dir " + nodes_.at(node - 1).path);
  return node;
}

RecordingSink::Node RecordingSink::file_node(Node parent, const std::string& id, const FileRecord* file) {
  files.push_back(file);
  std::string size = file ? std::to_string(file->content_length) : "n/a";
  paths.push_back("fil " + size + " " + nodes_.at(parent - 1).path + "/" + id);
  return add(parent, "fil " + id + " " + size);
}

std::string RecordingSink::outline() const {
  std::string out;
  std::vector<std::pair<Node, int>> stack;
  for (auto it = top_.rbegin(); it != top_.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty()) {
    auto [id, depth] = stack.back();
    stack.pop_back();
    const Entry& e = nodes_.at(id - 1);
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + e.text + "\n";
    for (auto it = e.children.rbegin(); it != e.children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return out;
}

std::string rebuild_outline(Capture& capture, size_t node_limit) {
  merge_programme_index(capture.store);
  RecordingSink sink;
  rebuild_object_carousels(capture.store, sink, node_limit);
  return sink.outline();
}

}  // namespace carousel_test
