// A plain runner for a fuzz target's entry point, for builds without libFuzzer (gcc, the sanitizer
// presets): it feeds every file of the given folders to LLVMFuzzerTestOneInput, once each, in name
// order. With --golden MANIFEST it also holds what each input makes the target log (addresses
// masked) against the digest recorded for it, so that a change in any decoder's handling of these
// inputs fails; --write records the digests instead. The first folder is the target's corpus and
// must hold at least one file, so that a wrong path cannot turn the check into one that passes on
// nothing; the others (regressions) may be absent.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "log/debug_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// "crc32 size" of the log lines an input added, with the addresses that some trace lines print
// ("::parse(0x55d0c8a4f2a0,") masked: they change from run to run.
std::string digest_of(std::string text) {
  for (size_t at = text.find("::parse(0x"); at != std::string::npos; at = text.find("::parse(0x", at + 1)) {
    size_t end = at + 10;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
    text.replace(at + 8, end - at - 8, "ADDR");
  }
  char out[32];
  std::snprintf(out, sizeof out, "%08lx %zu",
                crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())),
                text.size());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool golden = argc > 3 && std::string(argv[1]) == "--golden";
  const bool write = golden && std::string(argv[3]) == "--write";
  const int first = golden ? 3 + write : 1;
  if (argc <= first) {
    std::fprintf(stderr, "usage: %s [--golden MANIFEST [--write]] CORPUS_DIR [MORE_DIRS...]\n", argv[0]);
    return 2;
  }
  const std::string log_path =
      (fs::temp_directory_path() / ("replay-" + std::to_string(::getpid()) + ".log")).string();
  if (golden) ::setenv("DSMCC_FUZZ_LOG", log_path.c_str(), 1);
  std::map<std::string, std::string> seen, recorded;
  size_t logged = 0;
  for (int i = first; i < argc; ++i) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(argv[i], ec))
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (i == first && files.empty()) {
      std::fprintf(stderr, "%s: the corpus folder %s holds no input\n", argv[0], argv[i]);
      return 1;
    }
    for (const auto& file : files) {
      // An exact-size heap copy, as libFuzzer gives it, so that a read past the end is caught.
      const std::string bytes = read_all(file);
      std::vector<uint8_t> copy(bytes.begin(), bytes.end());
      LLVMFuzzerTestOneInput(copy.data(), copy.size());
      if (!golden) continue;
      logio::g_log.flush();
      const std::string all = read_all(log_path);
      seen[fs::path(argv[i]).filename().string() + "/" + file.filename().string()] =
          digest_of(all.substr(std::min(logged, all.size())));
      logged = all.size();
    }
    std::printf("%s: %zu inputs from %s replayed without a finding\n", argv[0], files.size(), argv[i]);
  }
  std::remove(log_path.c_str());
  if (!golden) return 0;
  if (write) {
    std::ofstream out(argv[2]);
    for (const auto& [name, digest] : seen) out << name << ' ' << digest << '\n';
    return 0;
  }
  std::istringstream lines(read_all(argv[2]));
  for (std::string name, crc, size; lines >> name >> crc >> size;) recorded[name] = crc + ' ' + size;
  for (const auto& [name, digest] : seen)
    if (recorded[name] != digest)
      std::fprintf(stderr, "%s: %s logs otherwise than recorded\n", argv[0], name.c_str());
  if (recorded == seen) return 0;
  std::fprintf(stderr,
               "%s: the inputs differ from %s; after a deliberate change, record again with --write\n",
               argv[0], argv[2]);
  return 1;
}
