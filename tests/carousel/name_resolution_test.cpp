// Name resolution over built carousels: what build_tree reports, in which order, and what it cuts.
#include <gtest/gtest.h>
#include <pthread.h>

#include "carousel/object_carousel.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

using carousel_test::Capture;
using carousel_test::LogCapture;
using carousel_test::rebuild_outline;
using testsupport::OcCarousel;
using testsupport::text_bytes;

constexpr uint32_t kPid = 0x100;

TEST(BuildTree, DirectoriesWithSubtreesThenFilesInBindingOrder) {
  LogCapture log;
  Capture capture;
  OcCarousel oc(1);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(oc.gateway(), "index.html", text_bytes(std::string(120, 'x')), 2);
  auto lib = oc.add_directory(apps, "lib", 2);
  oc.add_file(apps, "main.js", text_bytes("run()"), 1);
  oc.add_file(lib, "util.js", text_bytes("u"), 2);
  oc.add_directory(oc.gateway(), "empty", 1);
  capture.feed_all(kPid, oc.sections());

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n"
            "      dir apps\n"
            "        dir lib\n"
            "          fil util.js 1\n"
            "        fil main.js 5\n"
            "      dir empty\n"
            "      fil index.html 120\n");
  EXPECT_TRUE(log.has(4, "CObjectCarouselDlg::build_tree()"));
  EXPECT_TRUE(log.has(4, "root key: carousel_id=0x00000001 module_id=0x00000001 key=00000001"));
  EXPECT_TRUE(log.has(4, "resolving 2 directories"));
  EXPECT_TRUE(log.has(4, "adding directory: apps"));
  EXPECT_FALSE(log.has(4, "adding directory: lib"));  // logged at the top level only
}

// A directory bound from two parents shows under both; a binding back to a directory on the way down
// (an ancestor or the directory itself) is cut, one bound elsewhere is not.
TEST(BuildTree, SharedAndCyclicBindings) {
  LogCapture log;
  Capture capture;
  OcCarousel oc(1);
  auto a = oc.add_directory(oc.gateway(), "a", 1);
  auto b = oc.add_directory(oc.gateway(), "b", 1);
  auto shared = oc.add_directory(a, "shared", 1);
  oc.bind(b, "again", shared);
  oc.bind(shared, "up", a);
  oc.bind(shared, "self", shared);
  oc.add_file(shared, "f", text_bytes("12"), 1);
  capture.feed_all(kPid, oc.sections());

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n"
            "      dir a\n"
            "        dir shared\n"
            "          fil f 2\n"
            "      dir b\n"
            "        dir again\n"
            "          dir up\n"
            "          fil f 2\n");
  EXPECT_EQ(log.count(4, "object key already processed"), 4u);
}

TEST(BuildTree, MissingObjects) {
  LogCapture log;
  Capture capture;
  OcCarousel oc(1);
  auto dir = oc.add_directory(oc.gateway(), "d", 1);
  oc.bind_missing(oc.gateway(), "ghost", "dir", 1, {0x7F});
  oc.bind_missing(dir, "lost.txt", "fil", 1, {0x7E});
  // A file in a module that never completes.
  oc.add_file(oc.gateway(), "late.bin", testsupport::pattern_bytes(100), 2);
  auto sections = oc.sections(40);
  capture.feed_all(kPid, {sections.begin(), sections.end() - 1});  // module 2 loses its last block

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n"
            "      dir d\n"
            "        fil lost.txt n/a\n"
            "      dir ghost\n"
            "      fil late.bin n/a\n");
  EXPECT_EQ(log.count(2, "not found"), 1u);
  EXPECT_EQ(log.count(2, "module not complete"), 1u);
}

TEST(BuildTree, ReferencesDifferingOnlyInCarouselIdAreOneObject) {
  Capture capture;
  OcCarousel oc(1);
  auto d = oc.add_directory(oc.gateway(), "d", 1);
  auto f = oc.add_file(d, "f", text_bytes("abc"), 1);
  oc.bind(oc.gateway(), "alias", f, 0x99);
  oc.bind(oc.gateway(), "dalias", d, 0x98);
  capture.feed_all(kPid, oc.sections());

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n"
            "      dir d\n"
            "        fil f 3\n"
            "      dir dalias\n"
            "        fil f 3\n"
            "      fil alias 3\n");
}

TEST(BuildTree, GatewayWithEmptyKeyGivesACarouselWithoutChildren) {
  LogCapture log;
  Capture capture;
  OcCarousel oc(1);
  oc.add_file(oc.gateway(), "f", text_bytes("abc"), 1);
  oc.set_empty_gateway_key();
  capture.feed_all(kPid, oc.sections());

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n");
  EXPECT_TRUE(log.has(4, "resolving 0 directories"));
  EXPECT_TRUE(log.has(4, "resolving 0 files"));
  EXPECT_TRUE(log.has(4, "root key: carousel_id=0x00000001 module_id=0x00000001 key="));
}

TEST(BuildTree, CarouselWithoutGatewayDsiHasNoNode) {
  LogCapture log;
  Capture capture({{1, kPid}, {2, 0x200}});
  OcCarousel oc(0x42);
  oc.add_file(oc.gateway(), "f", text_bytes("abc"), 1);
  capture.feed_all(kPid, oc.ddb_sections());  // blocks only, as in a data carousel

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "  prg 2\n");
  EXPECT_TRUE(log.has(2, "OC 0x42 not found"));
  EXPECT_TRUE(log.has(4, "0 DSI sections"));
}

TEST(BuildTree, DataCarouselDsiIsNotIndexed) {
  LogCapture log;
  Capture capture;
  testsupport::DsiSpec dsi;
  // A GroupInfoIndication where a ServiceGatewayInfo would be: no BIOP profile body in it.
  dsi.private_data = {0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  capture.feed(kPid, testsupport::dsi_section(dsi));
  merge_programme_index(capture.store);
  EXPECT_TRUE(capture.program().gateway_dsis.empty());
  EXPECT_EQ(log.count(2, "No biopprofilebody in servicegatewayinfo"), 1u);
}

TEST(BuildTree, ProgrammesAndCarouselsInAscendingOrder) {
  // Programme 3 carries two carousels, each on a PID of its own.
  Capture capture({{3, kPid}, {3, 0x300}, {1, 0x200}});
  OcCarousel first(0x20);
  first.add_file(first.gateway(), "x", text_bytes("1"), 1);
  OcCarousel second(0x10);
  second.add_file(second.gateway(), "y", text_bytes("22"), 1);
  capture.feed_all(kPid, first.sections());
  capture.feed_all(0x300, second.sections());
  // Programme 1 has the same downloadId as programme 3's first carousel on its own PID.
  capture.feed_all(0x200, first.sections());

  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x20\n"
            "      fil x 1\n"
            "  prg 3\n"
            "    oc 0x10\n"
            "      fil y 2\n"
            "    oc 0x20\n"
            "      fil x 1\n");
}

TEST(BuildTree, StreamBindingsAreDropped) {
  Capture capture;
  OcCarousel oc(1);
  oc.add_stream(oc.gateway(), "events", 1, true);
  oc.add_stream(oc.gateway(), "video", 1, false);
  oc.add_file(oc.gateway(), "f", text_bytes("1"), 1);
  capture.feed_all(kPid, oc.sections());
  EXPECT_EQ(rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x1\n"
            "      fil f 1\n");
}

// ---- The node limit ---------------------------------------------------------------------------------

// Directories d1..dN where each binds the next twice: the walk doubles at every level.
OcCarousel doubling_carousel(int levels) {
  OcCarousel oc(1);
  auto previous = oc.add_directory(oc.gateway(), "d1", 1);
  for (int i = 2; i <= levels; ++i) {
    auto next = oc.add_directory(previous, "d" + std::to_string(i), 1);
    oc.bind(previous, "again" + std::to_string(i), next);
    previous = next;
  }
  oc.add_file(previous, "leaf", text_bytes("!"), 1);
  return oc;
}

TEST(BuildTree, NodeLimitStopsTheWalkWithOneFailureLine) {
  LogCapture log;
  Capture capture;
  capture.feed_all(kPid, doubling_carousel(30).sections());
  merge_programme_index(capture.store);
  carousel_test::RecordingSink sink;
  rebuild_object_carousels(capture.store, sink, 500);
  EXPECT_EQ(sink.node_count(), 500u);
  EXPECT_EQ(log.count_containing("tree node limit of 500 reached"), 1u);
  EXPECT_EQ(log.count_containing("<1> - tree node limit"), 1u);
}

// Runs `work` on a thread whose stack holds 256 KiB, far less than a walk that recursed once per
// directory level would need for thousands of levels.
void on_small_stack(void (*work)(void*), void* arg) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, size_t{256} << 10);
  struct Call {
    void (*work)(void*);
    void* arg;
  } call{work, arg};
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* c = static_cast<Call*>(p);
                  c->work(c->arg);
                  return nullptr;
                },
                &call),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

TEST(BuildTree, DeepNestingDoesNotExhaustTheStack) {
  Capture capture;
  OcCarousel oc(1);
  auto previous = oc.gateway();
  for (int i = 0; i < 6000; ++i)
    previous = oc.add_directory(previous, "n", static_cast<uint16_t>(1 + i / 2000));
  capture.feed_all(kPid, oc.sections());
  merge_programme_index(capture.store);
  save_modules_to_memory(capture.store);
  parse_OC_modules(capture.store);

  struct Walk {
    CarouselStore* store;
    carousel_test::CountingSink sink;
  } walk{&capture.store, {}};
  on_small_stack(
      [](void* p) {
        auto* w = static_cast<Walk*>(p);
        build_tree(*w->store, w->sink);
      },
      &walk);
  EXPECT_EQ(walk.sink.nodes, 3u + 6000);
  EXPECT_EQ(walk.sink.max_depth, 3u + 6000);
}

}  // namespace
