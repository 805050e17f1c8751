// Inputs that would make the analyzer's work or memory grow without bound: a module that inflates to
// far more than any carousel holds, directories that bind each other so that the name walk would go
// on for ever, and a live source whose content never repeats. Each is cut at its limit with a log
// line, and the rest of the work goes on.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "store/section_intake.h"
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel.h"
#include "carousel/object_carousel_dlg.h"
#include "inspector/section_dlg.h"
#include "log/debug_log.h"
#include "resources/resources.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/oc_builder.h"

namespace {

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPid = 0x100;
constexpr uint32_t kCarousel = 0x10;

// The process log on a file of this test, read back line by line ("<level> - text").
class Log {
 public:
  Log() : path_(testing::TempDir() + "dsmcc-blowup-" + std::to_string(::getpid()) + ".txt") {
    g_log.close();
    EXPECT_EQ(g_log.init(path_.c_str(), CDebugLog::OPT_FILE, CDebugLog::PFX_LEVEL, 4), 0);
  }
  ~Log() {
    g_log.close();
    std::remove(path_.c_str());
  }
  // Lines of this level whose text contains `part`.
  size_t count(int level, const std::string& part) const {
    g_log.flush();
    std::ifstream in(path_);
    const std::string prefix = "<" + std::to_string(level) + "> - ";
    size_t n = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) == 0 && line.find(part, prefix.size()) != std::string::npos) ++n;
    }
    return n;
  }

 private:
  std::string path_;
};

// A capture of one programme on one PID, fed section by section through the intake.
struct Capture {
  Capture() {
    store.pid_map[1].insert(kPid);
    intake.start_programs();
  }
  void feed(const Bytes& section) { intake.dispatch_section(kPid, section); }

  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake{store, counters};
};

// Counts what build_tree reports, and the files it names.
class CountingSink : public ObjectCarouselSink {
 public:
  Node root_node() override { return ++nodes; }
  Node programme_node(Node, uint32_t) override { return ++nodes; }
  Node carousel_node(Node, uint32_t) override { return ++nodes; }
  Node directory_node(Node, const std::string&) override { return ++nodes; }
  Node file_node(Node, const std::string& id, const FileRecord* file) override {
    files.push_back(id + (file ? "=" + std::string(file->content.begin(), file->content.end()) : " n/a"));
    return ++nodes;
  }
  size_t nodes = 0;
  std::vector<std::string> files;
};

// ---- A zlib bomb -----------------------------------------------------------------------------------

// A zlib stream of `mib` MiB of zero bytes, made without deflating them all: a full flush resets the
// compressor's window, so every MiB after the first deflates to the same bytes, which are repeated.
// The trailer carries the Adler-32 of the whole: for n zero bytes, (n mod 65521) << 16 | 1.
Bytes deflated_zeros(size_t mib) {
  z_stream s{};
  EXPECT_EQ(deflateInit(&s, Z_BEST_COMPRESSION), Z_OK);
  const Bytes zeros(size_t{1} << 20, 0);
  auto step = [&](size_t n, int flush) {
    Bytes out;
    Bytes buffer(1 << 16);
    s.next_in = const_cast<Bytef*>(zeros.data());
    s.avail_in = static_cast<uInt>(n);
    do {
      s.next_out = buffer.data();
      s.avail_out = static_cast<uInt>(buffer.size());
      deflate(&s, flush);
      out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - s.avail_out));
    } while (s.avail_out == 0);
    return out;
  };
  Bytes stream = step(zeros.size(), Z_FULL_FLUSH);
  const Bytes repeat = step(zeros.size(), Z_FULL_FLUSH);
  EXPECT_EQ(step(zeros.size(), Z_FULL_FLUSH), repeat);
  Bytes tail = step(0, Z_FINISH);
  deflateEnd(&s);
  for (size_t i = 1; i < mib; ++i) stream.insert(stream.end(), repeat.begin(), repeat.end());
  const uint64_t total = static_cast<uint64_t>(mib) << 20;
  const uint32_t adler = static_cast<uint32_t>(total % 65521) << 16 | 1u;
  for (size_t i = 0; i < 4; ++i) tail[tail.size() - 4 + i] = static_cast<uint8_t>(adler >> (24 - 8 * i));
  stream.insert(stream.end(), tail.begin(), tail.end());
  return stream;
}

TEST(Blowups, ModuleInflatingPastTheLimitStaysCompressedAndTheCarouselIsStillBuilt) {
  Log log;
  // 300 MB of zeros, about 300 KB on the wire: 75 blocks of a module that the DII announces like
  // any other.
  const Bytes bomb = deflated_zeros(300);
  ASSERT_LT(bomb.size(), size_t{400} << 10);

  ts::OcCarousel oc(kCarousel);
  oc.add_file(oc.gateway(), "small.txt", ts::text_bytes("hello"), 1);
  oc.add_file(oc.gateway(), "big.bin", ts::text_bytes("never seen"), 2);
  Capture capture;
  capture.feed(oc.dsi_section());
  capture.feed(oc.dii_section());
  for (const auto& section : ts::module_sections(kCarousel, 1, oc.module_images().at(1))) capture.feed(section);
  for (const auto& section : ts::module_sections(kCarousel, 2, bomb)) capture.feed(section);
  ASSERT_EQ(capture.counters.ddb_count.load(), 1 + static_cast<int32_t>((bomb.size() + 4065) / 4066));

  CountingSink sink;
  const CarouselModel model = rebuild_carousels(capture.store);
  build_tree(model, sink);

  // The module is left as it came, the failure said twice: why, and as the inflate error it is.
  const ObjectCarousel& carousel = model.programs.at(1).object_carousels.at(kCarousel);
  EXPECT_EQ(carousel.modules.at(2), bomb);
  EXPECT_EQ(log.count(1, "limit"), 1u);
  EXPECT_EQ(log.count(4, "unexpected inflate error, err="), 1u);
  // The other module's objects are all there; the bomb's file is not available.
  EXPECT_EQ(sink.files, (std::vector<std::string>{"small.txt=hello", "big.bin n/a"}));
}

// ---- Directories that bind each other ------------------------------------------------------------

// A chain of 24 directories below the gateway, each bound twice from the one above it: the walk
// meets 2^24 copies of the last one, and about twice as many nodes in all.
ts::OcCarousel doubling_carousel() {
  ts::OcCarousel oc(kCarousel);
  auto dir = oc.add_directory(oc.gateway(), "top", 1);
  for (int level = 0; level < 24; ++level) {
    auto next = oc.add_directory(dir, "a", 1);
    oc.bind(dir, "b", next);
    dir = next;
  }
  oc.add_file(dir, "leaf", ts::text_bytes("x"), 1);
  return oc;
}

void feed_carousel(Capture& capture, const ts::OcCarousel& oc) {
  for (const auto& section : oc.sections()) capture.feed(section);
}

TEST(Blowups, DirectoriesBindingEachOtherStopTheTreeAtTheNodeLimit) {
  Log log;
  Capture capture;
  feed_carousel(capture, doubling_carousel());
  const CarouselModel model = rebuild_carousels(capture.store);  // the default limit: a million nodes
  EXPECT_EQ(model.object_tree.nodes.size(), kMaxTreeNodes);
  EXPECT_EQ(log.count(1, "limit"), 1u);
}

TEST(Blowups, PageStopsGrowingAtItsLimitWhileTheOtherPagesAreBuilt) {
  Log log;
  Capture capture;
  feed_carousel(capture, doubling_carousel());

  ui::Dialog window{resources::DIALOG_ANALYSIS};
  CSectionDlg section_page(&capture.store, &window);
  CDataCarouselDlg data_page(&window);
  CObjectCarouselDlg object_page(&window);
  section_page.create(window);
  data_page.create(window);
  object_page.create(window);

  section_page.clear();
  data_page.clear();
  object_page.clear();
  section_page.rebuild();
  CarouselLimits limits;
  limits.node_limit = 5000;
  const CarouselModel model = rebuild_carousels(capture.store, limits);
  data_page.rebuild(model);
  object_page.rebuild(model);

  EXPECT_EQ(object_page.tree_view()->node_count(), 5000u);
  EXPECT_EQ(log.count(1, "limit"), 1u);
  // The data carousel page lists the carousel's module, the section page its messages.
  ASSERT_NE(data_page.root(), nullptr);
  EXPECT_GT(data_page.tree_view()->node_count(), 3u);
  ASSERT_NE(section_page.root(), nullptr);
  EXPECT_GT(section_page.root()->child_count(), 0u);
}

TEST(Blowups, DataCarouselPageStopsAtItsLimitWithOneLine) {
  Log log;
  Capture capture;
  // DIIs of many download groups, each announcing many modules: every module is a node.
  for (uint32_t group = 0; group < 4; ++group) {
    ts::DiiSpec dii;
    dii.downloadId = 0x100 + group;
    dii.header.transactionId = 0x80000000 + group;
    for (uint16_t m = 0; m < 300; ++m) dii.modules.push_back({m, 4066, 0, {}, {}});
    ts::SectionSpec section;
    section.table_id_extension = static_cast<uint16_t>(group);
    capture.feed(ts::dii_section(dii, section));
    // The page lists the modules of a group that has blocks: one block of one module will do.
    capture.feed(ts::ddb_section(ts::block(dii.downloadId, 0, 0, {1, 2, 3})));
  }
  ASSERT_EQ(capture.counters.dii_count.load(), 4);

  ui::Dialog window{resources::DIALOG_ANALYSIS};
  CDataCarouselDlg page(&window);
  page.create(window);
  page.clear();
  CarouselLimits limits;
  limits.node_limit = 500;
  page.rebuild(rebuild_carousels(capture.store, limits));
  EXPECT_EQ(page.tree_view()->node_count(), 500u);
  EXPECT_EQ(log.count(1, "limit"), 1u);

  // A rebuild with room for everything shows every group and module.
  page.rebuild(rebuild_carousels(capture.store));
  EXPECT_GT(page.tree_view()->node_count(), 4u * 300u);
}

// ---- A store that would grow without end -----------------------------------------------------------

// A block of a module that changes all the time: every section is new to the store.
Bytes changing_block(uint16_t moduleId, uint8_t number) {
  ts::SectionSpec desc;
  desc.section_number = number;
  desc.last_section_number = 255;
  return ts::ddb_section(ts::block(kCarousel, moduleId, number, ts::pattern_bytes(1000, number)), desc);
}

TEST(Blowups, StorePastItsByteLimitDropsNewSectionsWithOneLineAndTheCaptureGoesOn) {
  Log log;
  Capture capture;
  const size_t section_size = changing_block(1, 0).size();  // every block has the same size
  capture.intake.set_store_byte_limit(10 * section_size + 1);

  for (uint16_t module = 1; module <= 3; ++module) {
    for (uint8_t n = 0; n < 20; ++n) capture.feed(changing_block(module, n));
  }
  // Ten blocks fit under the limit; the eleventh passes it, after which nothing more is kept.
  EXPECT_EQ(capture.counters.ddb_count.load(), 11);
  EXPECT_EQ(capture.intake.stored_section_bytes(), 11 * section_size);
  EXPECT_EQ(log.count(1, "limit"), 1u);
  const auto& modules = capture.store.programs.at(1).pids.at(static_cast<int32_t>(kPid))->ddb.at(kCarousel);
  EXPECT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules.at(1).size(), 11u);

  // Control messages are dropped the same way, and the capture goes on without a further line.
  ts::OcCarousel oc(kCarousel);
  capture.feed(oc.dsi_section());
  capture.feed(oc.dii_section());
  EXPECT_EQ(capture.counters.dsi_count.load(), 0);
  EXPECT_EQ(capture.counters.dii_count.load(), 0);
  EXPECT_EQ(log.count(1, "limit"), 1u);

  // The next capture starts with an empty store and the whole limit.
  capture.intake.clear_store();
  capture.intake.start_programs();
  capture.counters.reset();
  EXPECT_EQ(capture.intake.stored_section_bytes(), 0u);
  capture.feed(oc.dsi_section());
  for (uint8_t n = 0; n < 12; ++n) capture.feed(changing_block(4, n));
  EXPECT_EQ(capture.counters.dsi_count.load(), 1);
  EXPECT_EQ(capture.counters.ddb_count.load(), 10);
  EXPECT_EQ(log.count(1, "limit"), 2u);
}

TEST(Blowups, SectionFiledUnderTwoProgrammesCountsTwiceAgainstTheLimit) {
  CarouselStore store;
  CaptureCounters counters;
  SectionIntake intake(store, counters);
  store.pid_map[1].insert(kPid);
  store.pid_map[2].insert(kPid);
  intake.start_programs();
  const Bytes block = changing_block(1, 0);
  intake.dispatch_section(kPid, block);
  intake.dispatch_section(kPid, block);  // a repeat: nothing new
  EXPECT_EQ(intake.stored_section_bytes(), 2 * block.size());
  EXPECT_EQ(counters.ddb_count.load(), 2);
}

}  // namespace
