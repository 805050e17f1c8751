// A plain runner for a fuzz target's entry point, for builds without libFuzzer (gcc, the sanitizer
// presets): it feeds every file of the given folders to LLVMFuzzerTestOneInput, once each, in name
// order (a file given instead of a folder is fed alone). The first folder is the target's corpus and must hold at least one file, so that a wrong
// path cannot turn the check into one that passes on nothing; the others (regressions) may be absent.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> files_of(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool run_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exact-size heap copy, as libFuzzer gives it, so that a read past the end is caught.
  auto* copy = new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [MORE_DIRS...]\n", argv[0]);
    return 2;
  }
  size_t total = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path dir(argv[i]);
    const auto files = std::filesystem::is_regular_file(dir) ? std::vector<std::filesystem::path>{dir} : files_of(dir);
    if (i == 1 && files.empty()) {
      std::fprintf(stderr, "%s: the corpus folder %s holds no input\n", argv[0], argv[i]);
      return 1;
    }
    for (const auto& file : files) {
      if (!run_file(file)) return 1;
      ++total;
    }
    std::printf("%s: %zu inputs from %s\n", argv[0], files.size(), argv[i]);
  }
  std::printf("%s: %zu inputs replayed without a finding\n", argv[0], total);
  return 0;
}
