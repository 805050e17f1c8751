// Saving a capture's model: what lands on disk, under which names, what is listed as missing, and
// which modules a save can vouch for. No page takes part.
#include "save/carousel_save.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "carousel/module_assembly.h"
#include "tests/support/helpers.h"
#include "tests/support/store_capture.h"
#include "tests/support/trust_builder.h"

using namespace save;

namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using ts::ByteVec;
using ts::OcCarousel;
using ts::pattern_bytes;
using ts::text_bytes;

constexpr uint32_t kPid = 0x100;
const std::string kCarousel = "object/prg-0x0001/carousel-0x00000001";
const std::string kDir = "<dir>";
const std::string kModule = "data/prg-0x0001/download-0x00000010/module-0x0001.bin";
const std::string kDataMissing = "data/prg-0x0001/download-0x00000010/missing.txt";
const std::string kObjects = "object/prg-0x0001/carousel-0x00000010/";

std::string as_text(const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry below `root` by relative path: "<dir>", "<link>", or a file's content.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = entry.symlink_status();
    out[fs::relative(entry.path(), root).string()] =
        fs::is_symlink(status) ? "<link>" : fs::is_directory(status) ? kDir : read_text(entry.path().string());
  }
  return out;
}

std::string errors_of(const SaveReport& report) {
  std::string all;
  for (const auto& e : report.errors) all += e + "\n";
  return all;
}

SaveOptions options_for(const std::string& dir, bool force = false) {
  SaveOptions options;
  options.dir = dir;
  options.force = force;
  return options;
}

OcCarousel one_file(const std::string& name, ByteVec content, uint8_t version = 0, bool compressed = false) {
  OcCarousel oc(0x10);
  oc.add_file(oc.gateway(), name, std::move(content), 1);
  oc.set_version(version);
  oc.set_compressed(1, compressed);
  return oc;
}

template <typename F>
std::vector<ByteVec> edited(std::vector<ByteVec> sections, F edit) {
  edit(sections);
  return sections;
}

}  // namespace

TEST(Save, ObjectsNotAvailableAreListedAndNotWritten) {
  ts::StoreCapture capture;
  OcCarousel oc(1);
  auto sub = oc.add_directory(oc.gateway(), "sub", 1);
  oc.bind_missing(sub, "lost.png", "fil", 1, {0x7F, 0, 0, 1});
  oc.add_file(oc.gateway(), "ok.txt", text_bytes("fine"), 1);
  oc.add_file(oc.gateway(), "big.bin", pattern_bytes(2000, 1), 2);
  oc.bind_missing(oc.gateway(), "gone.js", "fil", 1, {0x7F, 0, 0, 2});
  oc.bind_missing(oc.gateway(), "bad\nname", "fil", 1, {0x7F, 0, 0, 3});
  capture.feed(kPid, oc.dsi_section());
  capture.feed(kPid, oc.dii_section());
  for (const auto& [moduleId, image] : oc.module_images()) {
    auto blocks = ts::module_sections(1, moduleId, image, 512);
    if (moduleId == 2) blocks.erase(blocks.begin() + 1);  // module 2 never completes
    capture.feed_all(kPid, blocks);
  }
  const carousel::CarouselModel model = carousel::rebuild_carousels(capture.store);

  ts::TempDir sandbox;
  SaveReport report = save_object_carousels(model, options_for(sandbox.path() + "/out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  const std::map<std::string, std::string> expected = {
      {"object", kDir}, {"object/prg-0x0001", kDir}, {kCarousel, kDir}, {kCarousel + "/sub", kDir},
      {kCarousel + "/ok.txt", "fine"},
      {kCarousel + "/missing.txt",
       "sub/lost.png\tobject not available\nbig.bin\tobject not available\ngone.js\tobject not available\n"
       "bad%0Aname\tobject not available\nmodule 0x0002\tnot saved: not complete: 3 of 4 blocks of moduleVersion 0 "
       "received\n"},
      {kCarousel + "/renamed.txt", "bad%0Aname\tbad\\x0aname\n"}};
  EXPECT_EQ(snapshot(sandbox.path() + "/out"), expected);
  EXPECT_EQ(report.objects_not_available, 4u);
  EXPECT_EQ(report.files_written, 1u);
}

TEST(Save, ExistingFilesAreKeptUnlessForced) {
  ts::StoreCapture capture;
  OcCarousel oc(1);
  oc.add_file(oc.gateway(), "index.html", text_bytes("<html/>"), 1);
  oc.add_file(oc.gateway(), "app.js", text_bytes("run()"), 1);
  capture.feed_all(kPid, oc.sections());
  const carousel::CarouselModel model = carousel::rebuild_carousels(capture.store);

  ts::TempDir sandbox;
  const std::string out = sandbox.path() + "/out";
  SaveReport first = save_object_carousels(model, options_for(out));
  ASSERT_TRUE(first.ok()) << errors_of(first);
  EXPECT_EQ(first.files_written, 2u);
  std::ofstream(out + "/" + kCarousel + "/index.html") << "edited locally";

  SaveReport again = save_object_carousels(model, options_for(out));
  ASSERT_TRUE(again.ok()) << errors_of(again);
  EXPECT_EQ(again.existing_kept, 3u);  // both files and missing.txt
  EXPECT_EQ(read_text(out + "/" + kCarousel + "/index.html"), "edited locally");

  SaveReport forced = save_object_carousels(model, options_for(out, true));
  ASSERT_TRUE(forced.ok()) << errors_of(forced);
  EXPECT_EQ(forced.files_written, 2u);
  EXPECT_EQ(read_text(out + "/" + kCarousel + "/index.html"), "<html/>");
}

TEST(Save, CraftedCarouselsSaveOnlyWholeModulesOfOneVersion) {
  // Modules of about 1000 blocks of 64 bytes; the small ones in blocks of 512 bytes: v1 and v2 of one
  // file of the same size, and a copy of v1 whose bytes differ under the same version.
  const std::vector<ByteVec> files = {ts::noise_bytes(64000, 1), ts::noise_bytes(64000, 2), ts::noise_bytes(3000, 3),
                                      ts::noise_bytes(3000, 4), ts::noise_bytes(3000, 5)};
  const OcCarousel big = one_file("big.bin", files[0]);
  const OcCarousel packed = one_file("big.bin", files[1], 0, true);
  const OcCarousel v1 = one_file("app.js", files[2], 1);
  const OcCarousel v2 = one_file("app.js", files[3], 2);
  const OcCarousel v1b = one_file("app.js", files[4], 1);
  const auto n = static_cast<int32_t>(big.ddb_sections(64).size());
  const auto np = static_cast<int32_t>(packed.ddb_sections(64).size());
  const auto small = static_cast<int32_t>(v1.ddb_sections(512).size());
  ASSERT_GT(std::min(n, np), 999);

  struct Case {
    const char* what;
    std::vector<ByteVec> sections;
    const OcCarousel* saved;            // the version whose module and file are saved; null: nothing is
    const char* file;                   // the carousel's one file
    std::pair<int32_t, int32_t> shown;  // sections received/expected on the Data Carousel page
    const char* reason;                 // in the data missing.txt when nothing is saved
  };
  const std::vector<Case> cases = {
      {"1000 blocks", big.sections(64), &big, "big.bin", {n, n}, ""},
      {"1000 blocks, compressed", packed.sections(64), &packed, "big.bin", {np, np}, ""},
      {"1000 blocks, one lost", edited(big.sections(64), [](auto& s) { s.erase(s.begin() + 502); }), nullptr,
       "big.bin", {n - 1, n}, "not complete: "},
      {"update caught mid-capture", ts::update_mid_capture(v1, v2, 1, 512), &v2, "app.js", {small, small}, ""},
      {"update without its DII",
       edited(ts::update_mid_capture(v1, v2, 1, 512), [](auto& s) { s.erase(s.begin() + 3, s.begin() + 5); }),
       nullptr, "app.js", {small, small}, "only as another moduleVersion"},
      {"damaged copy ahead of good ones",
       edited(v1.sections(512), [](auto& s) { s.insert(s.begin() + 2, ts::unverifiable_copy(s[3])); }), &v1,
       "app.js", {small, small}, ""},
      {"damaged copy alone", edited(v1.sections(512), [](auto& s) { s[3] = ts::unverifiable_copy(s[3]); }),
       nullptr, "app.js", {small, small}, "only in sections whose CRC cannot be checked"},
      {"two verified copies that differ",
       edited(v1.sections(512), [&](auto& s) { s.push_back(v1b.ddb_sections(512)[1]); }), nullptr, "app.js",
       {small, small}, "came twice with different bytes"},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ts::StoreCapture capture;
    capture.feed_all(kPid, c.sections);
    const carousel::CarouselModel model = carousel::rebuild_carousels(capture.store);
    const carousel::ProgrammeModel& program = model.programs.at(1);
    const dsmcc::CDownloadInfoIndication* dii = program.dii_by_download.at(0x10).begin()->second.dii();
    EXPECT_EQ(carousel::module_section_counts(program, 0x10, dii->modules.at(0), dii->blockSize), c.shown);

    ts::TempDir sandbox;
    ASSERT_TRUE(save_carousels(model, options_for(sandbox.path() + "/out")).ok());
    auto saved = snapshot(sandbox.path() + "/out");
    // No saved file is ever other than a file the carousel carried.
    for (const auto& [path, bytes] : saved) {
      if (path.rfind(kObjects, 0) != 0 || path.ends_with(".txt")) continue;
      EXPECT_TRUE(std::ranges::any_of(files, [&](const ByteVec& f) { return as_text(f) == bytes; })) << path;
    }
    if (c.saved) {
      EXPECT_EQ(saved[kModule], as_text(c.saved->plain_module_images().at(1)));
      EXPECT_TRUE(saved.contains(kObjects + c.file));
    } else {
      EXPECT_FALSE(saved.contains(kModule));
      EXPECT_NE(saved[kDataMissing].find(c.reason), std::string::npos) << saved[kDataMissing];
      EXPECT_FALSE(saved.contains(kObjects + c.file));
    }
  }
}

