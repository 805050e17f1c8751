// Saving the object carousel of a real broadcast: the files that an independent reader lists for it,
// with the same sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "save/carousel_save.h"
#include "tests/save/save_fixture.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr uint16_t kCarouselPid = 0x138E;

// The "fil SIZE /path" lines of an expected listing, by path without the leading '/'.
std::map<std::string, uintmax_t> listed_files(const std::string& listing) {
  std::map<std::string, uintmax_t> files;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    char kind[8] = {};
    unsigned long long size = 0;
    char path[512] = {};
    if (std::sscanf(line.c_str(), " %7s %llu %511s", kind, &size, path) == 3 && std::string(kind) == "fil" &&
        path[0] == '/') {
      files[path + 1] = size;
    }
  }
  return files;
}

TEST(SaveRealStream, HbbtvCarouselFilesWithTheirSizes) {
  REQUIRE_STREAM(stream, "hbbtv-sevent.ts");
  REQUIRE_STREAM(listing, "expected/hbbtv-sevent.pid0x138e.files.txt");
  const auto expected = listed_files(save_test::read_text(listing));
  ASSERT_EQ(expected.size(), 4u);

  const auto bytes = testsupport::read_file(stream);
  ASSERT_FALSE(bytes.empty());
  save_test::Capture capture({{1, kCarouselPid}});
  capture.feed_all(kCarouselPid, testsupport::extract_sections(bytes, 188, kCarouselPid));
  capture.rebuild();

  save_test::ScratchDir sandbox;
  const std::string out = sandbox / "out";
  SaveOptions options;
  options.dir = out;
  SaveReport report = save_carousels(capture.store, options);
  ASSERT_TRUE(report.ok()) << report.errors.front();

  const auto carousels = save_test::entries(out + "/object/prg-0x0001");
  ASSERT_EQ(carousels.size(), 1u);
  const std::string carousel = out + "/object/prg-0x0001/" + carousels.front();

  std::map<std::string, uintmax_t> written;
  for (const auto& entry : fs::recursive_directory_iterator(carousel)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), carousel).string();
    if (relative != "missing.txt") written[relative] = entry.file_size();
  }
  EXPECT_EQ(written, expected);
  EXPECT_EQ(save_test::read_text(carousel + "/missing.txt"), "");
  EXPECT_EQ(save_test::read_text(carousel + "/logo.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(report.files_written, 4u);
  EXPECT_EQ(report.objects_not_available, 0u);
  uintmax_t module_bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out + "/data")) {
    if (entry.is_regular_file() && entry.path().extension() == ".bin") module_bytes += entry.file_size();
  }
  EXPECT_EQ(report.bytes_written, 369u + 957 + 3039 + 5170 + module_bytes);
  EXPECT_GE(report.modules_written, 1u);
}

}  // namespace
