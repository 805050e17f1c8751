// Captures of a file through the host's delivery thread: what the filters get, when and how often;
// the counters and messages about damage; PSI requests, on standard input; filters added, removed and
// the host stopped while callbacks run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "host/file_pass.h"
#include "tests/host/host_util.h"

namespace {

using namespace hosttest;
using std::chrono::milliseconds;

struct Captured {
  std::vector<Bytes> sections;
  host::Statistics stats;
};

// A file of `stream` captured to its end with one filter.
Captured capture_of(const Bytes& stream, const FilterArgs& filter) {
  testsupport::TempDir dir;
  host::Host host;
  Captured c;
  EXPECT_EQ(host.open(dir.write("s.ts", stream)), "");
  SectionLog log;
  EXPECT_TRUE(capture_to_end(host, filter, log));
  host.stop();
  c.sections = log.snapshot();
  c.stats = host.statistics();
  return c;
}

TEST(Capture, EveryPacketisationComesOutOfTheFilterAsBuilt) {
  // DSM-CC sections of awkward sizes, between them sections of other tables the filter keeps out.
  std::vector<Bytes> all, dsmcc;
  uint8_t seed = 0;
  for (size_t size : {183u, 184u, 185u, 4096u, 12u, 186u, 3u, 371u, 1000u, 182u, 4093u, 20u}) {
    dsmcc.push_back(section_of(size, seed % 3 ? 0x3C : 0x3B, seed));
    all.push_back(dsmcc.back());
    if (seed++ % 4 == 1) all.push_back(section_of(100, static_cast<uint8_t>(0x40 + seed), seed));
  }
  // packet size, sections packed, adaptation field, null packets (damage is the framer's and the demux's)
  const std::vector<std::tuple<size_t, bool, std::optional<uint8_t>, size_t>> layouts = {
      {188, true, std::nullopt, 0}, {188, false, std::nullopt, 0}, {192, true, std::nullopt, 0},
      {204, true, std::nullopt, 1}, {188, false, uint8_t{181}, 0}, {188, true, uint8_t{60}, 3}};
  for (const auto& [size, pack, adaptation, nulls] : layouts) {
    SCOPED_TRACE(::testing::PrintToString(std::make_tuple(size, pack, adaptation, nulls)));
    testsupport::PacketizerOptions o;
    o.packet_size = size;
    o.pack_sections = pack;
    o.adaptation_field_length = adaptation;
    o.null_packets_after_each = nulls;
    const Bytes stream = testsupport::packetize(kPid, all, o);
    const Captured r = capture_of(stream, {kPid, {0x38}, {0x38}});
    EXPECT_EQ(r.sections, dsmcc);
    EXPECT_EQ(r.stats.sections_delivered, dsmcc.size());
    EXPECT_EQ(r.stats.cc_errors, 0u);
  }
}

TEST(Capture, FiltersMatchTheirBytesUnderTheMaskOnTheirPidOnly) {
  const Bytes a = section_of(40, 0x3B, 1), b = section_of(40, 0x3C, 2), c = section_of(300, 0x42, 3);
  const Bytes tiny = section_of(3, 0x3E, 0);  // header only
  testsupport::Packetizer p;
  p.add_sections(kPid, {a, b, c, tiny});
  p.add_section(host::PID_COUNT - 1, a);
  const Bytes stream = p.take();
  const std::vector<std::pair<FilterArgs, std::vector<Bytes>>> cases = {
      {{kPid, {}, {}}, {a, b, c, tiny}},
      {{kPid, {0x99}, {0x00}}, {a, b, c, tiny}},
      {{kPid, {0x38}, {0x38}}, {a, b, tiny}},
      {{kPid, {0x3C}, {0xFF}}, {b}},
      {{kPid, {0x3B, 0x00, 37}, {0xFF, 0x00, 0xFF}}, {a}},  // table and section_length
      {{kPid, {0x3E, 0, 0, 0}, {0xFF, 0, 0, 0}}, {}},       // longer than the section
      {{0x0100, {}, {}}, {}},
      {{host::PID_COUNT - 1, {}, {}}, {a}},
  };
  for (const auto& [filter, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(filter.match));
    EXPECT_EQ(capture_of(stream, filter).sections, expected);
  }
  host::Host host;
  ISectionFilter* filters = service<ISectionFilter>(host);
  uint32_t handle = 0;
  auto add = [&](uint32_t pid, const Bytes& match, SectionCallback callback) {
    const auto length = static_cast<uint32_t>(match.size());
    return filters->AddSectionFilter(pid, match.data(), match.data(), length, callback, nullptr, &handle);
  };
  EXPECT_LT(add(host::PID_COUNT, {0x3C}, &SectionLog::callback), 0);
  EXPECT_LT(add(kPid, Bytes(host::MAX_FILTER_LENGTH + 1, 0), &SectionLog::callback), 0);
  EXPECT_LT(add(kPid, {}, nullptr), 0);
  EXPECT_LT(filters->RemoveSectionFilter(12345), 0);
  filters->Release();
}

// Each pass over a damaged file: the same sections and messages, with no continuity history carried
// over from the pass before.
TEST(Capture, EachCaptureGetsTheWholeFileAfreshOnlyOnceItBeginsWithItsDamageReportedAndCounted) {
  const auto sections = numbered_sections(60);
  Bytes stream = testsupport::packetize(kPid, sections);
  stream.erase(stream.begin() + 4 * 188, stream.begin() + 5 * 188);
  stream[8 * 188 + 1] |= 0x80;
  stream.insert(stream.begin() + 12 * 188, {0x01, 0x02, 0x03});
  ASSERT_NE(stream.size() / 188 % 16, 0u) << "the last counter must not lead on to the first";
  testsupport::TempDir dir;
  host::Host host;
  std::vector<std::string> messages;
  host.set_diagnostic_handler([&](const std::string& m) { messages.push_back(m); });
  ASSERT_EQ(host.open(dir.write("s.ts", stream)), "");
  ISectionFilter* filters = service<ISectionFilter>(host);
  SectionLog log;
  uint32_t handle = 0;
  filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &SectionLog::callback, &log, &handle);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(log.count(), 0u) << "nothing is delivered before the capture begins";
  std::vector<Bytes> first;
  for (int capture = 0; capture < 3; ++capture) {
    SCOPED_TRACE(capture);
    const EndOfInput end(host);
    messages.clear();
    ASSERT_TRUE(host.begin_capture());
    ASSERT_TRUE(end.wait());
    const std::vector<Bytes> got = log.snapshot();
    if (capture == 0) first = got;
    EXPECT_EQ(got.size(), (capture + 1) * first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), got.end() - static_cast<ptrdiff_t>(first.size())));
    // What comes out is sections as sent, in order; two damaged packets touch at most ten of them.
    auto at = sections.begin();
    for (const Bytes& section : first) at = std::find(at, sections.end(), section);
    EXPECT_TRUE(at != sections.end() && first.size() >= sections.size() - 10) << first.size();
    EXPECT_EQ(
        messages,
        (std::vector<std::string>{
            "PID 0x0bb9: continuity_counter 5 where 4 was expected; the partial section was dropped",
            "PID 0x0bb9: packet with transport_error_indicator dropped; the partial section was dropped",
            "sync byte missing at byte 2256; packets found again at byte 2259"}));
    const host::Statistics s = host.statistics();
    EXPECT_TRUE(s.input_ended);
    EXPECT_EQ(s.bytes, stream.size());
    // Only the first pass's counts: the demultiplexer's run on over the passes, the framer's do not.
    if (capture == 0) {
      EXPECT_EQ(std::make_tuple(s.cc_errors, s.tei_drops, s.sync_losses, s.torn_packets, s.skipped_bytes),
                std::make_tuple(1u, 1u, 1u, 0u, 3u));
    }
  }
  filters->RemoveSectionFilter(handle);
  filters->Release();
}

// How many callbacks run at once, and how many ran when they should not have.
std::atomic<int> g_inside{0}, g_violations{0};

// Knows whether a callback of its filter is running and whether its filter was removed; it is freed
// right after the removal, so a late call touches freed memory (the sanitizers catch it, the flags
// without them). Given `filters`, its first callback installs one more filter.
struct Watched {
  std::atomic<bool> running{false}, removed{false};
  std::atomic<int> calls{0};
  ISectionFilter* filters = nullptr;
  SectionLog late;
  static void callback(void* context, uint32_t, const uint8_t*) {
    auto* w = static_cast<Watched*>(context);
    if (g_inside.fetch_add(1) != 0 || w->removed.load()) g_violations.fetch_add(1);
    w->running.store(true);
    uint32_t handle = 0;
    if (w->calls.fetch_add(1) == 0 && w->filters)
      w->filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &SectionLog::callback, &w->late, &handle);
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // removals often land inside
    w->running.store(false);
    g_inside.fetch_sub(1);
  }
};

TEST(Capture, NoCallbackOverlapsOrRunsOnceItsRemovalOrStopReturned) {
  testsupport::Packetizer p;
  const auto sections = numbered_sections(3000, 160);
  for (size_t k = 0; k < sections.size(); ++k)
    p.add_section(static_cast<uint16_t>(kPid + k % 3), sections[k]);
  testsupport::TempDir dir;
  host::Host host;
  ASSERT_EQ(host.open(dir.write("busy.ts", p.take())), "");
  ISectionFilter* filters = service<ISectionFilter>(host);
  std::vector<std::unique_ptr<Watched>> watched;
  std::vector<uint32_t> handles(13);
  for (size_t i = 0; i < handles.size(); ++i) {
    Watched* w = watched.emplace_back(std::make_unique<Watched>()).get();
    w->filters = i == 12 ? filters : nullptr;
    filters->AddSectionFilter(static_cast<uint32_t>(kPid + i % 3), nullptr, nullptr, 0, &Watched::callback, w,
                              &handles[i]);
  }
  host.begin_capture();
  while (watched[0]->calls.load() < 20) std::this_thread::sleep_for(milliseconds(1));
  for (size_t i = 0; i + 1 < watched.size(); ++i) {
    ASSERT_EQ(filters->RemoveSectionFilter(handles[i]), S_OK);
    if (watched[i]->running.load()) g_violations.fetch_add(1);
    watched[i]->removed.store(true);
    watched[i].reset();
    std::this_thread::sleep_for(milliseconds(3));
  }
  host.stop();
  Watched& last = *watched.back();
  const int calls = last.calls.load();
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(last.calls.load(), calls);
  EXPECT_FALSE(last.running.load());
  EXPECT_FALSE(host.statistics().input_ended) << "the removals and the stop should land during delivery";
  EXPECT_EQ(g_violations.load(), 0);
  // The filter installed from inside a callback got the sections that followed.
  std::vector<Bytes> on_pid;
  for (size_t k = 0; k < sections.size(); k += 3) on_pid.push_back(sections[k]);
  const auto late = last.late.snapshot();
  ASSERT_FALSE(late.empty());
  const auto from = std::find(on_pid.begin(), on_pid.end(), late.front());
  ASSERT_LE(late.size(), static_cast<size_t>(on_pid.end() - from));
  EXPECT_TRUE(std::equal(late.begin(), late.end(), from));
  filters->Release();
}

// Standard input redirected from a file is read like the file: from its start for each request and
// for the capture.
TEST(PsiRequests, FromAFileOnStandardInputTheyComeWholeAndInOrderWhateverTheCaptureDid) {
  const Bytes pat0 = testsupport::pat_section(0x0042, {{0, 0x0010}, {1, 0x0100}, {2, 0x0101}}, 4, 0, 1);
  const Bytes pat1 = testsupport::pat_section(0x0042, {{3, 0x0101}}, 4, 1, 1);
  const Bytes pmt1 =
      testsupport::pmt_section(1, 0x0200, {}, {{0x0B, kPid, testsupport::carousel_id_descriptor(7)}});
  const Bytes pmt2 = testsupport::pmt_section(2, 0x0200, {}, {{0x02, 0x0201, {}}});
  const Bytes pmt3 = testsupport::pmt_section(3, 0x0200, {}, {{0x0D, 0x0BBA, {}}});
  Bytes broken = testsupport::pat_section(0x0042, {{9, 0x0999}}, 4, 0, 1);  // fails its CRC
  broken.back() ^= 0x01;
  testsupport::Packetizer p;
  const auto sections = numbered_sections(2000, 400);
  p.add_sections(kPid, sections);  // the PSI lies well into the file
  for (const auto& [pid, section] : std::vector<std::pair<uint16_t, Bytes>>{
           {0, broken}, {0, pat1}, {0x101, pmt3}, {0, pat0}, {0x100, pmt1}, {0x101, pmt2}})
    p.add_section(pid, section);
  testsupport::TempDir dir;
  host::Host host;
  ASSERT_EQ(open_on_stdin(host, dir.write("psi.ts", p.take())), "");
  EXPECT_FALSE(host.is_live());
  ISISection* si = service<ISISection>(host);
  std::vector<std::string> messages;
  host.set_diagnostic_handler([&](const std::string& text) { messages.push_back(text); });
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply[4] = {};
  ASSERT_EQ(si->RequestSections(1, &pat, 30, reply), S_OK);
  EXPECT_EQ(take(reply[0]), (std::vector<Bytes>{pat0, pat1}));
  EXPECT_EQ(messages, std::vector<std::string>{"1 PSI sections failed their CRC-32 check and were ignored"});
  const SectionRequest pmts[4] = {
      SectionRequest::make(0x0100, 0x02, true, 1), SectionRequest::make(0x0101, 0x02, true, 2),
      SectionRequest::make(0x0101, 0x02, true, 3), SectionRequest::make(0x0102, 0x02, true, 4)};
  ASSERT_EQ(si->RequestSections(4, pmts, 30, reply), S_OK);
  EXPECT_EQ(take(reply[0]), std::vector<Bytes>{pmt1});
  EXPECT_EQ(take(reply[1]), std::vector<Bytes>{pmt2});
  EXPECT_EQ(take(reply[2]), std::vector<Bytes>{pmt3});
  EXPECT_EQ(reply[3].count, 0);
  // After a capture has read the whole file, a request reads it from its start again; a PSI pass is
  // no part of the capture's statistics; what is not there ends the request at the end of the file.
  SectionLog log;
  ASSERT_TRUE(capture_to_end(host, {kPid, {}, {}}, log));
  EXPECT_EQ(log.snapshot(), sections);
  ASSERT_EQ(si->RequestSections(1, &pat, 30, reply), S_OK);
  EXPECT_EQ(take(reply[0]), (std::vector<Bytes>{pat0, pat1}));
  EXPECT_EQ(host.statistics().sections_delivered, 2000u);
  const SectionRequest cat = SectionRequest::make(0x0001, 0x01);
  reply[0] = {5, nullptr};
  ASSERT_EQ(si->RequestSections(1, &cat, 30, reply), S_OK);
  EXPECT_EQ(reply[0].count, 0);
  EXPECT_LT(si->RequestSections(1, nullptr, 30, reply), 0);
  si->Release();
  host::Host no_source;
  EXPECT_EQ(open_on_stdin(no_source, dir.write("empty.ts", {})), "standard input is empty");
  si = service<ISISection>(no_source);
  EXPECT_LT(si->RequestSections(1, &pat, 1, reply), 0);
  si->Release();
}

// What a pass hands on, in order: the sections of kPid and the framer's events between them.
struct PassTrace final : host::SectionSink {
  std::vector<std::string> seen;
  void on_section(uint16_t pid, std::span<const uint8_t> s) override {
    if (pid == kPid) seen.emplace_back("section " + std::string(s.begin(), s.end()));
  }
  void on_sync(const host::SyncEvent& e) {
    seen.push_back("sync " + std::to_string(e.kind) + " " + std::to_string(e.lost_at) + "-" +
                   std::to_string(e.found_at));
  }
};

// The whole of `stream` framed in one call, as the reference for a pass over a file of it.
std::pair<std::vector<std::string>, host::Statistics> framed_at_once(const Bytes& stream) {
  PassTrace trace;
  host::Demux demux(trace);
  demux.subscribe(kPid);
  host::PacketFramer framer;
  framer.frame(
      stream, true, [&](std::span<const uint8_t, 188> p) { demux.feed(p); },
      [&](const host::SyncEvent& e) { trace.on_sync(e); });
  return {trace.seen, framer.counters()};
}

struct PassResult {
  bool ok = false;
  std::string error;
  std::vector<std::string> seen;
  uint64_t bytes = 0;
  host::Statistics framed;  // the framer's counters at the pass's end
};

// A pass over the file at `path`; `after_open` runs between opening it and the pass.
PassResult file_pass(const std::string& path, const std::function<void()>& after_open = {}) {
  PassResult r;
  auto source = host::open_source(path, r.error);
  EXPECT_NE(source, nullptr) << r.error;
  if (!source) return r;
  if (after_open) after_open();
  PassTrace trace;
  host::Demux demux(trace);
  demux.subscribe(kPid);
  host::PacketFramer framer;
  host::FilePassHooks hooks;
  hooks.on_sync = [&](const host::SyncEvent& e) { trace.on_sync(e); };
  hooks.after_block = [&](uint64_t block) { r.bytes += block; };
  r.ok = host::run_file_pass(static_cast<const host::FileSource&>(*source), framer, demux, hooks, r.error);
  r.framed = framer.counters();
  r.seen = trace.seen;
  return r;
}

Bytes with_garbage(Bytes stream, const std::vector<size_t>& at) {
  for (auto where = at.rbegin(); where != at.rend(); ++where)
    stream.insert(stream.begin() + *where, 50, 0x33);
  return stream;
}

TEST(FilePass, AFileGivesWhatFramingItAtOnceGivesWhereverBlocksDamageAndTheFileEndFall) {
  // Files of many blocks, so that the pass reads them through its threads and its ring of blocks
  // wrapping round, and what is added after the opening, or a file too small for them, by itself.
  const Bytes plain = testsupport::packetize(kPid, numbered_sections(1800, 3300));
  const Bytes small(plain.begin(), plain.begin() + 8000 * 188);
  constexpr size_t kBlock = host::FILE_BLOCK_SIZE;
  struct Case {
    std::string name;
    Bytes stream;
    long change_after_open;  // bytes at the end written after the source was opened, or (< 0) cut off
  };
  const std::vector<Case> cases = {
      {"plain", plain, 0},
      {"garbage_across_block_edges", with_garbage(plain, {kBlock - 30, 4 * kBlock + 10, 9 * kBlock - 188}),
       0},
      {"torn_last_packet", Bytes(plain.begin(), plain.end() - 100), 0},
      {"grown_after_opening", with_garbage(plain, {2 * kBlock}), 300 * 188 + 77},
      {"cut_by_blocks", plain, -static_cast<long>(plain.size() - 4000 * 188)},
      {"cut_by_a_packet", plain, -188},
      {"small_file_cut", small, -3000 * 188},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const long added = std::max(0L, c.change_after_open);
    const std::string path = dir.write("s.ts", Bytes(c.stream.begin(), c.stream.end() - added));
    const size_t end = c.stream.size() - static_cast<size_t>(std::max(0L, -c.change_after_open));
    const PassResult r = file_pass(path, [&] {
      if (c.change_after_open < 0) {
        EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(end)), 0);
      } else if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(c.stream.data() + c.stream.size() - added, 1, static_cast<size_t>(added), f);
        std::fclose(f);
      }
    });
    const auto [seen, counters] =
        framed_at_once(Bytes(c.stream.begin(), c.stream.begin() + static_cast<long>(end)));
    EXPECT_GT(seen.size(), 100u);
    EXPECT_EQ(r.ok, c.change_after_open >= 0) << r.error;
    EXPECT_TRUE(r.ok || r.error.find("s.ts: it became shorter while it was read") != std::string::npos)
        << r.error;
    EXPECT_TRUE(r.seen == seen);
    EXPECT_EQ(r.bytes, end);
    EXPECT_EQ(std::make_tuple(r.framed.sync_losses, r.framed.torn_packets, r.framed.skipped_bytes),
              std::make_tuple(counters.sync_losses, counters.torn_packets, counters.skipped_bytes));
  }
}

}  // namespace
