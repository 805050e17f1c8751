#include "tables/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

namespace {

const std::array<uint8_t, 8> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

struct ReadCase {
  const char* name;
  size_t width;
  std::function<uint64_t(ByteReader&)> read;
  uint64_t value;     // read from kBytes
  bool moves = true;  // peeks leave the cursor
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

const ReadCase kReads[] = {
    {"u8", 1, [](ByteReader& r) { return r.u8(); }, 0x01},
    {"be16", 2, [](ByteReader& r) { return r.be16(); }, 0x0102},
    {"be24", 3, [](ByteReader& r) { return r.be24(); }, 0x010203},
    {"be32", 4, [](ByteReader& r) { return r.be32(); }, 0x01020304},
    {"be64", 8, [](ByteReader& r) { return r.be64(); }, 0x0102030405060708},
    {"le16", 2, [](ByteReader& r) { return r.le16(); }, 0x0201},
    {"le32", 4, [](ByteReader& r) { return r.le32(); }, 0x04030201},
    {"le64", 8, [](ByteReader& r) { return r.le64(); }, 0x0807060504030201},
    {"u16_big", 2, [](ByteReader& r) { return r.u16(true); }, 0x0102},
    {"u16_little", 2, [](ByteReader& r) { return r.u16(false); }, 0x0201},
    {"u32_big", 4, [](ByteReader& r) { return r.u32(true); }, 0x01020304},
    {"u32_little", 4, [](ByteReader& r) { return r.u32(false); }, 0x04030201},
    {"bytes3", 3,
     [](ByteReader& r) {
       auto v = r.bytes(3);
       return v.empty() ? 0 : uint64_t{v[0]} << 16 | uint64_t{v[1]} << 8 | v[2];
     },
     0x010203},
    {"skip5", 5, [](ByteReader& r) { return r.skip(5) ? 1 : 0; }, 1},
    {"sub4", 4,
     [](ByteReader& r) {
       auto s = r.sub(4);
       return s.ok() ? s.be32() : 0;
     },
     0x01020304},
    {"sub_or_rest4", 4,
     [](ByteReader& r) {
       auto s = r.sub_or_rest(4);
       return s.size() == 4 ? s.be32() : 0;
     },
     0x01020304},
    {"peek0", 1, [](ByteReader& r) { return r.peek_u8(0); }, 0x01, false},
    {"peek2", 3, [](ByteReader& r) { return r.peek_u8(2); }, 0x03, false},
};

class EachRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(EachRead, ReadsExactlyItsWidth) {
  const ReadCase& c = GetParam();
  ByteReader r(kBytes.data(), c.width);
  EXPECT_EQ(c.read(r), c.value);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.position(), c.moves ? c.width : 0u);
}

TEST_P(EachRead, OneByteShortFailsAtTheCursorAndReadsNothing) {
  const ReadCase& c = GetParam();
  // One byte already consumed, then one byte fewer than the read wants.
  std::vector<uint8_t> data(c.width, 0xAA);
  ByteReader r(data);
  r.u8();
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(c.read(r), 0u);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.position(), 1u);
  EXPECT_EQ(r.error_offset(), 1u);
  EXPECT_EQ(r.error_wanted(), c.width);
}

TEST_P(EachRead, FailsOnceFailedEvenWhenTheBytesAreThere) {
  const ReadCase& c = GetParam();
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(2);
  r.seek(100);  // the first failure: at offset 2, wanting 98 bytes
  ASSERT_TRUE(r.failed());
  EXPECT_EQ(c.read(r), 0u);
  EXPECT_EQ(r.position(), 2u);
  EXPECT_EQ(r.error_offset(), 2u);
  EXPECT_EQ(r.error_wanted(), 98u);
  EXPECT_FALSE(r.can_read(0));
}

INSTANTIATE_TEST_SUITE_P(Reads, EachRead, ::testing::ValuesIn(kReads));

TEST(ByteReader, EmptyDataIsAtEndAndEveryReadFails) {
  ByteReader r;
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.remaining(), 0u);
  EXPECT_TRUE(r.bytes(0).empty());
  EXPECT_TRUE(r.ok());  // taking nothing is always possible
  EXPECT_EQ(r.u8(), 0u);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.error_wanted(), 1u);
}

TEST(ByteReader, BytesAreViewsIntoTheData) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(1);
  auto v = r.bytes(3);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v.data(), kBytes.data() + 1);
  EXPECT_EQ(r.rest().size(), 4u);
  EXPECT_EQ(r.rest()[0], 0x05);
  EXPECT_TRUE(r.can_read(4));
  EXPECT_FALSE(r.can_read(5));
}

TEST(ByteReader, SeekReachesTheEndButNotBeyond) {
  ByteReader r(kBytes.data(), kBytes.size());
  EXPECT_TRUE(r.seek(8));
  EXPECT_TRUE(r.at_end());
  EXPECT_TRUE(r.seek(3));
  EXPECT_EQ(r.u8(), 0x04);
  EXPECT_FALSE(r.seek(9));
  EXPECT_EQ(r.position(), 4u);
  EXPECT_EQ(r.error_offset(), 4u);
  EXPECT_EQ(r.error_wanted(), 5u);
}

TEST(ByteReader, FailMarksTheCurrentOffset) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(6);
  r.fail();
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.error_offset(), 6u);
  EXPECT_EQ(r.error_wanted(), 0u);
  EXPECT_EQ(r.u8(), 0u);
}

TEST(ByteReader, SubReaderIsBoundedAndItsFailureStaysInside) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(1);
  ByteReader inner = r.sub(3);
  EXPECT_EQ(r.position(), 4u);
  EXPECT_EQ(inner.size(), 3u);
  EXPECT_EQ(inner.be16(), 0x0203);
  EXPECT_EQ(inner.be16(), 0u);  // one byte left: the scope ends at the declared length
  EXPECT_TRUE(inner.failed());
  EXPECT_EQ(inner.error_offset(), 2u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u8(), 0x05);
}

TEST(ByteReader, SubReaderPastTheEndFailsBothSides) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(6);
  ByteReader inner = r.sub(3);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.position(), 6u);
  EXPECT_EQ(r.error_wanted(), 3u);
  EXPECT_TRUE(inner.failed());
  EXPECT_EQ(inner.size(), 0u);
  EXPECT_EQ(inner.u8(), 0u);
}

TEST(ByteReader, SubOrRestPastTheEndFailsOutsideButLeavesTheRestReadable) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(5);
  ByteReader inner = r.sub_or_rest(4);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.position(), 5u);
  EXPECT_EQ(r.error_offset(), 5u);
  EXPECT_EQ(r.error_wanted(), 4u);
  EXPECT_TRUE(inner.ok());
  EXPECT_EQ(inner.be24(), 0x060708u);
  EXPECT_EQ(inner.u8(), 0u);
  EXPECT_TRUE(inner.failed());
}

TEST(ByteReader, SubReaderOfAFailedReaderIsFailed) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.seek(20);
  ByteReader inner = r.sub(0);
  EXPECT_TRUE(inner.failed());
}

}  // namespace
