// Packet framing: period detection, resynchronisation after garbage, torn packets, and the same
// result whatever the size of the blocks the data arrives in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/framer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Packet k: sync byte, PID k, and a payload of k's low bits that never contains a sync byte.
Bytes make_packet(uint16_t k) {
  Bytes p(188);
  p[0] = 0x47;
  p[1] = static_cast<uint8_t>((k >> 8) & 0x1F);
  p[2] = static_cast<uint8_t>(k);
  p[3] = 0x10;
  for (size_t i = 4; i < 188; ++i) p[i] = static_cast<uint8_t>(0x80 | ((k + i) & 0x3F));
  return p;
}

uint16_t packet_id(const Bytes& p) { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }

struct Layout {
  size_t period;
  uint8_t trailer_fill;  // what a 204-byte stream puts in its 16 trailing bytes
};

// Packets 0..count-1 in the given period, with stamps or trailers.
Bytes make_stream(size_t count, Layout layout = {188, 0}) {
  Bytes out;
  for (size_t k = 0; k < count; ++k) {
    if (layout.period == 192) {
      const auto stamp = static_cast<uint32_t>(k * 1000);
      for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(stamp >> s));
    }
    const Bytes p = make_packet(static_cast<uint16_t>(k));
    out.insert(out.end(), p.begin(), p.end());
    if (layout.period == 204) out.insert(out.end(), 16, layout.trailer_fill);
  }
  return out;
}

struct Framed {
  std::vector<uint16_t> ids;
  host::Statistics counters;
  size_t period = 0;
  size_t events = 0;
};

// Frames in blocks of `block` bytes, carrying the unused rest over as a reader does; 0 = at once.
Framed frame(const Bytes& stream, size_t block = 0) {
  host::PacketFramer framer;
  Framed out;
  auto on_packet = [&](std::span<const uint8_t, 188> p) { out.ids.push_back(packet_id(Bytes(p.begin(), p.end()))); };
  auto on_event = [&](const host::SyncEvent&) { ++out.events; };
  if (block == 0) {
    EXPECT_EQ(framer.frame(stream, true, on_packet, on_event), stream.size());
  } else {
    Bytes held;
    for (size_t at = 0; at < stream.size(); at += block) {
      const size_t n = std::min(block, stream.size() - at);
      held.insert(held.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                  stream.begin() + static_cast<std::ptrdiff_t>(at + n));
      const size_t used = framer.frame(held, false, on_packet, on_event);
      EXPECT_LE(held.size() - used, host::FRAMER_LOOKAHEAD + block);
      held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    }
    EXPECT_EQ(framer.frame(held, true, on_packet, on_event), held.size());
  }
  out.counters = framer.counters();
  out.period = framer.period();
  return out;
}

std::vector<uint16_t> ids_except(size_t count, std::vector<uint16_t> missing) {
  std::vector<uint16_t> ids;
  for (uint16_t k = 0; k < count; ++k) {
    if (std::find(missing.begin(), missing.end(), k) == missing.end()) ids.push_back(k);
  }
  return ids;
}

Bytes insert_at(Bytes s, size_t at, const Bytes& what) {
  s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), what.begin(), what.end());
  return s;
}

Bytes erase_range(Bytes s, size_t from, size_t to) {
  s.erase(s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(to));
  return s;
}

struct Case {
  std::string name;
  Bytes stream;
  size_t period;
  std::vector<uint16_t> ids;
  uint64_t sync_losses;
  uint64_t torn;
  uint64_t skipped;
};

std::vector<Case> cases() {
  const Bytes garbage(50, 0x33);
  Bytes garbage_with_sync = garbage;
  garbage_with_sync[10] = 0x47;
  garbage_with_sync[30] = 0x47;
  return {
      {"plain_188", make_stream(12), 188, ids_except(12, {}), 0, 0, 0},
      {"stamped_192", make_stream(12, {192, 0}), 192, ids_except(12, {}), 0, 0, 0},
      {"trailer_204", make_stream(12, {204, 0}), 204, ids_except(12, {}), 0, 0, 0},
      // Parity bytes may well contain the sync value; they must not pull the framer off.
      {"trailer_204_full_of_sync_values", make_stream(12, {204, 0x47}), 204, ids_except(12, {}), 0, 0, 0},
      {"garbage_before_first_packet", insert_at(make_stream(12), 0, garbage), 188, ids_except(12, {}), 0, 0, 50},
      {"garbage_between_packets", insert_at(make_stream(12), 6 * 188, garbage_with_sync), 188, ids_except(12, {}), 1,
       0, 50},
      {"garbage_after_trailer", insert_at(make_stream(12, {204, 0}), 6 * 204, garbage), 204, ids_except(12, {}), 1,
       0, 50},
      // Three good packets between two stretches of garbage are kept once the period is known.
      {"short_run_between_garbage", insert_at(insert_at(make_stream(14), 9 * 188, garbage), 6 * 188, garbage_with_sync),
       188, ids_except(14, {}), 2, 0, 100},
      // Before the stream has shown its period, packets count only with four more behind them: the
      // first three, cut off by garbage, are not believed.
      {"garbage_among_first_packets", insert_at(make_stream(12), 3 * 188, garbage), 188, ids_except(12, {0, 1, 2}), 0,
       0, 3 * 188 + 50},
      // Packet 5 cut after 100 bytes: the sync byte of packet 6 lies inside it.
      {"torn_packet_inside", erase_range(make_stream(12), 5 * 188 + 100, 6 * 188), 188, ids_except(12, {5}), 1, 1,
       100},
      {"torn_stamped_packet_inside", erase_range(make_stream(12, {192, 0}), 5 * 192 + 4 + 100, 6 * 192), 192,
       ids_except(12, {5}), 1, 1, 104},
      {"torn_last_packet", erase_range(make_stream(12), 11 * 188 + 120, 12 * 188), 188, ids_except(12, {11}), 0, 1,
       120},
      {"single_packet", make_stream(1), 188, ids_except(1, {}), 0, 0, 0},
      {"trailer_204_last_trailer_short", erase_range(make_stream(6, {204, 0}), 6 * 204 - 9, 6 * 204), 204,
       ids_except(6, {}), 0, 0, 0},
  };
}

TEST(PacketFramer, FindsEveryWholePacketAndCountsTheDamage) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const Framed f = frame(c.stream);
    EXPECT_EQ(f.ids, c.ids);
    EXPECT_EQ(f.period, c.period);
    EXPECT_EQ(f.counters.sync_losses, c.sync_losses);
    EXPECT_EQ(f.counters.torn_packets, c.torn);
    EXPECT_EQ(f.counters.skipped_bytes, c.skipped);
  }
}

TEST(PacketFramer, BlockSizeDoesNotChangeTheResult) {
  for (const Case& c : cases()) {
    for (const size_t block : {1u, 7u, 187u, 188u, 189u, 500u, 4096u}) {
      SCOPED_TRACE(c.name + " in blocks of " + std::to_string(block));
      const Framed whole = frame(c.stream);
      const Framed chunked = frame(c.stream, block);
      EXPECT_EQ(chunked.ids, whole.ids);
      EXPECT_EQ(chunked.counters.sync_losses, whole.counters.sync_losses);
      EXPECT_EQ(chunked.counters.torn_packets, whole.counters.torn_packets);
      EXPECT_EQ(chunked.counters.skipped_bytes, whole.counters.skipped_bytes);
    }
  }
}

TEST(PacketFramer, DataWithoutPacketsGivesNothing) {
  Bytes noise(5000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 37) & 0xFF);
  const Framed f = frame(noise);
  EXPECT_TRUE(f.ids.empty());
  EXPECT_EQ(f.counters.sync_losses, 0u);
  const Framed chunked = frame(noise, 333);
  EXPECT_TRUE(chunked.ids.empty());
}

TEST(PacketFramer, ProbeTellsThePeriodOrThatItNeedsMore) {
  EXPECT_EQ(host::PacketFramer::probe(make_stream(8), false).period, 188u);
  EXPECT_EQ(host::PacketFramer::probe(make_stream(8, {192, 0}), false).period, 192u);
  EXPECT_EQ(host::PacketFramer::probe(make_stream(8, {204, 0x47}), false).period, 204u);
  const auto few = host::PacketFramer::probe(make_stream(2), false);
  EXPECT_FALSE(few.found);
  EXPECT_TRUE(few.need_more);
  EXPECT_TRUE(host::PacketFramer::probe(make_stream(2), true).found);
  EXPECT_FALSE(host::PacketFramer::probe(Bytes(4000, 0x00), true).found);
}

TEST(PacketFramer, DatagramsAreFramedOneByOne) {
  host::PacketFramer framer;
  std::vector<uint16_t> ids;
  auto on_packet = [&](std::span<const uint8_t, 188> p) { ids.push_back(packet_id(Bytes(p.begin(), p.end()))); };
  auto on_event = [](const host::SyncEvent&) {};
  const Bytes all = make_stream(14, {192, 0});
  // Two datagrams of seven stamped packets, the second cut short by one packet and a half.
  const Bytes first(all.begin(), all.begin() + 7 * 192);
  const Bytes second(all.begin() + 7 * 192, all.end() - 192 - 96);
  framer.begin_unit();
  framer.frame(first, true, on_packet, on_event);
  framer.begin_unit();
  framer.frame(second, true, on_packet, on_event);
  EXPECT_EQ(ids, ids_except(14, {12, 13}));
  EXPECT_EQ(framer.counters().sync_losses, 0u);
  EXPECT_EQ(framer.counters().torn_packets, 1u);
}

}  // namespace
