// Loaded by the log tests: reports the module path that the log's code sees from inside a module.
#include <cstring>

#include "log/debug_log.h"

extern "C" __attribute__((visibility("default"))) size_t log_probe_module_path(char* out, size_t size) {
  const std::string path = this_module_path();
  if (size == 0) return path.size();
  const size_t n = path.size() < size - 1 ? path.size() : size - 1;
  std::memcpy(out, path.data(), n);
  out[n] = '\0';
  return path.size();
}
