// Inputs that would make the analyzer's work or memory grow without bound: a module that inflates to
// far more than any carousel holds, and a live source whose content never repeats. Each is cut at its
// limit with one log line, and the rest of the work goes on.
#include <gtest/gtest.h>
#include <zlib.h>

#include "carousel/object_carousel.h"
#include "store/section_intake.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/helpers.h"
#include "tests/support/oc_builder.h"
#include "tests/support/store_capture.h"

namespace {

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kCarousel = 0x10;

// A zlib stream of `mib` MiB of zero bytes, made without deflating them all: after a full flush every
// MiB deflates to the same bytes, which are repeated. The trailer is the Adler-32 of n zero bytes,
// (n mod 65521) << 16 | 1.
Bytes deflated_zeros(size_t mib) {
  z_stream s{};
  deflateInit(&s, Z_BEST_COMPRESSION);
  const Bytes zeros(size_t{1} << 20, 0);
  auto step = [&](size_t n, int flush) {
    Bytes out(size_t{1} << 20);
    s.next_in = const_cast<Bytef*>(zeros.data());
    s.avail_in = static_cast<uInt>(n);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, flush);
    out.resize(out.size() - s.avail_out);
    return out;
  };
  Bytes stream = step(zeros.size(), Z_FULL_FLUSH);
  const Bytes repeat = step(zeros.size(), Z_FULL_FLUSH);
  Bytes tail = step(0, Z_FINISH);
  deflateEnd(&s);
  for (size_t i = 1; i < mib; ++i) stream.insert(stream.end(), repeat.begin(), repeat.end());
  const uint32_t adler = static_cast<uint32_t>((static_cast<uint64_t>(mib) << 20) % 65521) << 16 | 1u;
  for (size_t i = 0; i < 4; ++i) tail[tail.size() - 4 + i] = static_cast<uint8_t>(adler >> (24 - 8 * i));
  stream.insert(stream.end(), tail.begin(), tail.end());
  return stream;
}

TEST(Blowups, ModuleInflatingPastTheLimitStaysCompressedAndTheCarouselIsStillBuilt) {
  ts::LogCapture log;
  const Bytes bomb = deflated_zeros(300);  // 300 MB of zeros, about 300 KB on the wire
  ts::OcCarousel oc(kCarousel);
  oc.add_file(oc.gateway(), "small.txt", ts::text_bytes("hello"), 1);
  oc.add_file(oc.gateway(), "big.bin", ts::text_bytes("never seen"), 2);
  ts::StoreCapture capture;
  capture.feed(0x100, oc.dsi_section());
  capture.feed(0x100, oc.dii_section());
  capture.feed_all(0x100, ts::module_sections(kCarousel, 1, oc.module_images().at(1)));
  capture.feed_all(0x100, ts::module_sections(kCarousel, 2, bomb));
  const carousel::CarouselModel model = carousel::rebuild_carousels(capture.store);
  const carousel::ObjectCarousel& carousel = model.programs.at(1).object_carousels.at(kCarousel);
  EXPECT_EQ(carousel.modules.at(2), bomb);
  EXPECT_EQ(log.count_containing("limit"), 1u) << log.dump();
  EXPECT_EQ(log.count_containing("unexpected inflate error, err="), 1u);
  // The other module's objects are all there; the bomb's file is not.
  ASSERT_EQ(carousel.files.size(), 1u);
  EXPECT_EQ(std::string(carousel.files.begin()->second.content.begin(), carousel.files.begin()->second.content.end()), "hello");
}

// A block of a module that changes all the time: every section is new to the store.
Bytes changing_block(uint16_t moduleId, uint8_t number) {
  ts::SectionSpec desc;
  desc.section_number = number;
  desc.last_section_number = 255;
  return ts::ddb_section(ts::block(kCarousel, moduleId, number, ts::pattern_bytes(1000, number)), desc);
}

TEST(Blowups, StorePastItsByteLimitDropsNewSectionsWithOneLineAndTheNextCaptureStartsAfresh) {
  ts::LogCapture log;
  ts::StoreCapture capture;
  const size_t size = changing_block(1, 0).size();
  capture.intake.set_store_byte_limit(10 * size + 1);
  for (uint16_t module = 1; module <= 3; ++module)
    for (uint8_t n = 0; n < 20; ++n) capture.feed(0x100, changing_block(module, n));
  // Ten blocks fit under the limit; the eleventh passes it, after which nothing more is kept.
  EXPECT_EQ(capture.counters.ddb_count.load(), 11);
  EXPECT_EQ(capture.intake.stored_section_bytes(), 11 * size);
  ts::OcCarousel oc(kCarousel);
  capture.feed(0x100, oc.dsi_section());
  capture.feed(0x100, oc.dii_section());
  EXPECT_EQ(capture.counts(), (std::array<int, 3>{0, 0, 11}));
  EXPECT_EQ(log.count_containing("limit"), 1u) << log.dump();
  capture.intake.clear_store();
  capture.intake.start_programs();
  capture.counters.reset();
  capture.feed(0x100, oc.dsi_section());
  for (uint8_t n = 0; n < 12; ++n) capture.feed(0x100, changing_block(4, n));
  EXPECT_EQ(capture.counts(), (std::array<int, 3>{1, 0, 10}));
  EXPECT_EQ(log.count_containing("limit"), 2u);
  // A section filed under two programmes counts twice against the limit; a repeat adds nothing.
  ts::StoreCapture two({{1, 0x100}, {2, 0x100}});
  two.feed(0x100, changing_block(1, 0));
  two.feed(0x100, changing_block(1, 0));
  EXPECT_EQ(two.intake.stored_section_bytes(), 2 * size);
}

}  // namespace
