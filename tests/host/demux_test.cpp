// Section assembly: sections come back as built, and a section that loss or damage may have broken
// never comes out.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/demux.h"
#include "host/framer.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace {

using testsupport::Bytes;

constexpr uint16_t kPid = 0x07D3;
constexpr uint16_t kOtherPid = 0x0100;

struct Recorder final : host::SectionSink {
  std::vector<std::pair<uint16_t, Bytes>> got;
  void on_section(uint16_t pid, std::span<const uint8_t> section) override {
    got.emplace_back(pid, Bytes(section.begin(), section.end()));
  }
  std::vector<Bytes> sections(uint16_t pid) const {
    std::vector<Bytes> out;
    for (const auto& [p, s] : got) {
      if (p == pid) out.push_back(s);
    }
    return out;
  }
};

struct Result {
  Recorder recorder;
  host::Statistics counters;
};

testsupport::PacketizerOptions unpacked() {
  testsupport::PacketizerOptions o;
  o.pack_sections = false;
  return o;
}

// Frames and demultiplexes a whole stream, asking for `pids`.
void run(const Bytes& stream, std::vector<uint16_t> pids, Result& out) {
  host::Demux demux(out.recorder);
  for (uint16_t pid : pids) demux.subscribe(pid);
  host::PacketFramer framer;
  framer.frame(
      stream, true, [&](std::span<const uint8_t, 188> p) { demux.feed(p); }, [](const host::SyncEvent&) {});
  out.counters = demux.counters();
}

// A long-syntax section of exactly `size` bytes (at least 12) whose body tells it apart.
Bytes long_of_size(size_t size, uint8_t table_id, uint8_t seed) {
  testsupport::SectionHeader h;
  h.table_id = table_id;
  h.table_id_extension = seed;
  Bytes body(size - 12);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(seed + i * 7);
  return testsupport::long_section(h, body);
}

// A short-syntax section of exactly `size` bytes (at least 3).
Bytes short_of_size(size_t size, uint8_t table_id, uint8_t seed) {
  Bytes body(size - 3);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(seed ^ (i * 13));
  return testsupport::short_section(table_id, true, body);
}

std::vector<Bytes> packets_of(const Bytes& stream) {
  std::vector<Bytes> out;
  for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
    out.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                     stream.begin() + static_cast<std::ptrdiff_t>(at + 188));
  }
  return out;
}

Bytes join(const std::vector<Bytes>& packets) {
  Bytes out;
  for (const Bytes& p : packets) out.insert(out.end(), p.begin(), p.end());
  return out;
}

uint8_t cc_of(const Bytes& packet) { return packet[3] & 0x0F; }
bool starts_unit(const Bytes& packet) { return (packet[1] & 0x40) != 0; }

// A stream of three sections on kPid: A spans packets 0-2, B starts in packet 2 and spans to 4, C
// starts in 4.
struct ThreeSections {
  Bytes a = long_of_size(400, 0x3C, 1);
  Bytes b = long_of_size(360, 0x3C, 2);
  Bytes c = long_of_size(60, 0x3B, 3);
  std::vector<Bytes> packets;
  ThreeSections() { packets = packets_of(testsupport::packetize(kPid, {a, b, c})); }
};

TEST(Demux, LossAndDamageDropOnlyWhatTheyTouch) {
  struct Case {
    std::string name;
    std::function<void(std::vector<Bytes>&)> damage;
    std::vector<char> expected;  // which of A, B, C come out
    uint64_t cc_errors;
    uint64_t duplicates;
    uint64_t tei;
    uint64_t malformed;
  };
  const std::vector<Case> cases = {
      {"intact", [](auto&) {}, {'a', 'b', 'c'}, 0, 0, 0, 0},
      {"lost_packet_inside_a", [](auto& p) { p.erase(p.begin() + 1); }, {'b', 'c'}, 1, 0, 0, 0},
      // Packet 2 ends A and starts B: both are lost with it.
      {"lost_packet_ending_a_starting_b", [](auto& p) { p.erase(p.begin() + 2); }, {'c'}, 1, 0, 0, 0},
      {"lost_packet_inside_b", [](auto& p) { p.erase(p.begin() + 3); }, {'a', 'c'}, 1, 0, 0, 0},
      {"duplicate_packet",
       [](auto& p) {
         const Bytes copy = p[2];
         p.insert(p.begin() + 3, copy);
       },
       {'a', 'b', 'c'}, 0, 1, 0, 0},
      // Same counter, other bytes: not a duplicate but a packet of another history.
      {"repeated_counter_other_bytes",
       [](auto& p) {
         Bytes fake = p[1];
         fake[100] ^= 0x01;
         p.insert(p.begin() + 2, fake);
       },
       {'b', 'c'}, 1, 0, 0, 0},
      {"transport_error_inside_a", [](auto& p) { p[1][1] |= 0x80; }, {'b', 'c'}, 0, 0, 1, 0},
      {"transport_error_on_last_packet_of_b", [](auto& p) { p[4][1] |= 0x80; }, {'a'}, 0, 0, 1, 0},
      {"counter_jump",
       [](auto& p) {
         for (size_t k = 3; k < p.size(); ++k) p[k][3] = static_cast<uint8_t>((p[k][3] & 0xF0) | ((p[k][3] + 5) & 0x0F));
       },
       {'a', 'c'}, 1, 0, 0, 0},
      {"adaptation_field_too_long",
       [](auto& p) {
         p[1][3] = static_cast<uint8_t>(0x30 | cc_of(p[1]));
         p[1][4] = 184;
       },
       {'b', 'c'}, 0, 0, 0, 1},
      {"pointer_field_past_the_packet", [](auto& p) { p[2][4] = 200; }, {'c'}, 0, 0, 0, 1},
      // A packet with an adaptation field and no payload carries the counter of the packet before it.
      {"adaptation_only_packet",
       [](auto& p) {
         Bytes only(188, 0xFF);
         only[0] = 0x47;
         only[1] = p[1][1];
         only[2] = p[1][2];
         only[3] = static_cast<uint8_t>(0x20 | cc_of(p[1]));
         only[4] = 183;
         only[5] = 0x00;
         p.insert(p.begin() + 2, only);
       },
       {'a', 'b', 'c'}, 0, 0, 0, 0},
      // Packet 3 (inside B) jumps its counter and says so; it still carries a payload, one byte
      // shorter, so B cannot be trusted whole, but no error is counted.
      {"signalled_discontinuity",
       [](auto& p) {
         Bytes rebuilt(p[3].begin(), p[3].begin() + 4);
         rebuilt[3] = static_cast<uint8_t>(0x30 | ((cc_of(p[3]) + 7) & 0x0F));
         rebuilt.push_back(1);     // adaptation_field_length
         rebuilt.push_back(0x80);  // discontinuity_indicator
         rebuilt.insert(rebuilt.end(), p[3].begin() + 4, p[3].begin() + 186);
         p[3] = rebuilt;
         for (size_t k = 4; k < p.size(); ++k) p[k][3] = static_cast<uint8_t>((p[k][3] & 0xF0) | ((cc_of(p[k]) + 7) & 0x0F));
       },
       {'a', 'c'}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThreeSections t;
    ASSERT_EQ(t.packets.size(), 5u);
    ASSERT_TRUE(starts_unit(t.packets[2]) && starts_unit(t.packets[4]) && !starts_unit(t.packets[3]));
    c.damage(t.packets);
    Result r;
    run(join(t.packets), {kPid}, r);
    std::vector<Bytes> expected;
    for (char which : c.expected) expected.push_back(which == 'a' ? t.a : which == 'b' ? t.b : t.c);
    EXPECT_EQ(r.recorder.sections(kPid), expected);
    EXPECT_EQ(r.counters.cc_errors, c.cc_errors);
    EXPECT_EQ(r.counters.duplicates, c.duplicates);
    EXPECT_EQ(r.counters.tei_drops, c.tei);
    EXPECT_EQ(r.counters.malformed_packets, c.malformed);
  }
}

TEST(Demux, ImpossibleSectionLengthIsDroppedAndTheNextSectionKept) {
  Bytes bad = short_of_size(30, 0x3B, 9);
  bad[1] = static_cast<uint8_t>(bad[1] | 0x0F);
  bad[2] = 0xFF;  // section_length 4095
  const Bytes good = long_of_size(50, 0x3C, 4);
  testsupport::Packetizer p(unpacked());
  // The bad header alone in its packet, then a good section.
  Bytes payload = {0x00};
  payload.insert(payload.end(), bad.begin(), bad.end());
  p.add_packet(kPid, true, payload);
  p.add_section(kPid, good);
  Result r;
  run(p.stream(), {kPid}, r);
  EXPECT_EQ(r.recorder.sections(kPid), std::vector<Bytes>{good});
  EXPECT_EQ(r.counters.dropped_sections, 1u);
}

TEST(Demux, SectionCutShortByTheNextStartIsDropped) {
  // A's continuation packet is replaced by one that starts a new section (counter intact): A can
  // never be whole.
  const Bytes a = long_of_size(300, 0x3C, 1);
  const Bytes b = long_of_size(40, 0x3C, 2);
  testsupport::Packetizer p;
  Bytes first = {0x00};
  first.insert(first.end(), a.begin(), a.begin() + 183);
  p.add_packet(kPid, true, first);
  p.add_section(kPid, b);
  Result r;
  run(p.stream(), {kPid}, r);
  EXPECT_EQ(r.recorder.sections(kPid), std::vector<Bytes>{b});
  EXPECT_EQ(r.counters.dropped_sections, 1u);
}

TEST(Demux, OnlyRequestedPidsAreAssembled) {
  testsupport::Packetizer p;
  const Bytes a = long_of_size(400, 0x3C, 1);
  const Bytes b = long_of_size(90, 0x3B, 2);
  p.add_section(kPid, a);
  p.add_section(kOtherPid, b);
  p.add_section(kPid, b);
  auto packets = packets_of(p.stream());
  packets[p.packet_count() - 1][1] |= 0x80;  // the last b, on a PID asked for by nobody
  {
    Result r;
    run(join(packets), {}, r);
    EXPECT_TRUE(r.recorder.got.empty());
    EXPECT_EQ(r.counters.packets, p.packet_count());
    EXPECT_EQ(r.counters.tei_drops, 1u);  // counted whatever the PID
  }
  {
    Result r;
    run(p.stream(), {kOtherPid}, r);
    EXPECT_EQ(r.recorder.sections(kOtherPid), std::vector<Bytes>{b});
    EXPECT_TRUE(r.recorder.sections(kPid).empty());
  }
}

TEST(Demux, AskedForAgainStartsAfresh) {
  // Half of A, then the PID is given up and asked for again: the rest of A must not complete
  // anything, and the next section comes out.
  const Bytes a = long_of_size(400, 0x3C, 1);
  const Bytes b = long_of_size(90, 0x3B, 2);
  const auto packets = packets_of(testsupport::packetize(kPid, {a, b}, unpacked()));
  Recorder recorder;
  host::Demux demux(recorder);
  demux.subscribe(kPid);
  demux.subscribe(kPid);
  auto feed = [&](const Bytes& packet) { demux.feed(std::span<const uint8_t, 188>(packet.data(), 188)); };
  feed(packets[0]);
  demux.unsubscribe(kPid);
  EXPECT_TRUE(demux.subscribed(kPid));  // requests are counted
  demux.unsubscribe(kPid);
  EXPECT_FALSE(demux.subscribed(kPid));
  feed(packets[1]);
  demux.subscribe(kPid);
  for (size_t k = 2; k < packets.size(); ++k) feed(packets[k]);
  EXPECT_EQ(recorder.sections(kPid), std::vector<Bytes>{b});
  EXPECT_EQ(demux.counters().cc_errors, 0u);
}

TEST(Demux, EventsNameThePidAndTheCounters) {
  ThreeSections t;
  t.packets.erase(t.packets.begin() + 1);
  Recorder recorder;
  host::Demux demux(recorder);
  std::vector<host::DemuxEvent> events;
  demux.set_event_handler([&](const host::DemuxEvent& e) { events.push_back(e); });
  demux.subscribe(kPid);
  for (const Bytes& packet : t.packets) demux.feed(std::span<const uint8_t, 188>(packet.data(), 188));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, host::DemuxEvent::continuity);
  EXPECT_EQ(events[0].pid, kPid);
  EXPECT_EQ(events[0].expected_cc, 1);
  EXPECT_EQ(events[0].got_cc, 2);
  EXPECT_TRUE(events[0].partial_dropped);
}

}  // namespace
