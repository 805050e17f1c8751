// Reconstruction of the real carousels of the shared streams, checked against independent listings.
#include "tests/support/streams.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "carousel/module_assembly.h"
#include "carousel/object_carousel.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/ts_builder.h"

namespace {

using carousel_test::Capture;
using carousel_test::LogCapture;
using carousel_test::RecordingSink;

// The listing of an independent reader: "  fil   369  /base.css" and "  dir  /resources" lines, as
// "fil 369 /base.css" and "dir /resources"; the gateway ("/") and stream objects are left out.
std::multiset<std::string> listing(const std::string& path) {
  std::multiset<std::string> out;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // the summary line
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind, size, name;
    words >> kind;
    if (kind == "fil") {
      words >> size >> name;
      out.insert("fil " + size + " " + name);
    } else if (kind == "dir") {
      words >> name;
      out.insert("dir " + name);
    }
  }
  return out;
}

void feed_stream(Capture& capture, const std::string& path, uint16_t pid) {
  std::vector<uint8_t> ts = testsupport::read_file(path);
  ASSERT_FALSE(ts.empty()) << path;
  auto sections = testsupport::extract_sections(ts, 188, pid);
  ASSERT_FALSE(sections.empty());
  capture.feed_all(pid, sections);
}

TEST(SharedStreams, HbbtvStreamEventCarouselGivesItsFourFiles) {
  REQUIRE_STREAM(ts, "hbbtv-sevent.ts");
  REQUIRE_STREAM(expected, "expected/hbbtv-sevent.pid0x138e.files.txt");
  LogCapture log;
  Capture capture({{1, 0x138E}});
  feed_stream(capture, ts, 0x138E);

  merge_programme_index(capture.store);
  RecordingSink sink;
  rebuild_object_carousels(capture.store, sink);

  ProgramRecord& program = capture.program();
  ASSERT_EQ(program.object_carousels.size(), 1u);
  ASSERT_EQ(program.gateway_dsis.size(), 1u);
  EXPECT_EQ(program.gateway_dsis.begin()->first, program.object_carousels.begin()->first);

  std::multiset<std::string> got(sink.paths.begin(), sink.paths.end());
  std::multiset<std::string> want = listing(expected);
  ASSERT_EQ(want.size(), 4u);
  EXPECT_EQ(got, want);
  // The module arrives compressed and is inflated without error.
  EXPECT_EQ(log.count_containing("inflate error"), 0u);
  EXPECT_EQ(log.count_containing("not a BIOP message"), 0u);
  EXPECT_EQ(log.count_containing("module not complete"), 0u);
  size_t next_file = 0;
  for (const std::string& path : sink.paths) {
    if (path.rfind("fil ", 0) != 0) continue;
    const FileRecord* file = sink.files.at(next_file++);
    ASSERT_NE(file, nullptr) << path;
    EXPECT_EQ(file->content.size(), file->content_length);
    if (path == "fil 3039 /index.html") {  // the inflated content really is the file
      EXPECT_NE(std::string(file->content.begin(), file->content.end()).find("<html"), std::string::npos);
    }
  }
}

class MhpOcdir1 : public testing::Test {
 protected:
  void load(const std::string& ts) {
    feed_stream(capture, ts, 0x07D3);
    merge_programme_index(capture.store);
  }
  Capture capture{{{1, 0x07D3}}};
};

TEST_F(MhpOcdir1, ControlMessagesOfVersion5AreNeverStoredTheModulesAreParsed) {
  REQUIRE_STREAM(ts, "mhp-ocdir1.ts");
  REQUIRE_STREAM(expected, "expected/mhp-ocdir1.pid0x07d3.files.txt");
  LogCapture log;
  load(ts);
  ProgramRecord& program = capture.program();
  EXPECT_TRUE(program.dii_by_download.empty());
  EXPECT_TRUE(program.gateway_dsis.empty());
  ASSERT_EQ(program.ddb_by_download.size(), 1u);
  const auto& modules = program.ddb_by_download.begin()->second;
  EXPECT_EQ(modules.size(), 4u);
  for (const auto& [moduleId, blocks] : modules) EXPECT_TRUE(module_complete(&blocks)) << moduleId;

  RecordingSink sink;
  rebuild_object_carousels(capture.store, sink);
  EXPECT_EQ(sink.outline(), "root\n  prg 1\n");
  ASSERT_EQ(program.object_carousels.size(), 1u);
  const auto& [key, oc] = *program.object_carousels.begin();
  EXPECT_EQ(oc.modules.size(), 4u);
  char line[64];
  std::snprintf(line, sizeof line, "OC %#x not found", static_cast<uint32_t>(key));
  EXPECT_TRUE(log.has(2, line));

  // Every object of the independent listing was recorded: 54 files of those sizes, 7 directories and
  // the gateway.
  std::multiset<std::string> want_sizes;
  for (const auto& entry : listing(expected)) {
    if (entry.rfind("fil ", 0) == 0) want_sizes.insert(entry.substr(4, entry.find(' ', 4) - 4));
  }
  std::multiset<std::string> got_sizes;
  for (const auto& [ref, file] : oc.files) got_sizes.insert(std::to_string(file.content_length));
  EXPECT_EQ(want_sizes.size(), 54u);
  EXPECT_EQ(got_sizes, want_sizes);
  EXPECT_EQ(oc.directories.size(), 8u);
}

}  // namespace
