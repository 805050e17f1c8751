// Without the host's threads: section assembly (a section that loss or damage may have broken never
// comes out, and nothing else is lost), packet framing, PSI gathering, the diagnostics cut-off and the
// parsing of what a source names.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "host/demux.h"
#include "host/diagnostics.h"
#include "host/framer.h"
#include "host/psi_collector.h"
#include "host/source.h"
#include "tests/host/host_util.h"

namespace {

using hosttest::Bytes;
using hosttest::kPid;
using hosttest::section_of;
using Packets = std::vector<Bytes>;

struct Recorder final : host::SectionSink {
  std::vector<Bytes> got;
  void on_section(uint16_t pid, std::span<const uint8_t> s) override {
    if (pid == kPid) got.emplace_back(s.begin(), s.end());
  }
};

Packets packets_of(const Bytes& stream) {
  Packets out;
  for (size_t at = 0; at + 188 <= stream.size(); at += 188) out.emplace_back(stream.begin() + at, stream.begin() + at + 188);
  return out;
}

uint8_t cc_of(const Bytes& p) { return p[3] & 0x0F; }
void shift_cc(Packets& p, size_t from, int by) {
  for (size_t k = from; k < p.size(); ++k) p[k][3] = static_cast<uint8_t>((p[k][3] & 0xF0) | ((p[k][3] + by) & 0x0F));
}

TEST(Demux, LossAndDamageDropOnlyWhatTheyTouch) {
  // A spans packets 0-2, B starts in packet 2 (pointer_field 33) and ends in 4, C lies in 4.
  const Bytes a = section_of(400, 0x3C, 1), b = section_of(360, 0x3C, 2), c = section_of(60, 0x3B, 3);
  struct Case {
    std::string name;
    std::function<void(Packets&)> damage;
    std::string expected;  // which of A, B, C come out
    std::array<uint64_t, 5> counts;  // cc_errors, duplicates, tei_drops, malformed_packets, dropped_sections
  };
  const std::vector<Case> cases = {
      {"intact", [](Packets&) {}, "abc", {0, 0, 0, 0, 0}},
      {"counter_wraps_inside_a_section", [](Packets& p) { shift_cc(p, 0, 14); }, "abc", {0, 0, 0, 0, 0}},
      {"lost_packet_inside_a", [](Packets& p) { p.erase(p.begin() + 1); }, "bc", {1, 0, 0, 0, 1}},
      {"lost_packet_ending_a_starting_b", [](Packets& p) { p.erase(p.begin() + 2); }, "c", {1, 0, 0, 0, 1}},
      {"duplicate_packet", [](Packets& p) { p.insert(p.begin() + 3, Bytes(p[2])); }, "abc", {0, 1, 0, 0, 0}},
      // Same counter, other bytes: not a duplicate but a packet of another history.
      {"repeated_counter_other_bytes",
       [](Packets& p) {
         Bytes fake = p[1];
         fake[100] ^= 0x01;
         p.insert(p.begin() + 2, fake);
       },
       "bc", {1, 0, 0, 0, 1}},
      {"transport_error_inside_a", [](Packets& p) { p[1][1] |= 0x80; }, "bc", {0, 0, 1, 0, 1}},
      {"transport_error_on_last_packet_of_b", [](Packets& p) { p[4][1] |= 0x80; }, "a", {0, 0, 1, 0, 1}},
      {"counter_jump", [](Packets& p) { shift_cc(p, 3, 5); }, "ac", {1, 0, 0, 0, 1}},
      // Packet 1 lost and the counters made to hide it: A is cut short by B's start.
      {"section_cut_by_the_next_start",
       [](Packets& p) {
         p.erase(p.begin() + 1);
         shift_cc(p, 1, -1);
       },
       "bc", {0, 0, 0, 0, 1}},
      {"impossible_section_length",
       [](Packets& p) {
         const size_t at = 5 + p[4][4];  // C's header, behind B's last bytes
         p[4][at + 1] |= 0x0F;
         p[4][at + 2] = 0xFF;
       },
       "ab", {0, 0, 0, 0, 1}},
      {"adaptation_field_too_long",
       [](Packets& p) {
         p[1][3] = static_cast<uint8_t>(0x30 | cc_of(p[1]));
         p[1][4] = 184;
       },
       "bc", {0, 0, 0, 1, 1}},
      {"pointer_field_one_past_the_payload", [](Packets& p) { p[2][4] = 184; }, "c", {0, 0, 0, 1, 1}},
      // The whole payload ends A; what follows it is not B's start.
      {"pointer_field_to_the_payload_end", [](Packets& p) { p[2][4] = 183; }, "ac", {0, 0, 0, 0, 0}},
      // An adaptation field without payload carries the counter of the packet before it.
      {"adaptation_only_packet",
       [](Packets& p) {
         Bytes only(188, 0xFF);
         std::copy(p[1].begin(), p[1].begin() + 3, only.begin());
         only[3] = static_cast<uint8_t>(0x20 | cc_of(p[1]));
         only[4] = 183;
         only[5] = 0x00;
         p.insert(p.begin() + 2, only);
       },
       "abc", {0, 0, 0, 0, 0}},
      // Packet 3 jumps its counter and says so; B cannot be trusted whole, but no error is counted.
      {"signalled_discontinuity",
       [](Packets& p) {
         Bytes rebuilt(p[3].begin(), p[3].begin() + 4);
         rebuilt[3] = static_cast<uint8_t>(0x30 | cc_of(p[3]));
         rebuilt.insert(rebuilt.end(), {1, 0x80});
         rebuilt.insert(rebuilt.end(), p[3].begin() + 4, p[3].begin() + 186);
         p[3] = rebuilt;
         shift_cc(p, 3, 7);
       },
       "ac", {0, 0, 0, 0, 1}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Packets packets = packets_of(testsupport::packetize(kPid, {a, b, c}));
    ASSERT_EQ(packets.size(), 5u);
    ASSERT_EQ(packets[2][4], 33);
    k.damage(packets);
    Recorder recorder;
    host::Demux demux(recorder);
    demux.subscribe(kPid);
    for (const Bytes& p : packets) demux.feed(std::span<const uint8_t, 188>(p.data(), 188));
    std::vector<Bytes> expected;
    for (char which : k.expected) expected.push_back(which == 'a' ? a : which == 'b' ? b : c);
    EXPECT_EQ(recorder.got, expected);
    const host::Statistics& s = demux.counters();
    EXPECT_EQ((std::array{s.cc_errors, s.duplicates, s.tei_drops, s.malformed_packets, s.dropped_sections}), k.counts);
  }
}

// Packet k of a framing stream: PID k and a payload that never holds a sync byte.
Bytes framing_stream(size_t count, size_t period = 188, uint8_t trailer = 0) {
  Bytes out;
  for (size_t k = 0; k < count; ++k) {
    if (period == 192) out.insert(out.end(), {0, 0, static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)});
    out.insert(out.end(), {0x47, static_cast<uint8_t>((k >> 8) & 0x1F), static_cast<uint8_t>(k), 0x10});
    for (size_t i = 4; i < 188; ++i) out.push_back(static_cast<uint8_t>(0x80 | ((k + i) & 0x3F)));
    if (period == 204) out.insert(out.end(), 16, trailer);
  }
  return out;
}

Bytes with(Bytes s, size_t at, const Bytes& what) {
  s.insert(s.begin() + at, what.begin(), what.end());
  return s;
}
Bytes without(Bytes s, size_t from, size_t to) {
  s.erase(s.begin() + from, s.begin() + to);
  return s;
}
std::vector<uint16_t> ids_except(uint16_t count, std::vector<uint16_t> missing) {
  std::vector<uint16_t> ids;
  for (uint16_t k = 0; k < count; ++k)
    if (std::find(missing.begin(), missing.end(), k) == missing.end()) ids.push_back(k);
  return ids;
}

TEST(PacketFramer, FindsEveryWholePacketAndCountsTheDamageWhateverTheBlockSize) {
  const Bytes garbage(50, 0x33);
  Bytes garbage_with_sync = garbage;
  garbage_with_sync[10] = garbage_with_sync[30] = 0x47;
  Bytes noise(5000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37);
  struct Case {
    std::string name;
    Bytes stream;
    size_t period;
    std::vector<uint16_t> ids;
    uint64_t sync_losses, torn, skipped;
  };
  const std::vector<Case> cases = {
      {"plain_188", framing_stream(12), 188, ids_except(12, {}), 0, 0, 0},
      {"stamped_192", framing_stream(12, 192), 192, ids_except(12, {}), 0, 0, 0},
      // Parity bytes may well hold the sync value; they must not pull the framer off.
      {"trailer_204_full_of_sync_values", framing_stream(12, 204, 0x47), 204, ids_except(12, {}), 0, 0, 0},
      {"garbage_before_first_packet", with(framing_stream(12), 0, garbage), 188, ids_except(12, {}), 0, 0, 50},
      {"garbage_after_trailer", with(framing_stream(12, 204), 6 * 204, garbage_with_sync), 204, ids_except(12, {}), 1, 0, 50},
      // Before the period is known, a packet counts only with four more behind it.
      {"garbage_among_first_packets", with(framing_stream(12), 3 * 188, garbage), 188, ids_except(12, {0, 1, 2}), 0, 0,
       3 * 188 + 50},
      // Packet 5 cut after 100 bytes: the sync byte of packet 6 lies inside it.
      {"torn_stamped_packet_inside", without(framing_stream(12, 192), 5 * 192 + 104, 6 * 192), 192, ids_except(12, {5}),
       1, 1, 104},
      {"torn_last_packet", without(framing_stream(12), 11 * 188 + 120, 12 * 188), 188, ids_except(12, {11}), 0, 1, 120},
      {"trailer_204_last_trailer_short", without(framing_stream(6, 204), 6 * 204 - 9, 6 * 204), 204, ids_except(6, {}),
       0, 0, 0},
      {"no_packets_at_all", noise, 0, {}, 0, 0, noise.size()},
  };
  for (const Case& c : cases) {
    for (const size_t block : {0u, 1u, 7u, 189u, 4096u}) {  // 0: the whole stream at once
      SCOPED_TRACE(c.name + " in blocks of " + std::to_string(block));
      host::PacketFramer framer;
      std::vector<uint16_t> ids;
      auto on_packet = [&](std::span<const uint8_t, 188> p) { ids.push_back(static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2])); };
      auto on_event = [](const host::SyncEvent&) {};
      Bytes held;
      for (size_t at = 0; block && at < c.stream.size(); at += block) {
        held.insert(held.end(), c.stream.begin() + at, c.stream.begin() + std::min(at + block, c.stream.size()));
        const size_t used = framer.frame(held, false, on_packet, on_event);
        EXPECT_LE(held.size() - used, host::FRAMER_LOOKAHEAD + block);
        held.erase(held.begin(), held.begin() + used);
      }
      if (!block) held = c.stream;
      EXPECT_EQ(framer.frame(held, true, on_packet, on_event), held.size());
      EXPECT_EQ(ids, c.ids);
      EXPECT_EQ(framer.counters().sync_losses, c.sync_losses);
      EXPECT_EQ(framer.counters().torn_packets, c.torn);
      if (c.period) {
        EXPECT_EQ(framer.period(), c.period);
        EXPECT_EQ(framer.counters().skipped_bytes, c.skipped);
      }
    }
  }
}

Bytes pat(uint8_t version, uint8_t number, uint8_t last, uint16_t programme = 1) {
  return testsupport::pat_section(0x0042, {{programme, 0x0100}}, version, number, last);
}

TEST(PsiCollector, SubTableComesWholeInOrderOfOneVersionFromSoundSectionsOnly) {
  const std::vector<SectionRequest> requests = {SectionRequest::make(0x0000, 0x00)};
  host::PsiCollector c(requests);
  EXPECT_EQ(c.pids(), std::vector<uint16_t>{0});
  const Bytes s0 = pat(3, 0, 2), s1 = pat(3, 1, 2, 10), s2 = pat(3, 2, 2, 20);
  Bytes bad_crc = pat(3, 1, 2), next_version = pat(3, 1, 2);
  bad_crc[8] ^= 0xFF;
  next_version[5] &= 0xFE;  // current_next_indicator 0
  testsupport::fix_crc(next_version);
  EXPECT_TRUE(c.offer(0x0000, pat(2, 1, 2)));  // an older version, replaced by the next
  EXPECT_TRUE(c.offer(0x0000, s2));
  EXPECT_TRUE(c.offer(0x0000, s0));
  for (const Bytes& unsound : {s0, testsupport::pat_section(0x0043, {{1, 0x100}}, 3, 1, 2), bad_crc, next_version,
                               pat(3, 3, 2), testsupport::short_section(0x00, false, Bytes(20, 0x11)),
                               testsupport::cat_section({}), Bytes{0x00, 0xB0, 0x01, 0x00}}) {
    EXPECT_FALSE(c.offer(0x0000, unsound));  // held already, another stream's, damaged, not current, past the last...
  }
  EXPECT_EQ(c.crc_failures(), 1u);
  EXPECT_FALSE(c.complete());
  EXPECT_TRUE(c.offer(0x0000, s1));
  EXPECT_TRUE(c.complete());
  SectionReply reply{};
  ASSERT_TRUE(c.fill_replies(&reply));
  EXPECT_EQ(hosttest::take(reply), (std::vector<Bytes>{s0, s1, s2}));
}

TEST(Diagnostics, EachKindIsCutOffAfterItsLimitWithOneNote) {
  host::Diagnostics d;
  std::vector<std::string> seen;
  d.set_handler([&](const std::string& m) { seen.push_back(m); });
  for (int i = 0; i < 30; ++i) d.report(host::DiagnosticKind::sync, "sync %d", i);
  d.report(host::DiagnosticKind::continuity, "another kind");
  const size_t limit = host::Diagnostics::PER_KIND_LIMIT;
  ASSERT_EQ(seen.size(), limit + 2);
  EXPECT_EQ(seen[limit - 1], "sync " + std::to_string(limit - 1));
  EXPECT_NE(seen[limit].find("further messages of this kind are not shown"), std::string::npos);
  EXPECT_EQ(seen.back(), "another kind");
}

TEST(Sources, WhatCannotBeOpenedIsSaidWithItsReason) {
  testsupport::TempDir dir;
  Bytes noise(20000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 31 + 7);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir.path() + "/absent.ts", "No such file or directory"},
      {dir.path(), "is a directory"},
      {dir.write("empty.ts", {}), "is empty"},
      {dir.write("noise.ts", noise), "is not a transport stream"},
      {"", "no source given"},
      {"udp://127.0.0.1:99999", "the port \"99999\" is not a number from 1 to 65535"},
      {"udp://127.0.0.1", "the port is missing"},
      {"udp://10.0.0.1@127.0.0.1:1234", "is not a multicast group"},
      // A local address this machine does not have cannot be listened on.
      {"udp://192.0.2.77:40123", "cannot listen on 192.0.2.77:40123"},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_EQ(host::open_source(path, error), nullptr);
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_TRUE(path.starts_with("udp://192") || error.find(path) != std::string::npos) << error;
  }
}

}  // namespace
