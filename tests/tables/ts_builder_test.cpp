// The transport-stream builder and the section extractor that other tests rely on.
#include "tests/support/ts_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/sitables.h"
#include "tests/support/psi_builder.h"

namespace {

using testsupport::Bytes;
namespace ts = testsupport;

// A valid DSM-CC section whose message is `size` bytes of a counting pattern.
Bytes section_of(size_t size, uint16_t extension = 1) {
  Bytes message(size);
  for (size_t i = 0; i < size; ++i) message[i] = static_cast<uint8_t>(i + extension);
  return ts::dsmcc_section(0x3C, extension, message);
}

// The 188-byte packet number `index` of a stream.
Bytes packet_at(const Bytes& stream, size_t index, size_t packet_size = 188) {
  const size_t start = index * packet_size + (packet_size == 192 ? 4 : 0);
  return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(start),
               stream.begin() + static_cast<std::ptrdiff_t>(start + 188));
}

uint16_t pid_of(const Bytes& p) {
  return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
}
bool unit_start(const Bytes& p) {
  return (p[1] & 0x40) != 0;
}
uint8_t counter_of(const Bytes& p) {
  return p[3] & 0x0F;
}
uint8_t adaptation_control(const Bytes& p) {
  return (p[3] >> 4) & 3;
}

TEST(Packetizer, OneSmallSectionMakesOneStuffedPacket) {
  const Bytes s = section_of(20);
  const Bytes stream = ts::packetize(0x0123, {s});
  ASSERT_EQ(stream.size(), 188u);
  EXPECT_EQ(stream[0], 0x47);
  EXPECT_EQ(stream[1], 0x41);  // payload_unit_start, PID high bits
  EXPECT_EQ(stream[2], 0x23);
  EXPECT_EQ(stream[3], 0x10);  // payload only, continuity_counter 0
  EXPECT_EQ(stream[4], 0x00);  // pointer_field
  EXPECT_EQ(Bytes(stream.begin() + 5, stream.begin() + 5 + static_cast<std::ptrdiff_t>(s.size())), s);
  for (size_t i = 5 + s.size(); i < 188; ++i) ASSERT_EQ(stream[i], 0xFF) << i;
}

TEST(Packetizer, LongSectionSpansPacketsWithoutUnitStart) {
  const Bytes s = section_of(400 - 12);  // 400 bytes: 183 + 184 + 33
  const Bytes stream = ts::packetize(0x100, {s});
  ASSERT_EQ(stream.size(), 3u * 188u);
  const Bytes p0 = packet_at(stream, 0), p1 = packet_at(stream, 1), p2 = packet_at(stream, 2);
  EXPECT_TRUE(unit_start(p0));
  EXPECT_FALSE(unit_start(p1));
  EXPECT_FALSE(unit_start(p2));
  EXPECT_EQ(counter_of(p0), 0);
  EXPECT_EQ(counter_of(p1), 1);
  EXPECT_EQ(counter_of(p2), 2);
  EXPECT_EQ(p1[4], s[183]);
  EXPECT_EQ(p2[4], s[367]);
  EXPECT_EQ(p2[4 + 32], s[399]);
  EXPECT_EQ(p2[4 + 33], 0xFF);
}

TEST(Packetizer, PackedSectionsShareAPacketAndPointAtTheFirstStart) {
  const Bytes a = section_of(200 - 12, 1), b = section_of(50 - 12, 2), c = section_of(30 - 12, 3);
  const Bytes stream = ts::packetize(0x100, {a, b, c});
  ASSERT_EQ(stream.size(), 2u * 188u);
  const Bytes p1 = packet_at(stream, 1);
  EXPECT_TRUE(unit_start(p1));
  EXPECT_EQ(p1[4], 200 - 183);  // the rest of a, then b
  EXPECT_EQ(p1[5 + 17], b[0]);
  EXPECT_EQ(p1[5 + 17 + 50], c[0]);
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x100), (std::vector<Bytes>{a, b, c}));
}

TEST(Packetizer, SectionNeverStartsInAPacketWithoutUnitStart) {
  // a ends one byte before the end of the second packet: b would start on its last byte.
  const Bytes a = section_of(183 + 183 - 12, 1), b = section_of(10, 2);
  const Bytes stream = ts::packetize(0x100, {a, b});
  ASSERT_EQ(stream.size(), 3u * 188u);
  const Bytes p1 = packet_at(stream, 1), p2 = packet_at(stream, 2);
  EXPECT_FALSE(unit_start(p1));
  EXPECT_EQ(p1[187], 0xFF);
  EXPECT_TRUE(unit_start(p2));
  EXPECT_EQ(p2[4], 0);
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x100), (std::vector<Bytes>{a, b}));
}

TEST(Packetizer, UnpackedSectionsEachStartAPacket) {
  ts::PacketizerOptions o;
  o.pack_sections = false;
  const Bytes a = section_of(10, 1), b = section_of(10, 2);
  const Bytes stream = ts::packetize(0x100, {a, b}, o);
  ASSERT_EQ(stream.size(), 2u * 188u);
  for (size_t i = 0; i < 2; ++i) {
    const Bytes p = packet_at(stream, i);
    EXPECT_TRUE(unit_start(p));
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p[5 + 22], 0xFF);
  }
}

TEST(Packetizer, ContinuityCountersRunPerPidAndWrap) {
  ts::Packetizer p;
  for (int i = 0; i < 20; ++i) {
    p.add_section(0x100, section_of(10));
    if (i % 2 == 0) p.add_section(0x200, section_of(10));
  }
  const Bytes stream = p.stream();
  ASSERT_EQ(p.packet_count(), 30u);
  uint8_t expected_100 = 0, expected_200 = 0;
  for (size_t i = 0; i < p.packet_count(); ++i) {
    const Bytes pk = packet_at(stream, i);
    if (pid_of(pk) == 0x100) {
      EXPECT_EQ(counter_of(pk), expected_100) << i;
      expected_100 = (expected_100 + 1) & 0x0F;
    } else {
      ASSERT_EQ(pid_of(pk), 0x200);
      EXPECT_EQ(counter_of(pk), expected_200) << i;
      expected_200 = (expected_200 + 1) & 0x0F;
    }
  }
  EXPECT_EQ(p.continuity_counter(0x100), 20 % 16);
  EXPECT_EQ(p.continuity_counter(0x200), 10);
  p.set_continuity_counter(0x100, 9);
  p.add_section(0x100, section_of(10));
  EXPECT_EQ(counter_of(packet_at(p.stream(), 30)), 9);
  EXPECT_EQ(p.take().size(), 31u * 188u);
  EXPECT_TRUE(p.stream().empty());
}

TEST(Packetizer, PacketSizesAddPrefixOrTrailer) {
  const Bytes s = section_of(300);
  for (size_t size : {188u, 192u, 204u}) {
    SCOPED_TRACE(size);
    ts::PacketizerOptions o;
    o.packet_size = size;
    const Bytes stream = ts::packetize(0x100, {s, s}, o);
    ASSERT_EQ(stream.size() % size, 0u);
    const size_t packets = stream.size() / size;
    EXPECT_EQ(packets, 4u);
    for (size_t i = 0; i < packets; ++i) {
      const size_t at = i * size;
      if (size == 192) {
        EXPECT_EQ(stream[at + 3], i);  // the prefix counts packets
        EXPECT_EQ(stream[at + 4], 0x47);
      } else {
        EXPECT_EQ(stream[at], 0x47);
      }
      if (size == 204) {
        for (size_t k = 188; k < 204; ++k) EXPECT_EQ(stream[at + k], 0x00);
      }
    }
    EXPECT_EQ(ts::extract_sections(stream, size, 0x100), (std::vector<Bytes>{s, s}));
  }
}

TEST(Packetizer, AdaptationFieldOfTheGivenLength) {
  ts::PacketizerOptions o;
  o.adaptation_field_length = 10;
  const Bytes s = section_of(20);
  const Bytes stream = ts::packetize(0x100, {s}, o);
  const Bytes p = packet_at(stream, 0);
  EXPECT_EQ(adaptation_control(p), 3);
  EXPECT_EQ(p[4], 10);
  EXPECT_EQ(p[5], 0x00);
  for (size_t i = 6; i < 15; ++i) EXPECT_EQ(p[i], 0xFF);
  EXPECT_EQ(p[15], 0x00);  // pointer_field
  EXPECT_EQ(p[16], s[0]);

  o.adaptation_field_length = 0;
  const Bytes q = packet_at(ts::packetize(0x100, {s}, o), 0);
  EXPECT_EQ(adaptation_control(q), 3);
  EXPECT_EQ(q[4], 0);
  EXPECT_EQ(q[5], 0x00);
  EXPECT_EQ(q[6], s[0]);

  o.adaptation_field_length = 182;
  EXPECT_THROW(ts::Packetizer{o}, std::invalid_argument);
}

TEST(Packetizer, NullPacketsFollowEachDataPacket) {
  ts::PacketizerOptions o;
  o.null_packets_after_each = 2;
  const Bytes s = section_of(300);
  const Bytes stream = ts::packetize(0x100, {s}, o);
  ASSERT_EQ(stream.size(), 6u * 188u);
  const uint16_t pids[] = {0x100, ts::kNullPid, ts::kNullPid, 0x100, ts::kNullPid, ts::kNullPid};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(pid_of(packet_at(stream, i)), pids[i]) << i;
  EXPECT_EQ(counter_of(packet_at(stream, 3)), 1);
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x100), std::vector<Bytes>{s});
}

TEST(Packetizer, RejectsMisuse) {
  ts::PacketizerOptions o;
  o.packet_size = 200;
  EXPECT_THROW(ts::Packetizer{o}, std::invalid_argument);
  ts::Packetizer p;
  EXPECT_THROW(p.add_sections(0x100, {Bytes{}}), std::invalid_argument);
  EXPECT_THROW(p.add_packet(0x100, false, Bytes(185)), std::invalid_argument);
  EXPECT_THROW(ts::extract_sections(Bytes(376), 190, 0x100), std::invalid_argument);
}

// Every combination of the options gives back exactly the sections put in.
struct RoundTrip {
  size_t packet_size;
  bool pack;
  int adaptation;  // < 0: none
  size_t nulls;
};
void PrintTo(const RoundTrip& c, std::ostream* os) {
  *os << c.packet_size << (c.pack ? "_packed" : "_unpacked") << "_af" << c.adaptation << "_null" << c.nulls;
}

class PacketizerRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(PacketizerRoundTrip, ExtractGivesBackEverySection) {
  const RoundTrip& c = GetParam();
  ts::PacketizerOptions o;
  o.packet_size = c.packet_size;
  o.pack_sections = c.pack;
  if (c.adaptation >= 0) o.adaptation_field_length = static_cast<uint8_t>(c.adaptation);
  o.null_packets_after_each = c.nulls;
  std::vector<Bytes> sections;
  const size_t sizes[] = {0, 1, 170, 171, 172, 183, 184, 400, 1000, 4084, 2, 3};
  uint16_t ext = 0;
  for (size_t size : sizes) sections.push_back(section_of(size, ++ext));
  sections.push_back(ts::short_section(0x72, false, {}));  // 3 bytes: a header and nothing else
  sections.push_back(section_of(5, ++ext));

  ts::Packetizer p(o);
  p.add_sections(0x0BB9, sections);
  p.add_sections(0x0BBA, {section_of(50, 99)});
  p.add_sections(0x0BB9, {section_of(60, 98)});
  std::vector<Bytes> expected = sections;
  expected.push_back(section_of(60, 98));
  EXPECT_EQ(ts::extract_sections(p.stream(), c.packet_size, 0x0BB9), expected);
  EXPECT_EQ(ts::extract_sections(p.stream(), c.packet_size, 0x0BBA), std::vector<Bytes>{section_of(50, 99)});
  for (const Bytes& s : expected) {
    if (s.size() < 12) continue;
    sitables::DsmCC dsm;
    EXPECT_NO_THROW(dsm.Parse(s, false));
  }
}

std::vector<RoundTrip> all_round_trips() {
  std::vector<RoundTrip> out;
  for (size_t size : {188u, 192u, 204u})
    for (bool pack : {true, false})
      for (int af : {-1, 0, 30, 181})
        for (size_t nulls : {0u, 1u}) out.push_back({size, pack, af, nulls});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Options, PacketizerRoundTrip, ::testing::ValuesIn(all_round_trips()));

// ---- The extractor on damaged or foreign input ----

TEST(ExtractSections, StartsAtTheFirstUnitStart) {
  const Bytes a = section_of(300, 1), b = section_of(20, 2);
  ts::PacketizerOptions o;
  o.pack_sections = false;
  const Bytes stream = ts::packetize(0x100, {a, b}, o);
  const Bytes without_first(stream.begin() + 188, stream.end());  // a's start is lost
  EXPECT_EQ(ts::extract_sections(without_first, 188, 0x100), std::vector<Bytes>{b});
}

TEST(ExtractSections, DropsASectionCutByTheNextStart) {
  const Bytes a = section_of(300, 1), b = section_of(20, 2);
  ts::PacketizerOptions o;
  o.pack_sections = false;
  Bytes stream = ts::packetize(0x100, {a, b}, o);
  stream.erase(stream.begin() + 188, stream.begin() + 2 * 188);  // the middle of a is lost
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x100), std::vector<Bytes>{b});
}

TEST(ExtractSections, SkipsOtherPidsBadSyncErrorsAndPayloadlessPackets) {
  const Bytes a = section_of(20, 1), b = section_of(20, 2), c = section_of(20, 3), d = section_of(20, 4);
  ts::Packetizer p;
  p.add_section(0x100, a);
  p.add_section(0x101, b);
  p.add_section(0x100, c);
  p.add_section(0x100, d);
  Bytes stream = p.take();
  stream[2 * 188] = 0x46;       // c: no sync byte
  stream[3 * 188 + 1] |= 0x80;  // d: transport_error_indicator
  p.add_section(0x100, b);
  Bytes tail = p.take();
  tail[3] = static_cast<uint8_t>((tail[3] & 0xCF) | 0x20);  // adaptation only: no payload
  stream.insert(stream.end(), tail.begin(), tail.end());
  stream.insert(stream.end(), 100, 0x47);  // a cut packet at the end is ignored
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x100), std::vector<Bytes>{a});
  EXPECT_EQ(ts::extract_sections(stream, 188, 0x101), std::vector<Bytes>{b});
}

TEST(ExtractSections, PointerPastThePayloadDropsThePacket) {
  const Bytes a = section_of(20, 1), b = section_of(20, 2);
  ts::Packetizer p;
  p.add_section(0x100, a);
  p.add_packet(0x100, true, Bytes{200});  // pointer_field beyond the packet
  p.add_section(0x100, b);
  EXPECT_EQ(ts::extract_sections(p.stream(), 188, 0x100), (std::vector<Bytes>{a, b}));
}

TEST(ExtractSections, HeaderSplitAcrossPackets) {
  // The next section's first two bytes end a unit-start packet; its length byte opens the next packet.
  const Bytes a = section_of(20, 1);
  const Bytes b = section_of(300, 2);
  const Bytes first = section_of(183 - 2 - 12, 3);  // 181 bytes, then 2 bytes of b fit behind it
  ts::Packetizer p;
  p.add_sections(0x100, {first, b, a});
  EXPECT_EQ(packet_at(p.stream(), 0)[186], b[0]);
  EXPECT_EQ(packet_at(p.stream(), 0)[187], b[1]);
  EXPECT_EQ(ts::extract_sections(p.stream(), 188, 0x100), (std::vector<Bytes>{first, b, a}));
}

}  // namespace
