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

namespace {

const std::string kManifest = std::string(DSMCC_SOURCE_DIR) + "/tests/app/expected/shared-streams.txt";

// "crc32 size" of each file below `root`, by its path below `root`.
std::map<std::string, std::string> digests(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = testapp::slurp(entry.path().string());
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    char text[32];
    std::snprintf(text, sizeof text, "%08lx %zu", static_cast<unsigned long>(crc), bytes.size());
    out[fs::relative(entry.path(), root).string()] = text;
  }
  return out;
}

}  // namespace

TEST(Golden, EveryOutputOfEverySharedStreamIsAsRecorded) {
  const std::string streams = testsupport::streams_dir();
  if (!fs::is_directory(streams)) GTEST_SKIP() << "the shared streams folder " << streams << " is absent; skipping";
  const fs::path out = fs::temp_directory_path() / ("dsmcc-golden-" + std::to_string(::getpid()));
  const std::string command = "STREAMS='" + streams + "' '" + DSMCC_SOURCE_DIR + "/scripts/snapshot.sh' '" +
                              out.string() + "' '" + DSMCC_PROGRAM + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto seen = digests(out);
  fs::remove_all(out);
  ASSERT_GT(seen.size(), 100u) << "the snapshot recorded too little";

  if (std::getenv("DSMCC_GOLDEN_WRITE")) {
    std::ofstream manifest(kManifest);
    for (const auto& [name, digest] : seen) manifest << name << ' ' << digest << '\n';
    GTEST_SKIP() << "recorded " << seen.size() << " digests in " << kManifest;
  }
  std::map<std::string, std::string> recorded;
  std::istringstream lines(testapp::slurp(kManifest));
  for (std::string name, crc, size; lines >> name >> crc >> size;) recorded[name] = crc + ' ' + size;
  ASSERT_FALSE(recorded.empty()) << "no digests in " << kManifest;

  std::string differ;
  size_t count = 0;
  for (const auto& [name, digest] : recorded) {
    const auto it = seen.find(name);
    if (it == seen.end() || it->second != digest) ++count, differ += "\n  " + name + (it == seen.end() ? " (missing)" : "");
  }
  for (const auto& [name, digest] : seen)
    if (!recorded.contains(name)) ++count, differ += "\n  " + name + " (new)";
  EXPECT_EQ(count, 0u) << "outputs that differ from the recording:" << differ;
}
