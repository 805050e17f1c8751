// Streams damaged on purpose (bit flips, lost, repeated and reordered packets, garbage, files cut
// short) run through framing, demultiplexing, the plug-in's filter, the intake, the rebuild and the
// save. The undamaged run tells which packets carried each section; after a damage, every section
// whose packets all came through untouched and in order is handed on, with its own bytes, when its
// last packet arrives; without a packet altered inside, nothing else is; and no saved file ever
// differs from a file that the stream (one version of its carousel) really carried.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "fuzz/capture_chain.h"
#include "save/carousel_save.h"
#include "tests/support/helpers.h"
#include "tests/support/streams.h"
#include "tests/support/trust_builder.h"
#include "tests/support/ts_builder.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, std::string>;

// The standard fixes this engine's numbers, so a seed gives the same damage everywhere.
struct Random : std::mt19937_64 {
  using std::mt19937_64::mt19937_64;
  size_t below(size_t n) { return static_cast<size_t>((*this)() % n); }
};

// One piece of a damaged stream: original packet `index` with its stamp or trailer, or (-1) bytes
// that are no original packet.
struct Piece {
  long index;
  Bytes bytes;
};

struct Capture {
  std::vector<std::pair<long, uint16_t>> emitted;  // original packet index (or -1) and PID of each framed packet
  std::vector<std::tuple<size_t, uint16_t, Bytes>> deliveries;  // emitted position, PID, section
  Files saved;
};

Capture capture(const std::vector<Piece>& pieces, size_t prefix, const std::vector<uint16_t>& pids) {
  Bytes bytes;
  std::map<size_t, long> index_at;
  for (const Piece& p : pieces) {
    if (p.index >= 0) index_at[bytes.size() + prefix] = p.index;
    bytes.insert(bytes.end(), p.bytes.begin(), p.bytes.end());
  }
  Capture r;
  robustness::CapturePairs pairs;
  for (uint16_t pid : pids) pairs.push_back({1, pid});
  robustness::CaptureChain chain(pairs);
  chain.on_delivered = [&](uint16_t pid, std::span<const uint8_t> s) {
    r.deliveries.emplace_back(r.emitted.size() - 1, pid, Bytes(s.begin(), s.end()));
  };
  host::PacketFramer framer;
  framer.frame(
      bytes, true,
      [&](std::span<const uint8_t, 188> p) {
        const auto found = index_at.find(static_cast<size_t>(p.data() - bytes.data()));
        r.emitted.emplace_back(found == index_at.end() ? -1 : found->second, (p[1] & 0x1F) << 8 | p[2]);
        chain.feed_packet(p);
      },
      [](const host::SyncEvent&) {});
  ts::TempDir dir;
  save::SaveOptions options;
  options.dir = dir.path() + "/out";
  EXPECT_TRUE(save::save_carousels(carousel::rebuild_carousels(chain.store), options).ok());
  for (const auto& entry : fs::recursive_directory_iterator(options.dir)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".txt") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    r.saved[fs::relative(entry.path(), options.dir).string()] = {std::istreambuf_iterator<char>(in), {}};
  }
  return r;
}

enum Damage { bit_flips, losses, repeats_at_once, repeats_later, swaps, garbage_between, garbage_inside, cut_short };
// Damages that change bytes inside packets; that leave every section whole.
constexpr bool alters(Damage d) { return d == bit_flips || d == garbage_inside; }
constexpr bool loses_nothing(Damage d) { return d == repeats_at_once; }

Bytes garbage(Random& random, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(random.below(255) + 1);
  for (auto& x : b) x = x == 0x47 ? 0 : x;  // never a sync byte
  return b;
}

// A few packets in a hundred hit by the damage. Never 16 packets of one PID are lost in a row: no
// continuity counter can show such a loss.
std::vector<Piece> damaged(const std::vector<Piece>& whole, Damage damage, Random& random, size_t prefix) {
  std::vector<Piece> out;
  std::map<uint16_t, int> lost;
  std::multimap<size_t, Piece> later;
  for (size_t k = 0; k < whole.size(); ++k) {
    for (auto due = later.begin(); due != later.end() && due->first <= k; due = later.erase(due)) out.push_back(due->second);
    Piece p = whole[k];
    const uint16_t pid = static_cast<uint16_t>((p.bytes[prefix + 1] & 0x1F) << 8 | p.bytes[prefix + 2]);
    const bool hit = random.below(100) < 3;
    if (hit && damage == losses && lost[pid] < 15) {
      ++lost[pid];
      continue;
    }
    lost[pid] = 0;
    if (hit && damage == bit_flips) p.bytes[prefix + random.below(188)] ^= static_cast<uint8_t>(1u << random.below(8));
    if (hit && damage == garbage_inside) {
      const Bytes junk = garbage(random, 1 + random.below(200));
      p.bytes.insert(p.bytes.begin() + prefix + 1 + random.below(187), junk.begin(), junk.end());
    }
    if (hit && alters(damage)) p.index = -1;
    if (hit && damage == garbage_between) out.push_back({-1, garbage(random, 1 + random.below(400))});
    out.push_back(p);
    if (hit && damage == repeats_at_once) out.push_back(p);
    if (hit && damage == repeats_later) later.insert({k + 2 + random.below(20), p});
    if (hit && damage == swaps && out.size() > 6) std::swap(out.back(), out[out.size() - 2 - random.below(5)]);
  }
  if (damage == cut_short) {
    out.resize(random.below(out.size() + 1));
    if (!out.empty()) out.back() = {-1, Bytes(out.back().bytes.begin(), out.back().bytes.begin() + random.below(out.back().bytes.size()))};
  }
  return out;
}

std::vector<Piece> pieces_of(const Bytes& stream, size_t period) {
  std::vector<Piece> out;
  for (size_t i = 0; (i + 1) * period <= stream.size(); ++i)
    out.push_back({static_cast<long>(i), Bytes(stream.begin() + i * period, stream.begin() + (i + 1) * period)});
  return out;
}

// Modules 2 and 3 differ between the versions; module 3 is compressed.
ts::OcCarousel version(uint8_t v) {
  ts::OcCarousel oc(0x10);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "index.html", ts::noise_bytes(1500u + v, v), 2);
  oc.add_file(apps, "app.js", ts::noise_bytes(2500, 10u + v), 3);
  oc.add_file(oc.gateway(), "logo.png", ts::noise_bytes(900, 20), 1);
  oc.set_compressed(3);
  oc.set_version(v);
  return oc;
}

struct StreamCase {
  const char* name;  // a shared stream, or "" for the builder's carousel updated mid-capture
  size_t period;
  std::vector<uint16_t> pids;
};

class DamagedStreams : public testing::TestWithParam<StreamCase> {};

TEST_P(DamagedStreams, KeepEveryIntactSectionAndNeverSaveADamagedFile) {
  const StreamCase& c = GetParam();
  const size_t prefix = c.period == 192 ? 4 : 0;
  Bytes stream;
  std::set<std::string> allowed;  // path + '\n' + content of every file that may be saved
  Files latest;
  if (c.name[0]) {
    REQUIRE_STREAM(path, c.name);
    stream = ts::read_file(path);
  } else {
    // Version 1 twice, the update caught after two of its blocks, version 2 twice. A file of either
    // version may be saved.
    const ts::OcCarousel v1 = version(1), v2 = version(2);
    for (const ts::OcCarousel* oc : {&v1, &v2}) {
      latest = capture(pieces_of(ts::packetize(c.pids[0], oc->sections(256)), 188), 0, c.pids).saved;
      for (const auto& [file, content] : latest) allowed.insert(file + '\n' + content);
    }
    std::vector<ts::ByteVec> sent = v1.sections(256);
    for (const auto& s : ts::update_mid_capture(v1, v2, 2, 256)) sent.push_back(s);
    for (const auto& s : v2.sections(256)) sent.push_back(s);
    stream = ts::packetize(c.pids[0], sent);
  }
  const std::vector<Piece> whole = pieces_of(stream, c.period);
  const Capture base = capture(whole, prefix, c.pids);
  ASSERT_GT(base.deliveries.size(), 5u);
  if (c.name[0]) {
    for (const auto& [file, content] : base.saved) allowed.insert(file + '\n' + content);
  } else {
    EXPECT_EQ(base.saved, latest) << "the undamaged capture saves the latest version";
  }
  std::map<uint16_t, std::set<Bytes>> originals;
  for (uint16_t pid : c.pids) originals[pid];
  for (const auto& [position, pid, bytes] : base.deliveries) originals[pid].insert(bytes);
  // Which packets carried each section: on its PID, from the packet that ended the section before it
  // (where this one may have begun) to the one that ended it.
  struct Carried {
    uint16_t pid;
    std::vector<long> packets;
    Bytes bytes;
  };
  std::vector<Carried> carried;
  std::map<uint16_t, std::vector<long>> since;
  for (size_t k = 0, d = 0; k < base.emitted.size(); ++k) {
    auto& run = since[base.emitted[k].second];
    run.push_back(base.emitted[k].first);
    for (; d < base.deliveries.size() && std::get<0>(base.deliveries[d]) == k; ++d) {
      carried.push_back({base.emitted[k].second, run, std::get<2>(base.deliveries[d])});
      run = {base.emitted[k].first};
    }
  }
  for (const Damage damage : {bit_flips, losses, repeats_at_once, repeats_later, swaps, garbage_between, garbage_inside, cut_short}) {
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      SCOPED_TRACE("damage " + std::to_string(damage) + ", seed " + std::to_string(seed));
      Random random(seed);
      const Capture r = capture(damaged(whole, damage, random, prefix), prefix, c.pids);
      // The packets of each PID as the demultiplexer met them, a repeat of the one before passed over.
      std::map<uint16_t, std::vector<size_t>> by_pid;
      std::map<std::pair<uint16_t, long>, std::vector<size_t>> where;  // places of an original packet in by_pid
      for (size_t k = 0; k < r.emitted.size(); ++k) {
        const auto [index, pid] = r.emitted[k];
        auto& list = by_pid[pid];
        if (index >= 0 && !list.empty() && r.emitted[list.back()].first == index) continue;
        if (index >= 0) where[{pid, index}].push_back(list.size());
        list.push_back(k);
      }
      std::set<std::pair<size_t, Bytes>> got;
      for (const auto& [position, pid, bytes] : r.deliveries) {
        got.insert({position, bytes});
        EXPECT_TRUE(alters(damage) || originals[pid].count(bytes)) << "a section no packet sequence carried came out";
      }
      for (const Carried& s : carried) {
        const auto found = where.find({s.pid, s.packets[0]});
        if (found == where.end()) continue;
        const auto& list = by_pid[s.pid];
        for (size_t j : found->second) {
          bool kept = j + s.packets.size() <= list.size();
          for (size_t m = 0; kept && m < s.packets.size(); ++m) kept = r.emitted[list[j + m]].first == s.packets[m];
          EXPECT_TRUE(!kept || got.count({list[j + s.packets.size() - 1], s.bytes})) << "an intact section was lost";
        }
      }
      for (const auto& [file, content] : r.saved) EXPECT_TRUE(allowed.count(file + '\n' + content)) << file;
      EXPECT_TRUE(!loses_nothing(damage) || r.saved == base.saved) << "a damage that keeps every section lost a file";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, DamagedStreams,
                         testing::Values(StreamCase{"", 188, {0x100}}, StreamCase{"hbbtv-sevent.ts", 188, {0x138E, 0x138F}},
                                         StreamCase{"mhp-ocdir1.ts", 188, {0x07D3}},
                                         StreamCase{"mhp-ocdir1.m2ts", 192, {0x07D3}},
                                         StreamCase{"mhp-ocdir1-204.ts", 204, {0x07D3}},
                                         StreamCase{"synthetic-oc-dsi-dii-ddb.ts", 188, {0x00C8}}));

}  // namespace
