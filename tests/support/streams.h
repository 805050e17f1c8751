// Access to the shared real streams, which live outside the repository. Tests that need them skip
// with a clear message when the folder is absent, so that a clone elsewhere still passes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The folder of the shared streams: $DSMCC_STREAMS, else the default set at configure time.
std::string streams_dir();
// The full path of a shared stream, or "" when it is absent.
std::string stream_path(const std::string& name);
// The whole file; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);

}  // namespace testsupport

// Skips the running test when the shared stream NAME is absent; otherwise defines PATH_VAR.
#define REQUIRE_STREAM(PATH_VAR, NAME)                                                          \
  const std::string PATH_VAR = ::testsupport::stream_path(NAME);                                \
  if (PATH_VAR.empty()) {                                                                       \
    GTEST_SKIP() << "shared stream " << (NAME) << " not found in " << ::testsupport::streams_dir() \
                 << " (the ../shared/streams folder is absent); skipping";                      \
  }
