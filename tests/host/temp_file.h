// A private folder under the system's temporary folder for the files a test writes; removed with
// everything in it when the test ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace hosttest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "host-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

  // Writes `bytes` to NAME in the folder and returns its full path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return file;
  }

 private:
  std::string path_;
};

}  // namespace hosttest
