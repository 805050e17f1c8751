#include "tests/save/save_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <system_error>

#include "carousel/object_carousel.h"

namespace fs = std::filesystem;

namespace save_test {

void Capture::rebuild() {
  merge_programme_index(store);
  save_modules_to_memory(store);
  uncompress_mem_modules(store);
  parse_OC_modules(store);
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "dsmcc-save-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).string();
    fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      out[relative] = "<link>";
    } else if (fs::is_directory(status)) {
      out[relative] = "<dir>";
    } else if (fs::is_regular_file(status)) {
      out[relative] = read_text(entry.path().string());
    } else {
      out[relative] = "<other>";
    }
  }
  return out;
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string as_text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace save_test
