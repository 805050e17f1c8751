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
using namespace std::string_literals;
namespace ts = testsupport;
using ts::ByteVec;
using ts::OcCarousel;
using ts::pattern_bytes;
using ts::read_text;
using ts::text_bytes;

constexpr uint32_t kPid = 0x100;
const std::string kCarousel = "object/prg-0x0001/carousel-0x00000001";
const std::string kDir = "<dir>";
const std::string kModule = "data/prg-0x0001/download-0x00000010/module-0x0001.bin";
const std::string kDataMissing = "data/prg-0x0001/download-0x00000010/missing.txt";
const std::string kObjects = "object/prg-0x0001/carousel-0x00000010/";

std::string as_text(const ByteVec& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Every entry below `root` by relative path: "<dir>", "<link>", or a file's content.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string& shown = out[fs::relative(entry.path(), root).string()];
    shown = entry.is_symlink() ? "<link>" : kDir;
    if (!entry.is_symlink() && !entry.is_directory()) shown = read_text(entry.path().string());
  }
  return out;
}

OcCarousel one_file(const std::string& name, ByteVec content, uint8_t version = 0, bool compressed = false) {
  OcCarousel oc(0x10);
  oc.add_file(oc.gateway(), name, std::move(content), 1);
  oc.set_version(version);
  oc.set_compressed(1, compressed);
  return oc;
}

// `sections` with `removed` of them from `at` on replaced by `inserted`.
std::vector<ByteVec> spliced(std::vector<ByteVec> sections, size_t at, size_t removed,
                             const std::vector<ByteVec>& inserted = {}) {
  const auto from = sections.erase(sections.begin() + static_cast<ptrdiff_t>(at),
                                   sections.begin() + static_cast<ptrdiff_t>(at + removed));
  sections.insert(from, inserted.begin(), inserted.end());
  return sections;
}

}  // namespace

TEST(Save, ObjectsNotAvailableAreListedAndNotWrittenAndAResaveKeepsWhatIsThereUnlessForced) {
  ts::StoreCapture capture;
  OcCarousel oc(1);
  auto sub = oc.add_directory(oc.gateway(), "sub", 1);
  oc.bind_missing(sub, "lost.png", "fil", 1, {0x7F, 0, 0, 1});
  oc.add_file(oc.gateway(), "ok.txt", text_bytes("fine"), 1);
  oc.add_file(oc.gateway(), "big.bin", pattern_bytes(2000, 1), 2);
  oc.bind_missing(oc.gateway(), "gone.js", "fil", 1, {0x7F, 0, 0, 2});
  oc.bind_missing(oc.gateway(), "bad\nname", "fil", 1, {0x7F, 0, 0, 3});
  std::vector<ByteVec> sections = oc.sections(512);
  sections.pop_back();  // the last block of module 2, which never completes
  capture.feed_all(kPid, sections);
  const carousel::CarouselModel model = carousel::rebuild_carousels(capture.store);

  ts::TempDir sandbox;
  SaveReport report = save_object_carousels(model, {.dir = sandbox.path() + "/out"});
  ASSERT_TRUE(report.ok()) << ::testing::PrintToString(report.errors);

  std::map<std::string, std::string> expected = {{kCarousel + "/ok.txt", "fine"},
                                                 {kCarousel + "/renamed.txt", "bad%0Aname\tbad\\x0aname\n"}};
  for (const std::string& dir : {"object"s, "object/prg-0x0001"s, kCarousel, kCarousel + "/sub"})
    expected[dir] = kDir;
  expected[kCarousel + "/missing.txt"] =
      "sub/lost.png\tobject not available\nbig.bin\tobject not available\ngone.js\tobject not available\n"
      "bad%0Aname\tobject not available\n"
      "module 0x0002\tnot saved: not complete: 3 of 4 blocks of moduleVersion 0 received\n";
  EXPECT_EQ(snapshot(sandbox.path() + "/out"), expected);
  EXPECT_EQ(report.objects_not_available, 4u);
  EXPECT_EQ(report.files_written, 1u);

  // A second save keeps what is there, edited or not, unless forced.
  const std::string ok = sandbox.path() + "/out/" + kCarousel + "/ok.txt";
  std::ofstream(ok) << "edited locally";
  SaveReport again = save_object_carousels(model, {.dir = sandbox.path() + "/out"});
  ASSERT_TRUE(again.ok()) << ::testing::PrintToString(again.errors);
  EXPECT_EQ(again.existing_kept, 3u);  // ok.txt, missing.txt and renamed.txt
  EXPECT_EQ(read_text(ok), "edited locally");
  SaveReport forced = save_object_carousels(model, {.dir = sandbox.path() + "/out", .force = true});
  ASSERT_TRUE(forced.ok()) << ::testing::PrintToString(forced.errors);
  EXPECT_EQ(forced.files_written, 1u);
  EXPECT_EQ(read_text(ok), "fine");
}

TEST(Save, CraftedCarouselsSaveOnlyWholeModulesOfOneVersion) {
  // Modules of about 1000 blocks of 64 bytes; the small ones in blocks of 512 bytes: v1 and v2 of one
  // file of the same size, and a copy of v1 whose bytes differ under the same version.
  const std::vector<ByteVec> files = {ts::noise_bytes(64000, 1), ts::noise_bytes(64000, 2),
                                      ts::noise_bytes(3000, 3), ts::noise_bytes(3000, 4),
                                      ts::noise_bytes(3000, 5)};
  const OcCarousel big = one_file("big.bin", files[0]);
  const OcCarousel packed = one_file("big.bin", files[1], 0, true);
  const OcCarousel v1 = one_file("app.js", files[2], 1);
  const OcCarousel v2 = one_file("app.js", files[3], 2);
  const OcCarousel v1b = one_file("app.js", files[4], 1);
  const auto n = static_cast<int32_t>(big.ddb_sections(64).size());
  const auto np = static_cast<int32_t>(packed.ddb_sections(64).size());
  const auto small = static_cast<int32_t>(v1.ddb_sections(512).size());
  ASSERT_GT(std::min(n, np), 999);

  const std::vector<ByteVec> v1s = v1.sections(512), update = ts::update_mid_capture(v1, v2, 1, 512);
  const ByteVec damaged = ts::unverifiable_copy(v1s[3]), other = v1b.ddb_sections(512)[1];

  struct Case {
    const char* what;
    std::vector<ByteVec> sections;
    const OcCarousel* saved;            // the version whose module and file are saved; null: nothing is
    std::pair<int32_t, int32_t> shown;  // sections received/expected on the Data Carousel page
    const char* reason;                 // in the data missing.txt when nothing is saved
  };
  const std::vector<Case> cases = {
      {"1000 blocks", big.sections(64), &big, {n, n}, ""},
      {"1000 blocks, compressed", packed.sections(64), &packed, {np, np}, ""},
      {"1000 blocks, one lost", spliced(big.sections(64), 502, 1), nullptr, {n - 1, n}, "not complete: "},
      {"update caught mid-capture", update, &v2, {small, small}, ""},
      {"update without its DII", spliced(update, 3, 2), nullptr, {small, small}, "as another moduleVersion"},
      {"damaged copy ahead of good ones", spliced(v1s, 2, 0, {damaged}), &v1, {small, small}, ""},
      {"damaged copy alone", spliced(v1s, 3, 1, {damaged}), nullptr, {small, small}, "CRC cannot be checked"},
      {"verified copies that differ", spliced(v1s, 4, 0, {other}), nullptr, {small, small}, "came twice"},
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
    ASSERT_TRUE(save_carousels(model, {.dir = sandbox.path() + "/out"}).ok());
    auto saved = snapshot(sandbox.path() + "/out");
    // No saved file is ever other than a file the carousel carried, and only a whole module's file is.
    size_t object_files = 0;
    for (const auto& [path, bytes] : saved) {
      if (path.rfind(kObjects, 0) != 0 || path.ends_with(".txt")) continue;
      ++object_files;
      EXPECT_TRUE(std::ranges::any_of(files, [&](const ByteVec& f) { return as_text(f) == bytes; })) << path;
    }
    EXPECT_EQ(object_files, c.saved ? 1u : 0u);
    if (c.saved) {
      EXPECT_EQ(saved[kModule], as_text(c.saved->plain_module_images().at(1)));
    } else {
      EXPECT_FALSE(saved.contains(kModule));
      EXPECT_NE(saved[kDataMissing].find(c.reason), std::string::npos) << saved[kDataMissing];
    }
  }
}
