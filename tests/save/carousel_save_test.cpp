// Saving built carousels: what lands on disk, under which names, and what never leaves the target.
#include "save/carousel_save.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "save/file_names.h"
#include "tests/save/save_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

namespace fs = std::filesystem;
using save_test::Capture;
using save_test::entries;
using save_test::read_text;
using save_test::ScratchDir;
using save_test::snapshot;
using save_test::write_text;
using testsupport::OcCarousel;
using testsupport::pattern_bytes;
using testsupport::text_bytes;

constexpr uint32_t kPid = 0x100;
const std::string kCarousel = "object/prg-0x0001/carousel-0x00000001";
const std::string kDir = "<dir>";

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

// The directories that lead to the carousel of programme 1, carouselId 1.
std::map<std::string, std::string> carousel_dirs() {
  return {{"object", kDir}, {"object/prg-0x0001", kDir}, {kCarousel, kDir}};
}

// Every path below `dir` whose last name starts with the temporary prefix.
std::vector<std::string> temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& [path, content] : snapshot(dir)) {
    if (fs::path(path).filename().string().rfind("%tmp.", 0) == 0) found.push_back(path);
  }
  return found;
}

TEST(SaveObjectCarousel, HostileNamesStayInsideTheirDirectory) {
  Capture capture;
  OcCarousel oc(1);
  auto up = oc.add_directory(oc.gateway(), "..", 1);
  oc.add_file(up, "f1", text_bytes("one"), 1);
  oc.add_file(oc.gateway(), "../../etc/passwd", text_bytes("not a password file"), 1);
  auto ab = oc.add_directory(oc.gateway(), "a/b", 1);
  oc.add_file(ab, "c", text_bytes("under a/b"), 1);
  oc.add_file(oc.gateway(), "", text_bytes("no name"), 1);
  oc.add_file(oc.gateway(), ".", text_bytes("dot"), 1);
  auto ctl = oc.add_directory(oc.gateway(), "ctl\x01\n", 1);
  oc.add_file(ctl, "bell\x07", text_bytes("ding"), 1);
  oc.add_file(oc.gateway(), "\xff\xfe.bin", text_bytes("not UTF-8"), 1);
  oc.add_file(oc.gateway(), "/", text_bytes("slash"), 1);
  oc.add_file(oc.gateway(), "plain.txt", text_bytes("plain"), 1);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  SaveReport report = save_object_carousels(capture.store, options_for(sandbox / "out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  EXPECT_EQ(entries(sandbox.path()), std::vector<std::string>{"out"});
  auto expected = carousel_dirs();
  expected[kCarousel + "/%2E%2E"] = kDir;
  expected[kCarousel + "/%2E%2E/f1"] = "one";
  expected[kCarousel + "/..%2F..%2Fetc%2Fpasswd"] = "not a password file";
  expected[kCarousel + "/a%2Fb"] = kDir;
  expected[kCarousel + "/a%2Fb/c"] = "under a/b";
  expected[kCarousel + "/%00"] = "no name";
  expected[kCarousel + "/%2E"] = "dot";
  expected[kCarousel + "/ctl%01%0A"] = kDir;
  expected[kCarousel + "/ctl%01%0A/bell%07"] = "ding";
  expected[kCarousel + "/%FF%FE.bin"] = "not UTF-8";
  expected[kCarousel + "/%2F"] = "slash";
  expected[kCarousel + "/plain.txt"] = "plain";
  expected[kCarousel + "/missing.txt"] = "";
  expected[kCarousel + "/renamed.txt"] =
      "%2E%2E\t..\na%2Fb\ta/b\nctl%01%0A\tctl\\x01\\x0a\nctl%01%0A/bell%07\tbell\\x07\n..%2F..%2Fetc%2Fpasswd\t"
      "../../etc/passwd\n%00\t\n%2E\t.\n%FF%FE.bin\t\\xff\\xfe.bin\n%2F\t/\n";
  EXPECT_EQ(snapshot(sandbox / "out"), expected);

  EXPECT_EQ(report.object_carousels, 1u);
  EXPECT_EQ(report.files_written, 9u);
  EXPECT_EQ(report.bytes_written, 3u + 19 + 9 + 7 + 3 + 4 + 9 + 5 + 5);
  EXPECT_EQ(report.names_escaped, 9u);
  EXPECT_EQ(report.names_suffixed, 0u);
  EXPECT_EQ(report.objects_not_available, 0u);
}

// A directory bound from two parents is written under both; a binding back to an ancestor is left out;
// a binding back to the gateway shows the gateway's content once more, one level down.
TEST(SaveObjectCarousel, WalksAsTheTreeDoes) {
  Capture capture;
  OcCarousel oc(1);
  auto a = oc.add_directory(oc.gateway(), "a", 1);
  auto b = oc.add_directory(oc.gateway(), "b", 1);
  oc.add_file(oc.gateway(), "top.txt", text_bytes("top"), 1);
  auto shared = oc.add_directory(a, "shared", 2);
  oc.bind(a, "self", a);
  oc.add_file(a, "fa", text_bytes("in a"), 2);
  oc.bind(b, "again", shared);
  oc.bind(b, "root", oc.gateway());
  oc.add_file(shared, "f", pattern_bytes(5000, 3), 2);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  SaveReport report = save_object_carousels(capture.store, options_for(sandbox / "out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  const std::string big = save_test::as_text(pattern_bytes(5000, 3));
  auto expected = carousel_dirs();
  for (const char* dir : {"a", "a/shared", "b", "b/again", "b/root", "b/root/a", "b/root/a/shared"}) {
    expected[kCarousel + "/" + dir] = kDir;
  }
  expected[kCarousel + "/a/shared/f"] = big;
  expected[kCarousel + "/a/fa"] = "in a";
  expected[kCarousel + "/b/again/f"] = big;
  expected[kCarousel + "/b/root/a/shared/f"] = big;
  expected[kCarousel + "/b/root/a/fa"] = "in a";
  expected[kCarousel + "/b/root/top.txt"] = "top";
  expected[kCarousel + "/top.txt"] = "top";
  expected[kCarousel + "/missing.txt"] = "";
  EXPECT_EQ(snapshot(sandbox / "out"), expected);
}

TEST(SaveObjectCarousel, EqualNamesInOneDirectoryGetSuffixesInWalkOrder) {
  Capture capture;
  OcCarousel oc(1);
  oc.add_file(oc.gateway(), "dup", text_bytes("first"), 1);
  oc.add_file(oc.gateway(), "dup", text_bytes("second"), 1);
  auto dir = oc.add_directory(oc.gateway(), "dup", 1);
  oc.add_file(dir, "inner", text_bytes("inside"), 1);
  oc.add_file(oc.gateway(), "missing.txt", text_bytes("from the broadcast"), 1);
  // 254 bytes each (with its zero byte the most an id holds), 256 once the '/' is escaped: cut, the
  // extension kept.
  const std::string x(249, 'x');
  oc.add_file(oc.gateway(), x + "/1.js", text_bytes("long 1"), 1);
  oc.add_file(oc.gateway(), x + "/2.js", text_bytes("long 2"), 1);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  SaveReport report = save_object_carousels(capture.store, options_for(sandbox / "out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  const std::string cut = x + "%2F.js";
  auto expected = carousel_dirs();
  expected[kCarousel + "/dup"] = kDir;  // directories are walked before files
  expected[kCarousel + "/dup/inner"] = "inside";
  expected[kCarousel + "/dup%~1"] = "first";
  expected[kCarousel + "/dup%~2"] = "second";
  expected[kCarousel + "/missing.txt%~1"] = "from the broadcast";
  expected[kCarousel + "/missing.txt"] = "";
  expected[kCarousel + "/" + cut] = "long 1";
  expected[kCarousel + "/" + x + ".js%~1"] = "long 2";
  expected[kCarousel + "/renamed.txt"] = "dup%~1\tdup\ndup%~2\tdup\nmissing.txt%~1\tmissing.txt\n" + cut + "\t" + x +
                                         "/1.js\n" + x + ".js%~1\t" + x + "/2.js\n";
  EXPECT_EQ(snapshot(sandbox / "out"), expected);
  EXPECT_EQ(report.names_suffixed, 4u);
  EXPECT_EQ(report.names_escaped, 2u);
  EXPECT_EQ(report.files_written, 6u);
}

TEST(SaveObjectCarousel, ObjectsNotAvailableAreListedAndNotWritten) {
  Capture capture;
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
    auto blocks = testsupport::module_sections(1, moduleId, image, 512);
    if (moduleId == 2) {
      ASSERT_GT(blocks.size(), 2u);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (moduleId == 2 && i == 1) continue;  // module 2 never completes
      capture.feed(kPid, blocks[i]);
    }
  }
  capture.rebuild();

  ScratchDir sandbox;
  SaveReport report = save_object_carousels(capture.store, options_for(sandbox / "out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  auto expected = carousel_dirs();
  expected[kCarousel + "/sub"] = kDir;
  expected[kCarousel + "/ok.txt"] = "fine";
  expected[kCarousel + "/missing.txt"] =
      "sub/lost.png\tobject not available\nbig.bin\tobject not available\ngone.js\tobject not available\n"
      "bad%0Aname\tobject not available\nmodule 0x0002\tnot saved: not complete: 3 of 4 blocks of moduleVersion 0 "
      "received\n";
  expected[kCarousel + "/renamed.txt"] = "bad%0Aname\tbad\\x0aname\n";
  EXPECT_EQ(snapshot(sandbox / "out"), expected);
  EXPECT_EQ(report.objects_not_available, 4u);
  EXPECT_EQ(report.files_written, 1u);
}

TEST(SaveObjectCarousel, ExistingFilesAreKeptUnlessForced) {
  Capture capture;
  OcCarousel oc(1);
  oc.add_file(oc.gateway(), "index.html", text_bytes("<html/>"), 1);
  oc.add_file(oc.gateway(), "app.js", text_bytes("run()"), 1);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  const std::string out = sandbox / "out";
  SaveReport first = save_object_carousels(capture.store, options_for(out));
  ASSERT_TRUE(first.ok()) << errors_of(first);
  EXPECT_EQ(first.files_written, 2u);
  EXPECT_EQ(first.existing_kept, 0u);
  write_text(out + "/" + kCarousel + "/index.html", "edited locally");

  SaveReport again = save_object_carousels(capture.store, options_for(out));
  ASSERT_TRUE(again.ok()) << errors_of(again);
  EXPECT_EQ(again.files_written, 0u);
  EXPECT_EQ(again.existing_kept, 3u);  // both files and missing.txt
  EXPECT_EQ(read_text(out + "/" + kCarousel + "/index.html"), "edited locally");
  EXPECT_TRUE(temporaries(out).empty());

  SaveReport forced = save_object_carousels(capture.store, options_for(out, true));
  ASSERT_TRUE(forced.ok()) << errors_of(forced);
  EXPECT_EQ(forced.files_written, 2u);
  EXPECT_EQ(forced.existing_kept, 0u);
  EXPECT_EQ(read_text(out + "/" + kCarousel + "/index.html"), "<html/>");
  EXPECT_EQ(read_text(out + "/" + kCarousel + "/app.js"), "run()");
  EXPECT_TRUE(temporaries(out).empty());
}

// A symbolic link where the save writes is left as it is and refused for its own path alone; the
// rest is written, with or without force, and nothing is asked.
TEST(SaveObjectCarousel, SymbolicLinkIsRefusedForItsPathAloneNeverFollowedOrReplaced) {
  Capture capture;
  OcCarousel oc(1);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "main.js", text_bytes("main()"), 1);
  oc.add_file(oc.gateway(), "index.html", text_bytes("<html/>"), 1);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  struct Case {
    const char* what;
    std::string link;                  // relative to the target; its parents are created first
    std::vector<std::string> written;  // below the carousel directory
  };
  const std::vector<Case> cases = {
      {"link in place of the object folder", "object", {}},
      {"link in place of a carousel directory", kCarousel + "/apps", {"index.html"}},
      {"link in place of a file", kCarousel + "/index.html", {"apps/main.js"}},
  };
  for (const auto& c : cases) {
    for (bool force : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (force ? ", forced" : ""));
      ScratchDir sandbox;
      const std::string out = sandbox / "out";
      fs::create_directories(fs::path(out + "/" + c.link).parent_path());
      fs::create_directory(sandbox / "elsewhere");
      fs::create_directory_symlink(sandbox / "elsewhere", out + "/" + c.link);

      SaveReport report = save_object_carousels(capture.store, options_for(out, force));
      ASSERT_TRUE(report.ok()) << errors_of(report);
      EXPECT_EQ(report.paths_refused, 1u);
      EXPECT_TRUE(entries(sandbox / "elsewhere").empty());
      EXPECT_TRUE(fs::is_symlink(out + "/" + c.link));
      EXPECT_EQ(report.files_written, c.written.size());
      for (const auto& path : c.written) EXPECT_TRUE(fs::is_regular_file(out + "/" + kCarousel + "/" + path)) << path;
    }
  }
}

// A file that cannot be written to its end (here: the process file size limit standing in for a full
// disk) leaves neither a partial file nor a temporary; the files before it stay complete and nothing
// after it is written.
TEST(SaveObjectCarousel, WriteFailureMidFileLeavesNoPartialFile) {
  Capture capture;
  OcCarousel oc(1);
  oc.add_file(oc.gateway(), "small.txt", text_bytes("small"), 1);
  oc.add_file(oc.gateway(), "huge.bin", pattern_bytes(120000, 7), 2);
  oc.add_file(oc.gateway(), "after.txt", text_bytes("after"), 1);
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  const std::string out = sandbox / "out";
  SaveReport report;
  {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 65536;
    auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    report = save_object_carousels(capture.store, options_for(out));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, old_handler);
  }
  ASSERT_FALSE(report.ok());
  EXPECT_NE(report.errors.front().find("cannot write " + out + "/" + kCarousel + "/huge.bin"),
            std::string::npos)
      << report.errors.front();
  auto expected = carousel_dirs();
  expected[kCarousel + "/small.txt"] = "small";
  EXPECT_EQ(snapshot(out), expected);
  EXPECT_EQ(report.files_written, 1u);
  EXPECT_EQ(report.bytes_written, 5u);
}

TEST(SaveObjectCarousel, DirectoriesBelowTheDepthLimitAreLeftOut) {
  Capture capture;
  OcCarousel oc(1);
  auto at = oc.gateway();
  for (size_t level = 1; level <= kMaxSaveDepth + 2; ++level) {
    at = oc.add_directory(at, "d", 1);
    oc.add_file(at, "f", text_bytes(std::to_string(level)), 1);
  }
  capture.feed_all(kPid, oc.sections());
  capture.rebuild();

  ScratchDir sandbox;
  SaveReport report = save_object_carousels(capture.store, options_for(sandbox / "out"));
  ASSERT_TRUE(report.ok()) << errors_of(report);
  auto expected = carousel_dirs();
  std::string path = kCarousel;
  for (size_t level = 1; level <= kMaxSaveDepth; ++level) {
    path += "/d";
    expected[path] = kDir;
    expected[path + "/f"] = std::to_string(level);
  }
  expected[kCarousel + "/missing.txt"] = "";
  EXPECT_EQ(snapshot(sandbox / "out"), expected);
  EXPECT_EQ(report.directories_too_deep, 1u);  // its own child goes with it
  EXPECT_EQ(report.files_written, kMaxSaveDepth);
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings.front().find("deeper than 128 levels"), std::string::npos);
}

TEST(SaveDataCarousel, ModuleImagesAndTheirListing) {
  Capture capture;
  OcCarousel oc(0x20);
  oc.add_file(oc.gateway(), "a.txt", text_bytes("alpha"), 1);
  oc.add_file(oc.gateway(), "b.bin", pattern_bytes(1500, 2), 2);
  oc.add_file(oc.gateway(), "c.txt", text_bytes(std::string(3000, 'c')), 3);
  oc.set_compressed(3);
  capture.feed(kPid, oc.dsi_section());
  capture.feed(kPid, oc.dii_section());
  const auto sent = oc.module_images();
  const auto plain = oc.plain_module_images();
  std::map<uint16_t, size_t> block_count;
  for (const auto& [moduleId, image] : sent) {
    auto blocks = testsupport::module_sections(0x20, moduleId, image, 512);
    block_count[moduleId] = blocks.size();
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (moduleId == 2 && i == 1) continue;
      capture.feed(kPid, blocks[i]);
    }
  }
  // A download group of blocks alone, without DSI or DII.
  const auto lone = pattern_bytes(100, 9);
  capture.feed_all(kPid, testsupport::module_sections(0x30, 7, lone));
  capture.rebuild();
  ASSERT_GT(block_count[2], 2u);
  ASSERT_NE(sent.at(3), plain.at(3));  // module 3 travels compressed

  ScratchDir sandbox;
  const std::string out = sandbox / "out";
  SaveReport report = save_data_carousels(capture.store, options_for(out));
  ASSERT_TRUE(report.ok()) << errors_of(report);

  auto line = [](uint16_t id, size_t size, size_t received, size_t expected, const std::string& tail) {
    char text[160];
    std::snprintf(text, sizeof text, "  module 0x%04x (%u) size %zu sections %zu/%zu: ", id, id, size,
                  received, expected);
    return text + tail + "\n";
  };
  const std::string group = "data/prg-0x0001/download-0x00000020";
  const std::string lone_group = "data/prg-0x0001/download-0x00000030";
  std::map<std::string, std::string> expected = {
      {"data", kDir},
      {"data/prg-0x0001", kDir},
      {group, kDir},
      {group + "/module-0x0001.bin", save_test::as_text(plain.at(1))},
      {group + "/module-0x0003.bin", save_test::as_text(plain.at(3))},
      {group + "/modules.txt",
       "downloadId 0x00000020 (32)\n"
       "DII table_id_extension 0x0002: 3 modules\n" +
           line(1, sent.at(1).size(), block_count[1], block_count[1],
                "module-0x0001.bin, " + std::to_string(plain.at(1).size()) + " bytes") +
           line(2, sent.at(2).size(), block_count[2] - 1, block_count[2], "not complete, not saved") +
           line(3, sent.at(3).size(), block_count[3], block_count[3],
                "module-0x0003.bin, " + std::to_string(plain.at(3).size()) + " bytes")},
      {group + "/missing.txt", "module-0x0002.bin\tnot complete: " + std::to_string(block_count[2] - 1) + " of " +
                                   std::to_string(block_count[2]) + " blocks of moduleVersion 0 received\n"},
      {lone_group, kDir},
      {lone_group + "/module-0x0007.bin", save_test::as_text(lone)},
      {lone_group + "/modules.txt",
       "downloadId 0x00000030 (48)\n"
       "Saved modules that no stored DII announces:\n"
       "  module 0x0007 (7): module-0x0007.bin, 100 bytes\n"},
      {lone_group + "/missing.txt", ""},
  };
  EXPECT_EQ(snapshot(out), expected);
  EXPECT_EQ(report.download_groups, 2u);
  EXPECT_EQ(report.modules_written, 3u);
  EXPECT_EQ(report.modules_not_complete, 1u);
  EXPECT_EQ(report.bytes_written, plain.at(1).size() + plain.at(3).size() + 100);
  EXPECT_EQ(report.files_written, 0u);
}

TEST(SaveCarousels, TargetThatCannotBeCreatedIsAnError) {
  Capture capture;
  ScratchDir sandbox;
  const std::string out = sandbox / "no/such/parent";
  SaveReport report = save_carousels(capture.store, options_for(out));
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.errors.front(), "cannot create directory " + out + ": No such file or directory");
  EXPECT_TRUE(entries(sandbox.path()).empty());
}

TEST(SaveSummary, OneParagraphWithWhatWasWrittenAndWhatIsMissing) {
  SaveReport full;
  full.dir = "out";
  full.object_carousels = 1;
  full.files_written = 4;
  full.download_groups = 2;
  full.modules_written = 1;
  full.bytes_written = 9535;
  full.objects_not_available = 1;
  full.modules_not_complete = 2;
  full.existing_kept = 3;
  full.names_escaped = 1;
  full.names_suffixed = 2;
  full.warnings = {"the walk stopped early"};
  EXPECT_EQ(
      format_save_summary(full),
      "Saved to out: 4 files of 1 object carousel, 1 module image of 2 download groups, 9535 bytes in "
      "all. 1 object not available (listed in missing.txt). 2 modules not complete (listed in "
      "missing.txt). 3 existing files kept as they were (force replaces them). 1 name from the broadcast "
      "written escaped (listed in renamed.txt). 2 names given a suffix against a collision (listed in "
      "renamed.txt). Note: the walk stopped early.");
  SaveReport stopped;
  stopped.dir = "/tmp/x";
  stopped.files_written = 1;
  stopped.bytes_written = 1;
  stopped.errors = {"cannot write /tmp/x/a: No space left on device"};
  EXPECT_EQ(format_save_summary(stopped),
            "Save to /tmp/x stopped: cannot write /tmp/x/a: No space left on device. Written before that: 1 "
            "file of 0 object carousels, 0 module images of 0 download groups, 1 byte in all.");
}

}  // namespace
