// What a save may trust: carousels crafted the way real ones fail. Whatever the pages show, a saved
// file is always one the carousel really carried, whole; what cannot be vouched for is listed with
// its reason. And a hostile carousel cannot make a save take memory or disk without end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "carousel/module_assembly.h"
#include "carousel/object_carousel.h"
#include "save/carousel_save.h"
#include "tests/save/save_fixture.h"
#include "tests/support/trust_builder.h"

namespace {

namespace ts = testsupport;
using save_test::as_text;
using save_test::Capture;
using save_test::ScratchDir;
using save_test::snapshot;
using ts::ByteVec;
using ts::OcCarousel;

constexpr uint32_t kPid = 0x100;
const std::string kModule = "data/prg-0x0001/download-0x00000010/module-0x0001.bin";
const std::string kDataMissing = "data/prg-0x0001/download-0x00000010/missing.txt";
const std::string kObjects = "object/prg-0x0001/carousel-0x00000010/";

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

TEST(TrustedSave, CraftedCarouselsSaveOnlyWholeModulesOfOneVersion) {
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
    Capture capture;
    capture.feed_all(kPid, c.sections);
    capture.rebuild();
    const ProgramRecord& program = capture.program();
    const CDownloadInfoIndication* dii = program.dii_by_download.at(0x10).begin()->second.dii();
    EXPECT_EQ(module_section_counts(program, 0x10, dii->modules.at(0), dii->blockSize), c.shown);

    ScratchDir sandbox;
    const SaveReport report = save_carousels(capture.store, [&] {
      SaveOptions o;
      o.dir = sandbox / "out";
      return o;
    }());
    ASSERT_TRUE(report.ok());
    auto saved = snapshot(sandbox / "out");
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

// 4 KB of input may claim gigabytes: all inflated images of a capture share one budget, and the save
// writes each file object's bytes once within its budget of files.
TEST(TrustedSave, BlowUpsStayWithinTheirBudgets) {
  OcCarousel many(0x10);
  for (uint16_t m = 1; m <= 8; ++m) {
    many.add_file(many.gateway(), "z" + std::to_string(m), ByteVec(size_t{1} << 20, static_cast<uint8_t>(m)), m);
    many.set_compressed(m);
  }
  Capture capture;
  capture.feed_all(kPid, many.sections());
  merge_programme_index(capture.store);
  save_modules_to_memory(capture.store);
  const size_t budget = size_t{3} << 20;
  uncompress_mem_modules(capture.store, budget);
  parse_OC_modules(capture.store);
  EXPECT_LE(capture.store.inflated_bytes, budget);
  // Each module inflates to a little more than 1 MiB: two fit.
  EXPECT_EQ(capture.program().object_carousels.at(0x10).not_inflated.size(), 6u);

  ScratchDir sandbox;
  SaveOptions options;
  options.dir = sandbox / "z";
  options.inflate_budget = budget;
  const SaveReport inflated = save_carousels(capture.store, options);
  EXPECT_EQ(inflated.modules_written, 2u);
  EXPECT_EQ(inflated.modules_refused, 6u);
  EXPECT_NE(snapshot(options.dir)[kDataMissing].find("left compressed"), std::string::npos);

  struct Walk {
    int levels;
    uint64_t max_files;
    uint64_t linked;  // further paths of the one file, written as hard links
    bool budget_reached;
  };
  for (const Walk& w : {Walk{6, kMaxSaveFiles, 63, false}, Walk{16, 200, 0, true}}) {
    SCOPED_TRACE(w.levels);
    Capture deep;
    deep.feed_all(kPid, ts::doubling_directories(0x10, w.levels, ts::text_bytes("leaf")).sections());
    deep.rebuild();
    options.dir = sandbox / ("deep" + std::to_string(w.levels));
    options.max_files = w.max_files;
    const SaveReport report = save_object_carousels(deep.store, options);
    EXPECT_EQ(report.files_written, 1u);
    EXPECT_EQ(report.bytes_written, 4u);
    EXPECT_EQ(report.budget_reached, w.budget_reached);
    if (w.linked) {
      EXPECT_EQ(report.files_linked, w.linked);
      struct stat st;
      ASSERT_EQ(::stat((options.dir + "/" + kObjects + "a/a/a/a/a/a/leaf.txt").c_str(), &st), 0);
      EXPECT_EQ(st.st_nlink, w.linked + 1);
    } else {
      EXPECT_LE(snapshot(options.dir).size(), w.max_files + 6);
      EXPECT_NE(snapshot(options.dir)[kObjects + "missing.txt"].find("budget of 200 files"), std::string::npos);
    }
  }
}

}  // namespace
