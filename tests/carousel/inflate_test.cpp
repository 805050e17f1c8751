// Inflation of zlib-compressed module images.
#include <gtest/gtest.h>

#include "carousel/object_carousel.h"
#include "tests/carousel/carousel_fixture.h"
#include "tests/support/oc_builder.h"

namespace {

using carousel_test::Capture;
using carousel_test::LogCapture;
using testsupport::ByteVec;

// Only the divisible-by-31 test decides whether an image goes to zlib (none of these is a whole zlib
// stream, so each attempt fails and the image stays as it was).
TEST(Inflate, DecidesByTheDivisibleBy31TestAlone) {
  const std::vector<std::pair<ByteVec, bool>> cases = {
      {{'B', 'I', 'O', 'P', 1, 0}, false}, {{0x78}, false}, {{0x78, 0x01, 0xFF, 0xFF, 0xFF}, true},
      {{0x00, 0x00, 0x12, 0x34}, true},  // no deflate method at all, but 0x0000 is divisible by 31
      {{0x78, 0x9D, 0x01}, false},
  };
  for (const auto& [original, tried] : cases) {
    SCOPED_TRACE(testing::PrintToString(original));
    LogCapture log;
    ByteVec image = original;
    EXPECT_FALSE(inflate_module_image(image, 1));
    EXPECT_EQ(image, original);
    EXPECT_EQ(log.count_containing("unexpected inflate error") > 0, tried);
  }
}

TEST(Inflate, OutputOverManySteps) {
  // 50000 bytes come out in 8192-byte steps; the result must be the whole original in order.
  ByteVec original = testsupport::pattern_bytes(50000, 1);
  ByteVec image = testsupport::zlib_compress(original);
  ASSERT_LT(image.size(), original.size());
  EXPECT_TRUE(inflate_module_image(image, 1));
  EXPECT_EQ(image, original);
}

TEST(Inflate, StreamCutShortKeepsTheImage) {
  LogCapture log;
  ByteVec image = testsupport::zlib_compress(testsupport::pattern_bytes(30000, 2));
  image.resize(image.size() / 2);
  ByteVec before = image;
  EXPECT_FALSE(inflate_module_image(image, 1));
  EXPECT_EQ(image, before);
  EXPECT_TRUE(log.has(4, "unexpected inflate error, err=-5"));
}

TEST(Inflate, OutputPastTheLimitIsAnInflateError) {
  LogCapture log;
  ByteVec image = testsupport::zlib_compress(ByteVec(size_t{2} << 20, 0));
  ByteVec before = image;
  EXPECT_FALSE(inflate_module_image(image, 7, size_t{1} << 20));
  EXPECT_EQ(image, before);
  EXPECT_EQ(log.count_containing("inflates past the limit of 1 MiB"), 1u);
  EXPECT_EQ(log.lines().front().rfind("<1> - ", 0), 0u);
  EXPECT_TRUE(log.has(4, "unexpected inflate error, err=-4"));

  ByteVec original(size_t{1} << 20, 0x5A);  // exactly at the limit: kept
  image = testsupport::zlib_compress(original);
  EXPECT_TRUE(inflate_module_image(image, 7, size_t{1} << 20));
  EXPECT_EQ(image, original);
}

TEST(Inflate, CompressedCarouselModuleIsParsedAfterInflation) {
  LogCapture log;
  Capture capture;
  testsupport::OcCarousel oc(0x10);
  oc.add_file(oc.gateway(), "big.bin", testsupport::pattern_bytes(20000, 4), 1);
  oc.add_file(oc.gateway(), "small.txt", testsupport::text_bytes("small"), 1);
  oc.set_compressed(1);
  ASSERT_EQ(oc.module_images().at(1)[0], 0x78);
  capture.feed_all(0x100, oc.sections(1000));

  EXPECT_EQ(carousel_test::rebuild_outline(capture),
            "root\n"
            "  prg 1\n"
            "    oc 0x10\n"
            "      fil big.bin 20000\n"
            "      fil small.txt 5\n");
  EXPECT_EQ(capture.program().object_carousels.at(0x10).modules.at(1), oc.plain_module_images().at(1));
  EXPECT_TRUE(log.has(4, "CObjectCarouselDlg::uncompress_mem_modules()"));
  EXPECT_TRUE(log.has(4, "decompressing files from pid 0x10"));
  EXPECT_EQ(log.count_containing("inflate error"), 0u);
}

TEST(Inflate, HeaderWithoutZlibStreamIsParsedUncompressed) {
  // The first two bytes pass the header test, the rest is no zlib stream: the inflate error is logged,
  // the image stays as it was and its parsing then finds no BIOP message.
  LogCapture log;
  Capture capture;
  testsupport::OcCarousel oc(0x10);
  capture.feed(0x100, oc.dsi_section());
  capture.feed(0x100, oc.dii_section());
  ByteVec image = {0x08, 0x1D, 0xFF, 0x11, 0x22, 0x33};  // block type 3: invalid
  capture.feed_all(0x100, testsupport::module_sections(0x10, 1, image));

  carousel_test::rebuild_outline(capture);
  EXPECT_EQ(capture.program().object_carousels.at(0x10).modules.at(1), image);
  size_t error = log.find(4, "unexpected inflate error, err=-3");
  ASSERT_NE(error, std::string::npos);
  EXPECT_NE(log.find(4, "not a BIOP message", error), std::string::npos);
}

}  // namespace
