// Every page, log line (time prefixes masked), exit status and saved file of every shared stream, held
// against the digests recorded in tests/app/expected/shared-streams.txt: a change anywhere in what a
// user sees fails here, with the outputs that differ named. After a deliberate change,
// `scripts/snapshot.sh DIR` shows what changed, and `DSMCC_GOLDEN_WRITE=1 build/bin/app_tests
// --gtest_filter=Golden.*` records the new digests.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/app/subprocess.h"
#include "tests/support/streams.h"

namespace fs = std::filesystem;

TEST(Golden, EveryOutputOfEverySharedStreamIsAsRecorded) {
  const std::string streams = testsupport::streams_dir();
  if (!fs::is_directory(streams))
    GTEST_SKIP() << "the shared streams folder " << streams << " is absent; skipping";
  const std::string manifest = std::string(DSMCC_SOURCE_DIR) + "/tests/app/expected/shared-streams.txt";
  const fs::path out = fs::temp_directory_path() / ("dsmcc-golden-" + std::to_string(::getpid()));
  const std::string command = "STREAMS='" + streams + "' '" + DSMCC_SOURCE_DIR + "/scripts/snapshot.sh' '" +
                              out.string() + "' '" + DSMCC_PROGRAM + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::map<std::string, std::string> seen;  // "crc32 size" of each file by its path below `out`
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = testapp::slurp(entry.path().string());
    char text[32];
    std::snprintf(text, sizeof text, "%08lx %zu",
                  crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())),
                  bytes.size());
    seen[fs::relative(entry.path(), out).string()] = text;
  }
  fs::remove_all(out);
  ASSERT_GT(seen.size(), 100u) << "the snapshot recorded too little";
  if (std::getenv("DSMCC_GOLDEN_WRITE")) {
    std::ofstream written(manifest);
    for (const auto& [name, digest] : seen) written << name << ' ' << digest << '\n';
    GTEST_SKIP() << "recorded " << seen.size() << " digests in " << manifest;
  }
  std::map<std::string, std::string> recorded;
  std::istringstream lines(testapp::slurp(manifest));
  for (std::string name, crc, size; lines >> name >> crc >> size;) recorded[name] = crc + ' ' + size;
  std::string differ;
  for (const auto& [name, digest] : recorded)
    if (seen[name] != digest) differ += "\n  " + name + (seen[name].empty() ? " (missing)" : "");
  for (const auto& [name, digest] : seen)
    if (!recorded.contains(name)) differ += "\n  " + name + " (new)";
  EXPECT_EQ(differ, "") << "outputs that differ from the recording:";
}
