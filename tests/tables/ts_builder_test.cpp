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

// Packet number `index` of a stream of 188-byte packets.
Bytes packet_at(const Bytes& stream, size_t index) {
  return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(index * 188),
               stream.begin() + static_cast<std::ptrdiff_t>(index * 188 + 188));
}

bool unit_start(const Bytes& p) { return (p[1] & 0x40) != 0; }

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

TEST(ExtractSections, DropsASectionWhoseStartOrMiddleIsLost) {
  const Bytes a = section_of(300, 1), b = section_of(20, 2);
  ts::PacketizerOptions o;
  o.pack_sections = false;
  const Bytes stream = ts::packetize(0x100, {a, b}, o);
  const Bytes without_first(stream.begin() + 188, stream.end());
  EXPECT_EQ(ts::extract_sections(without_first, 188, 0x100), std::vector<Bytes>{b});
  Bytes without_middle = stream;
  without_middle.erase(without_middle.begin() + 188, without_middle.begin() + 2 * 188);
  EXPECT_EQ(ts::extract_sections(without_middle, 188, 0x100), std::vector<Bytes>{b});
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
