#include "bytes/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

using namespace bytes;

namespace {

const std::array<uint8_t, 8> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

// Every read on a reader of exactly its width, one byte short, and after an earlier failure.
TEST(ByteReader, EveryReadTakesItsWidthOrFailsInPlace) {
  struct Case {
    const char* name;
    size_t width;
    std::function<uint64_t(ByteReader&)> read;
    uint64_t value;
    bool moves;
  };
  const Case cases[] = {
      {"u8", 1, [](ByteReader& r) { return r.u8(); }, 0x01, true},
      {"be16", 2, [](ByteReader& r) { return r.be16(); }, 0x0102, true},
      {"be24", 3, [](ByteReader& r) { return r.be24(); }, 0x010203, true},
      {"be32", 4, [](ByteReader& r) { return r.be32(); }, 0x01020304, true},
      {"be64", 8, [](ByteReader& r) { return r.be64(); }, 0x0102030405060708, true},
      {"le16", 2, [](ByteReader& r) { return r.le16(); }, 0x0201, true},
      {"le32", 4, [](ByteReader& r) { return r.le32(); }, 0x04030201, true},
      {"le64", 8, [](ByteReader& r) { return r.le64(); }, 0x0807060504030201, true},
      {"u16_little", 2, [](ByteReader& r) { return r.u16(false); }, 0x0201, true},
      {"u32_big", 4, [](ByteReader& r) { return r.u32(true); }, 0x01020304, true},
      {"bytes3", 3, [](ByteReader& r) { auto v = r.bytes(3); return v.empty() ? 0 : uint64_t{v[2]}; }, 0x03, true},
      {"skip5", 5, [](ByteReader& r) { return r.skip(5) ? 1 : 0; }, 1, true},
      {"sub4", 4, [](ByteReader& r) { auto s = r.sub(4); return s.size() == 4 ? s.be32() : 0; }, 0x01020304, true},
      {"take_rest", 3, [](ByteReader& r) { return r.take_rest().size(); }, 3, true},
      {"peek2", 3, [](ByteReader& r) { return r.peek_u8(2); }, 0x03, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteReader whole(kBytes.data(), c.width);
    EXPECT_EQ(c.read(whole), c.value);
    EXPECT_TRUE(whole.ok());
    EXPECT_EQ(whole.position(), c.moves ? c.width : 0u);

    if (std::string(c.name) != "take_rest") {
      ByteReader shorter(kBytes.data(), c.width);
      shorter.u8();
      EXPECT_EQ(c.read(shorter), 0u);
      EXPECT_TRUE(shorter.failed());
      EXPECT_EQ(shorter.position(), 1u);
      EXPECT_EQ(shorter.error_offset(), 1u);
      EXPECT_EQ(shorter.error_wanted(), c.width);
    }

    ByteReader failed(kBytes.data(), kBytes.size());
    failed.skip(2);
    failed.seek(100);
    EXPECT_EQ(c.read(failed), 0u);
    EXPECT_EQ(failed.position(), 2u);
    EXPECT_EQ(failed.error_wanted(), 98u) << "the first failure is the one kept";
  }
}

// A sub-reader ends where its length says: its failure stays inside, the parent steps over it whole.
TEST(ByteReader, SubReadersAreBoundedScopes) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.skip(1);
  ByteReader inner = r.sub(3);
  EXPECT_EQ(r.position(), 4u);
  EXPECT_EQ(inner.be16(), 0x0203);
  EXPECT_EQ(inner.be16(), 0u);
  EXPECT_TRUE(inner.failed());
  EXPECT_EQ(inner.error_offset(), 2u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u8(), 0x05);

  ByteReader past = r.sub(4);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.position(), 5u);
  EXPECT_TRUE(past.failed());
  EXPECT_EQ(past.size(), 0u);

  ByteReader tail(kBytes.data(), kBytes.size());
  tail.skip(5);
  ByteReader rest = tail.sub_or_rest(4);
  EXPECT_TRUE(tail.failed());
  EXPECT_EQ(tail.error_wanted(), 4u);
  EXPECT_TRUE(rest.ok());
  EXPECT_EQ(rest.be24(), 0x060708u);
  EXPECT_TRUE(tail.sub(0).failed()) << "a scope opened on a failed reader is failed";
}

TEST(ByteReader, SeekReachesTheEndButNotBeyond) {
  ByteReader r(kBytes.data(), kBytes.size());
  EXPECT_TRUE(r.seek(8));
  EXPECT_TRUE(r.at_end());
  EXPECT_TRUE(r.seek(3));
  EXPECT_EQ(r.u8(), 0x04);
  EXPECT_FALSE(r.seek(9));
  EXPECT_EQ(r.error_offset(), 4u);
  EXPECT_EQ(r.error_wanted(), 5u);
}

}  // namespace
