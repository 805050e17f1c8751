// Real streams damaged on purpose (bit flips, dropped, duplicated and reordered packets, garbage,
// files cut short), run through framing, demultiplexing, the plug-in's filter and the intake.
//
// The suite knows, from the undamaged stream and a packet reader of its own, which packets carried
// each section. After a damage it knows which packets came through untouched, and so which sections
// kept all their packets in order. It then asks:
//   - every such section is handed on by the demultiplexer, with its own bytes, when its last packet
//     arrives, and its message is in the store;
//   - when no packet was altered inside (loss, duplication, reordering, garbage between packets, a
//     cut), no other section is handed on: nothing spliced from pieces of two sections gets through;
//   - the store holds no bytes that a checked CRC would reject, the counters agree with it, and the
//     rebuilt object carousel holds no file whose content differs from the undamaged one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "carousel/object_carousel.h"
#include "fuzz/capture_chain.h"
#include "host/framer.h"
#include "tests/support/streams.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPacket = host::TS_PACKET_SIZE;

// ---- The undamaged stream and its sections ----------------------------------------------------

struct OriginalSection {
  uint16_t pid = 0;
  Bytes bytes;
  std::vector<size_t> packets;  // indices of the packets that carried it, in order
};

struct Original {
  Bytes bytes;
  size_t period = kPacket;
  size_t prefix = 0;  // bytes in front of each packet (the 192-byte form's timestamp)
  size_t count = 0;
  std::vector<uint16_t> pids;
  std::vector<OriginalSection> sections;

  std::span<const uint8_t> packet(size_t i) const { return std::span<const uint8_t>(bytes).subspan(i * period + prefix, kPacket); }
  std::span<const uint8_t> chunk(size_t i) const { return std::span<const uint8_t>(bytes).subspan(i * period, period); }
};

uint16_t pid_of(std::span<const uint8_t> packet) { return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]); }

// A plain reader for a stream known to be whole: it follows pointer_field, sections that span
// packets, several sections in a packet and stuffing, and notes the packets of every section.
std::vector<OriginalSection> read_sections(const Original& o, uint16_t pid) {
  std::vector<OriginalSection> out;
  OriginalSection current;
  bool active = false;
  auto section_size = [](const Bytes& b) { return 3 + (static_cast<size_t>(b[1] & 0x0F) << 8 | b[2]); };
  // Appends bytes to the section in progress; returns how many it took.
  auto take = [&](std::span<const uint8_t> bytes) {
    size_t used = 0;
    while (used < bytes.size() && (current.bytes.size() < 3 || current.bytes.size() < section_size(current.bytes))) {
      current.bytes.push_back(bytes[used++]);
    }
    if (current.bytes.size() >= 3 && current.bytes.size() == section_size(current.bytes)) {
      out.push_back(current);
      active = false;
    }
    return used;
  };
  for (size_t i = 0; i < o.count; ++i) {
    const auto p = o.packet(i);
    if (pid_of(p) != pid || !(p[3] & 0x10)) continue;
    size_t at = 4;
    if (p[3] & 0x20) at += 1 + p[4];
    const bool unit_start = p[1] & 0x40;
    std::span<const uint8_t> payload = p.subspan(at);
    if (unit_start) {
      const size_t pointer = payload[0];
      std::span<const uint8_t> tail = payload.subspan(1, pointer);
      if (active) {
        current.packets.push_back(i);
        take(tail);
      }
      active = false;
      payload = payload.subspan(1 + pointer);
      while (!payload.empty() && payload[0] != 0xFF) {
        current = OriginalSection{pid, {}, {i}};
        active = true;
        payload = payload.subspan(take(payload));
        if (active) break;
      }
    } else if (active) {
      current.packets.push_back(i);
      take(payload);
    }
  }
  return out;
}

Original load(const std::string& path, size_t period, std::vector<uint16_t> pids) {
  Original o;
  o.bytes = testsupport::read_file(path);
  o.period = period;
  o.prefix = period == 192 ? 4 : 0;
  o.count = o.bytes.size() / period;
  o.pids = std::move(pids);
  for (uint16_t pid : o.pids) {
    auto sections = read_sections(o, pid);
    o.sections.insert(o.sections.end(), sections.begin(), sections.end());
  }
  return o;
}

// ---- Damage -------------------------------------------------------------------------------------

// One piece of a damaged stream: an original packet (with its timestamp or trailer), an altered
// copy of one, or bytes that were never a packet.
struct Piece {
  enum Kind { original, altered, garbage } kind;
  size_t index = 0;
  Bytes bytes;
};

struct Damaged {
  Bytes bytes;
  std::map<size_t, size_t> intact_at;  // offset of a packet that came through unaltered -> its index
  bool altered = false;                // some packet was changed inside
};

Damaged assemble(const Original& o, const std::vector<Piece>& pieces, size_t cut = SIZE_MAX) {
  Damaged d;
  for (const Piece& piece : pieces) {
    if (piece.kind == Piece::original) d.intact_at[d.bytes.size() + o.prefix] = piece.index;
    if (piece.kind == Piece::altered) d.altered = true;
    d.bytes.insert(d.bytes.end(), piece.bytes.begin(), piece.bytes.end());
  }
  if (cut < d.bytes.size()) {
    d.bytes.resize(cut);
    d.intact_at.erase(d.intact_at.lower_bound(cut >= kPacket ? cut - kPacket + 1 : 0), d.intact_at.end());
  }
  return d;
}

std::vector<Piece> whole(const Original& o) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < o.count; ++i) {
    const auto c = o.chunk(i);
    pieces.push_back({Piece::original, i, Bytes(c.begin(), c.end())});
  }
  return pieces;
}

// A small generator of our own: the same numbers with every standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }

 private:
  uint64_t state_;
};

Bytes garbage_bytes(Random& random, size_t n) {
  Bytes b(n);
  // 0x47 is left out so that garbage never looks like the start of a packet.
  for (auto& x : b) {
    x = static_cast<uint8_t>(random.below(256));
    if (x == 0x47) x = 0x46;
  }
  return b;
}

// ---- One run ------------------------------------------------------------------------------------

struct Delivery {
  size_t emitted;  // position, among the emitted packets, of the packet being fed at the time
  uint16_t pid;
  Bytes bytes;
};

struct Emitted {
  long index;  // the original packet's index, or -1 for a packet altered or made of garbage
  uint16_t pid;
  bool error_flag;
};

using StoreKey = std::tuple<std::string, uint32_t, uint32_t, uint32_t, uint32_t>;  // kind, pid, keys

struct CaptureRun {
  std::vector<Emitted> emitted;
  std::vector<Delivery> deliveries;
  std::set<StoreKey> keys;
  std::vector<std::pair<uint32_t, Bytes>> stored;  // pid, section bytes of every stored message
  std::map<std::string, Bytes> files;              // path in the object carousel tree -> content
  int32_t dsi_count = 0, dii_count = 0, ddb_count = 0;
  size_t dsi_entries = 0, dii_downloads = 0, ddb_entries = 0;
};

// Records each file of the object carousel tree by its path.
class PathSink : public ObjectCarouselSink {
 public:
  explicit PathSink(std::map<std::string, Bytes>& files) : files_(files) {}
  Node root_node() override { return add(0, ""); }
  Node programme_node(Node root, uint32_t n) override { return add(root, "/prg" + std::to_string(n)); }
  Node carousel_node(Node p, uint32_t id) override { return add(p, "/oc" + std::to_string(id)); }
  Node directory_node(Node parent, const std::string& id) override { return add(parent, "/" + id); }
  Node file_node(Node parent, const std::string& id, const FileRecord* file) override {
    const Node n = add(parent, "/" + id);
    if (file) files_[paths_[n]] = Bytes(file->content.begin(), file->content.end());
    return n;
  }

 private:
  Node add(Node parent, const std::string& name) {
    paths_.push_back((paths_.empty() ? "" : paths_[parent]) + name);
    return paths_.size() - 1;
  }
  std::map<std::string, Bytes>& files_;
  std::vector<std::string> paths_;
};

CaptureRun capture(const Original& o, const Damaged& d) {
  CaptureRun r;
  robustness::CapturePairs pairs;
  for (uint16_t pid : o.pids) pairs.push_back({1, pid});
  robustness::CaptureChain chain(pairs);
  chain.on_delivered = [&](uint16_t pid, std::span<const uint8_t> section) {
    r.deliveries.push_back({r.emitted.size() - 1, pid, Bytes(section.begin(), section.end())});
  };
  host::PacketFramer framer;
  framer.frame(
      d.bytes, true,
      [&](std::span<const uint8_t, kPacket> packet) {
        const size_t offset = static_cast<size_t>(packet.data() - d.bytes.data());
        const auto found = d.intact_at.find(offset);
        r.emitted.push_back({found == d.intact_at.end() ? -1 : static_cast<long>(found->second), pid_of(packet),
                             (packet[1] & 0x80) != 0});
        chain.feed_packet(packet);
      },
      [](const host::SyncEvent&) {});

  for (const auto& [programme, record] : chain.store.programs) {
    for (const auto& [pid, pr] : record.pids) {
      const auto p = static_cast<uint32_t>(pid);
      for (const auto& [ext, m] : pr->dsi) {
        r.keys.insert({"dsi", p, static_cast<uint32_t>(ext), 0, 0});
        r.stored.push_back({p, m.section->section_bytes()});
        ++r.dsi_entries;
      }
      for (const auto& [download, by_ext] : pr->dii) {
        ++r.dii_downloads;
        for (const auto& [ext, m] : by_ext) {
          r.keys.insert({"dii", p, static_cast<uint32_t>(download), static_cast<uint32_t>(ext), 0});
          r.stored.push_back({p, m.section->section_bytes()});
        }
      }
      for (const auto& [download, modules] : pr->ddb) {
        for (const auto& [module, blocks] : modules) {
          for (const auto& [number, m] : blocks) {
            r.keys.insert({"ddb", p, static_cast<uint32_t>(download), static_cast<uint32_t>(module),
                           static_cast<uint32_t>(number)});
            r.stored.push_back({p, m.section->section_bytes()});
            ++r.ddb_entries;
          }
        }
      }
    }
  }
  r.dsi_count = chain.counters.dsi_count.load();
  r.dii_count = chain.counters.dii_count.load();
  r.ddb_count = chain.counters.ddb_count.load();

  PathSink sink(r.files);
  build_tree(rebuild_carousels(chain.store), sink);
  return r;
}

// Where the store files a section, read straight from its bytes; nothing for a section the intake
// would not file under any key (other tables, other messages).
std::optional<StoreKey> store_key(const OriginalSection& s) {
  const Bytes& b = s.bytes;
  if (b.size() < 12 + 12) return std::nullopt;
  auto be16 = [&](size_t at) { return static_cast<uint32_t>(b[at] << 8 | b[at + 1]); };
  auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
  const size_t message = 8;
  const size_t body = message + 12 + b[message + 9];
  const uint32_t extension = be16(3);
  if (b[0] == 0x3C) {
    if (body + 2 > b.size()) return std::nullopt;
    return StoreKey{"ddb", s.pid, be32(message + 4), be16(body), b[6]};
  }
  if (b[0] != 0x3B) return std::nullopt;
  const uint32_t messageId = be16(message + 2);
  if (messageId == 0x1006) return StoreKey{"dsi", s.pid, extension, 0, 0};
  if (messageId == 0x1002 && body + 4 <= b.size()) return StoreKey{"dii", s.pid, be32(body), extension, 0};
  return std::nullopt;
}

// The checks every damage shares. `baseline` is the run of the undamaged stream.
void check(const Original& o, const Damaged& d, const CaptureRun& baseline, const std::string& what) {
  SCOPED_TRACE(what);
  const CaptureRun r = capture(o, d);

  // The packets of each PID as the demultiplexer met them; a repeat of the packet just before it is
  // a legal duplicate and is passed over, as the demultiplexer does.
  std::map<uint16_t, std::vector<size_t>> by_pid;  // positions in r.emitted
  for (size_t k = 0; k < r.emitted.size(); ++k) {
    auto& list = by_pid[r.emitted[k].pid];
    if (!list.empty()) {
      const Emitted& before = r.emitted[list.back()];
      if (before.index >= 0 && before.index == r.emitted[k].index) continue;
    }
    list.push_back(k);
  }

  std::set<std::pair<size_t, size_t>> expected;  // (emitted position of the last packet, section)
  for (size_t s = 0; s < o.sections.size(); ++s) {
    const OriginalSection& section = o.sections[s];
    const auto& list = by_pid[section.pid];
    const size_t k = section.packets.size();
    for (size_t j = 0; j + k <= list.size(); ++j) {
      bool whole = true;
      for (size_t m = 0; m < k && whole; ++m) {
        const Emitted& e = r.emitted[list[j + m]];
        whole = e.index == static_cast<long>(section.packets[m]);
      }
      if (whole) expected.insert({list[j + k - 1], s});
    }
  }

  // Every section that kept its packets is handed on, with its bytes, when its last packet comes.
  std::set<size_t> intact_sections;
  for (const auto& [position, s] : expected) {
    const OriginalSection& section = o.sections[s];
    const bool found = std::any_of(r.deliveries.begin(), r.deliveries.end(), [&](const Delivery& dl) {
      return dl.emitted == position && dl.pid == section.pid && dl.bytes == section.bytes;
    });
    EXPECT_TRUE(found) << "section " << s << " on PID " << section.pid << " kept all " << section.packets.size()
                       << " packets (first " << section.packets.front() << ") but was not handed on";
    intact_sections.insert(s);
  }

  // Without packets altered inside, nothing but whole original sections comes out.
  std::map<uint16_t, std::set<Bytes>> originals;
  for (const auto& section : o.sections) originals[section.pid].insert(section.bytes);
  if (!d.altered) {
    for (const Delivery& delivery : r.deliveries) {
      EXPECT_TRUE(originals[delivery.pid].count(delivery.bytes))
          << "a section of " << delivery.bytes.size() << " bytes on PID " << delivery.pid
          << " that no packet sequence of the stream carried was handed on";
    }
  }

  // The store: only bytes a CRC vouches for (or that carry no CRC), every intact section's entry.
  for (const auto& [pid, bytes] : r.stored) {
    const bool checked = bytes.size() > 1 && (bytes[1] & 0x80);
    if (checked) {
      EXPECT_TRUE(originals[static_cast<uint16_t>(pid)].count(bytes)) << "a damaged section was stored";
    }
  }
  for (size_t s : intact_sections) {
    const auto key = store_key(o.sections[s]);
    if (key && baseline.keys.count(*key)) {
      EXPECT_TRUE(r.keys.count(*key)) << "section " << s << " came whole but its message is not in the store";
    }
  }
  EXPECT_EQ(r.dsi_count, static_cast<int32_t>(r.dsi_entries));
  EXPECT_EQ(r.dii_count, static_cast<int32_t>(r.dii_downloads));
  EXPECT_EQ(r.ddb_count, static_cast<int32_t>(r.ddb_entries));

  // The rebuilt carousel has no file whose bytes differ from the undamaged one.
  if (!d.altered) {
    for (const auto& [path, content] : r.files) {
      const auto same = baseline.files.find(path);
      ASSERT_NE(same, baseline.files.end()) << path << " is not a file of the undamaged carousel";
      EXPECT_EQ(content, same->second) << path;
    }
  }
  // A damage that touches nothing loses nothing.
  if (intact_sections.size() == o.sections.size()) {
    EXPECT_EQ(r.files.size(), baseline.files.size());
  }
}

// ---- The suite ------------------------------------------------------------------------------------

struct StreamCase {
  const char* name;
  size_t period;
  std::vector<uint16_t> pids;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

std::string case_name(const testing::TestParamInfo<StreamCase>& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

class DamagedStreams : public testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    REQUIRE_STREAM(path, GetParam().name);
    original_ = load(path, GetParam().period, GetParam().pids);
    ASSERT_GT(original_.sections.size(), 5u);
    baseline_ = capture(original_, assemble(original_, whole(original_)));
  }
  Original original_;
  CaptureRun baseline_;
};

TEST_P(DamagedStreams, UndamagedStreamGivesEverySectionOnceAtItsLastPacket) {
  const Damaged d = assemble(original_, whole(original_));
  ASSERT_EQ(baseline_.deliveries.size(), original_.sections.size());
  std::vector<size_t> last_packets;
  for (size_t s = 0; s < original_.sections.size(); ++s) {
    const auto& section = original_.sections[s];
    const auto match = std::find_if(baseline_.deliveries.begin(), baseline_.deliveries.end(),
                                    [&](const Delivery& dl) { return dl.bytes == section.bytes && dl.pid == section.pid &&
                                                                     baseline_.emitted[dl.emitted].index ==
                                                                         static_cast<long>(section.packets.back()); });
    EXPECT_NE(match, baseline_.deliveries.end()) << "section " << s;
  }
  // Every DSM-CC section of the stream reaches the store under the key its own bytes name.
  size_t keyed = 0;
  for (const auto& section : original_.sections) {
    const auto key = store_key(section);
    if (!key) continue;
    ++keyed;
    const bool control = std::get<0>(*key) != "ddb";
    // Control sections of another version than 0 are dropped by the intake's rule.
    if (control && (section.bytes[5] & 0x3E) != 0) continue;
    EXPECT_TRUE(baseline_.keys.count(*key)) << std::get<0>(*key) << " section not stored";
  }
  EXPECT_GT(keyed, 0u);
  check(original_, d, baseline_, "undamaged");
}

TEST_P(DamagedStreams, BitFlips) {
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces = whole(original_);
    const size_t flips = 1 + original_.count / 25;
    for (size_t f = 0; f < flips; ++f) {
      Piece& piece = pieces[random.below(pieces.size())];
      const size_t at = original_.prefix + random.below(kPacket);
      piece.bytes[at] = static_cast<uint8_t>(piece.bytes[at] ^ (1u << random.below(8)));
      piece.kind = Piece::altered;
    }
    check(original_, assemble(original_, pieces), baseline_, "bit flips, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, DroppedPackets) {
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces;
    // Never 16 packets of one PID in a row: a continuity counter cannot show such a loss, and
    // no demultiplexer can tell it from none.
    std::map<uint16_t, int> run_of;
    for (const Piece& piece : whole(original_)) {
      const uint16_t pid = pid_of(original_.packet(piece.index));
      if (random.below(100) < 3 && run_of[pid] < 15) {
        ++run_of[pid];
        continue;
      }
      run_of[pid] = 0;
      pieces.push_back(piece);
    }
    check(original_, assemble(original_, pieces), baseline_, "dropped packets, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, PacketsRepeatedAtOnceLoseNothing) {
  Random random(7);
  std::vector<Piece> pieces;
  for (const Piece& piece : whole(original_)) {
    pieces.push_back(piece);
    if (random.below(10) == 0) pieces.push_back(piece);
  }
  check(original_, assemble(original_, pieces), baseline_, "repeated packets");
  const CaptureRun r = capture(original_, assemble(original_, pieces));
  EXPECT_EQ(r.deliveries.size(), baseline_.deliveries.size());
  EXPECT_EQ(r.keys, baseline_.keys);
  EXPECT_EQ(r.files, baseline_.files);
}

TEST_P(DamagedStreams, PacketsRepeatedLater) {
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces = whole(original_);
    for (size_t n = 0; n < original_.count / 30; ++n) {
      const size_t from = random.below(pieces.size());
      const size_t to = std::min(pieces.size(), from + 2 + random.below(20));
      const Piece copy = pieces[from];
      pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(to), copy);
    }
    check(original_, assemble(original_, pieces), baseline_, "late repeats, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, ReorderedPackets) {
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces = whole(original_);
    for (size_t n = 0; n < original_.count / 30; ++n) {
      const size_t a = random.below(pieces.size());
      const size_t b = std::min(pieces.size() - 1, a + 1 + random.below(6));
      std::swap(pieces[a], pieces[b]);
    }
    check(original_, assemble(original_, pieces), baseline_, "reordered packets, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, GarbageBetweenPackets) {
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces;
    for (const Piece& piece : whole(original_)) {
      if (random.below(40) == 0) pieces.push_back({Piece::garbage, 0, garbage_bytes(random, 1 + random.below(400))});
      pieces.push_back(piece);
    }
    check(original_, assemble(original_, pieces), baseline_, "garbage between packets, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, GarbageInsidePackets) {
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    Random random(seed);
    std::vector<Piece> pieces = whole(original_);
    for (size_t n = 0; n < original_.count / 40 + 1; ++n) {
      Piece& piece = pieces[random.below(pieces.size())];
      const Bytes junk = garbage_bytes(random, 1 + random.below(200));
      const size_t at = original_.prefix + 1 + random.below(kPacket - 1);
      piece.bytes.insert(piece.bytes.begin() + static_cast<std::ptrdiff_t>(at), junk.begin(), junk.end());
      piece.kind = Piece::altered;
    }
    check(original_, assemble(original_, pieces), baseline_, "garbage inside packets, seed " + std::to_string(seed));
  }
}

TEST_P(DamagedStreams, FileCutAtManyPoints) {
  const std::vector<Piece> pieces = whole(original_);
  const size_t size = original_.bytes.size();
  Random random(11);
  std::vector<size_t> cuts = {0, 1, kPacket - 1, kPacket, size / 2, size - 1};
  for (size_t n = 0; n < 24; ++n) cuts.push_back(random.below(size));
  for (size_t n = 0; n < 6; ++n) cuts.push_back(random.below(original_.count) * original_.period);
  for (size_t cut : cuts) check(original_, assemble(original_, pieces, cut), baseline_, "cut at " + std::to_string(cut));
}

INSTANTIATE_TEST_SUITE_P(SharedStreams, DamagedStreams,
                         testing::Values(StreamCase{"hbbtv-sevent.ts", 188, {0x138E, 0x138F}},
                                         StreamCase{"mhp-ocdir1.ts", 188, {0x07D3}},
                                         StreamCase{"mhp-ocdir1.m2ts", 192, {0x07D3}},
                                         StreamCase{"mhp-ocdir1-204.ts", 204, {0x07D3}},
                                         StreamCase{"synthetic-oc-dsi-dii-ddb.ts", 188, {0x00C8}}),
                         case_name);

}  // namespace
