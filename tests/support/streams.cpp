#include "tests/support/streams.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace testsupport {

std::string streams_dir() {
  const char* env = std::getenv("DSMCC_STREAMS");
  if (env && *env) return env;
  return DSMCC_STREAMS_DIR_DEFAULT;
}

std::string stream_path(const std::string& name) {
  std::string path = streams_dir() + "/" + name;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  return path;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);  // a file that cannot be opened reads as empty
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
