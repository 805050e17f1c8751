// Captures through the host: a file written to disk, a filter, the delivery thread, the callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "tests/host/capture_util.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace {

using hosttest::Bytes;

constexpr uint16_t kPid = 0x0BB9;
const hosttest::FilterArgs kDsmccFilter = {kPid, {0x38}, {0x38}};

Bytes section_of(size_t size, uint8_t table_id, uint8_t seed) {
  if (size < 12) {
    Bytes body(size - 3, seed);
    return testsupport::short_section(table_id, true, body);
  }
  testsupport::SectionHeader h;
  h.table_id = table_id;
  h.table_id_extension = seed;
  Bytes body(size - 12);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(seed * 3 + i);
  return testsupport::long_section(h, body);
}

// DSM-CC sections of awkward sizes, and between them sections of other tables on the same PID that
// the filter must keep out.
struct Mixed {
  std::vector<Bytes> all;
  std::vector<Bytes> dsmcc;
  Mixed() {
    uint8_t seed = 0;
    for (size_t size : {183u, 184u, 185u, 4096u, 12u, 186u, 3u, 371u, 1000u, 182u, 4093u, 20u}) {
      const uint8_t table = (seed % 3 == 0) ? 0x3B : 0x3C;
      dsmcc.push_back(section_of(size, table, seed));
      all.push_back(dsmcc.back());
      if (seed % 4 == 1) all.push_back(section_of(100, static_cast<uint8_t>(0x40 + seed), seed));
      ++seed;
    }
  }
};

std::vector<Bytes> packets_of(const Bytes& stream, size_t size) {
  std::vector<Bytes> out;
  for (size_t at = 0; at + size <= stream.size(); at += size) {
    out.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                     stream.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
  return out;
}

Bytes join(const std::vector<Bytes>& packets) {
  Bytes out;
  for (const Bytes& p : packets) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Capture, EveryPacketisationComesOutOfTheFilterAsBuilt) {
  struct Layout {
    std::string name;
    size_t packet_size;
    bool pack;
    std::optional<uint8_t> adaptation;
    size_t nulls;
    std::function<Bytes(Bytes)> damage;  // harmless to the sections: garbage, a torn tail
  };
  const auto none = [](Bytes s) { return s; };
  const auto garbage_between = [](Bytes s) {
    const Bytes garbage = {0x00, 0x47, 0x12, 0x47, 0x99, 0x01, 0x02, 0x03, 0x47};
    for (size_t at : {20u * 188u, 9u * 188u}) s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), garbage.begin(), garbage.end());
    return s;
  };
  const auto torn_tail = [](Bytes s) {
    const Bytes half_packet = {0x47, 0x1F, 0xFF, 0x10, 0xFF, 0xFF, 0xFF};
    s.insert(s.end(), half_packet.begin(), half_packet.end());
    return s;
  };
  const std::vector<Layout> layouts = {
      {"packed_188", 188, true, std::nullopt, 0, none},
      {"one_per_packet", 188, false, std::nullopt, 0, none},
      {"stamped_192", 192, true, std::nullopt, 0, none},
      {"trailer_204", 204, true, std::nullopt, 1, none},
      {"adaptation_fields", 188, true, uint8_t{60}, 0, none},
      {"stuffed_adaptation_181", 188, false, uint8_t{181}, 0, none},
      {"null_packets_between", 188, true, std::nullopt, 3, none},
      {"garbage_between_packets", 188, true, std::nullopt, 1, garbage_between},
      {"torn_last_packet", 188, true, std::nullopt, 0, torn_tail},
  };
  testsupport::TempDir dir;
  const Mixed m;
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    testsupport::PacketizerOptions o;
    o.packet_size = l.packet_size;
    o.pack_sections = l.pack;
    o.adaptation_field_length = l.adaptation;
    o.null_packets_after_each = l.nulls;
    testsupport::Packetizer p(o);
    p.add_sections(kPid, m.all);
    const auto result = hosttest::capture_file(dir.write(l.name + ".ts", l.damage(p.take())), kDsmccFilter);
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.sections, m.dsmcc);
    EXPECT_EQ(result.stats.sections_delivered, m.dsmcc.size());
    EXPECT_EQ(result.stats.cc_errors, 0u);
  }
}

TEST(Capture, FiltersMatchTheirBytesUnderTheMask) {
  const Bytes a = section_of(40, 0x3B, 1);  // section_length 37
  const Bytes b = section_of(40, 0x3C, 2);
  const Bytes c = section_of(300, 0x42, 3);
  const Bytes tiny = section_of(3, 0x3E, 0);  // header only
  testsupport::TempDir dir;
  const std::string path = dir.write("mix.ts", testsupport::packetize(kPid, {a, b, c, tiny}));
  struct Case {
    std::string name;
    hosttest::FilterArgs filter;
    std::vector<Bytes> expected;
  };
  const std::vector<Case> cases = {
      {"no_bytes_match_all", {kPid, {}, {}}, {a, b, c, tiny}},
      {"zero_mask_matches_all", {kPid, {0x99}, {0x00}}, {a, b, c, tiny}},
      {"dsmcc_tables", kDsmccFilter, {a, b, tiny}},
      {"one_table", {kPid, {0x3C}, {0xFF}}, {b}},
      {"table_and_length", {kPid, {0x3B, 0x00, 37}, {0xFF, 0x00, 0xFF}}, {a}},
      {"longer_than_the_section", {kPid, {0x3E, 0, 0, 0}, {0xFF, 0, 0, 0}}, {}},
      {"other_pid", {0x0100, {}, {}}, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const auto result = hosttest::capture_file(path, k.filter);
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(result.sections, k.expected);
  }
}

struct HostFixture : ::testing::Test {
  testsupport::TempDir dir;
  hosttest::EndOfInput end;  // outlives the host, whose thread calls it
  host::Host host;
  ISectionFilter* filters = nullptr;

  void open(const Bytes& stream) {
    ASSERT_EQ(host.open(dir.write("stream.ts", stream)), "");
    end.attach(host);
    filters = hosttest::section_filter(host);
    ASSERT_NE(filters, nullptr);
  }
  uint32_t add(uint16_t pid, hosttest::SectionLog& log) {
    uint32_t handle = 0;
    EXPECT_EQ(filters->AddSectionFilter(pid, nullptr, nullptr, 0, &hosttest::SectionLog::callback, &log, &handle),
              S_OK);
    return handle;
  }
  void TearDown() override {
    if (filters) filters->Release();
  }
};

std::vector<Bytes> numbered_sections(size_t count) {
  std::vector<Bytes> out;
  for (size_t k = 0; k < count; ++k) out.push_back(section_of(50 + k, 0x3C, static_cast<uint8_t>(k)));
  return out;
}

TEST_F(HostFixture, EachCaptureDeliversTheWholeFileOnceThenTheEndHandlerRuns) {
  const auto sections = numbered_sections(30);
  open(testsupport::packetize(kPid, sections));
  for (int capture = 0; capture < 3; ++capture) {
    SCOPED_TRACE(capture);
    hosttest::SectionLog log;
    std::promise<size_t> seen_at_end;
    host.set_end_of_input_handler([&] { seen_at_end.set_value(log.count()); });
    const uint32_t handle = add(kPid, log);
    ASSERT_TRUE(host.begin_capture());
    auto at_end = seen_at_end.get_future();
    ASSERT_EQ(at_end.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(at_end.get(), sections.size());
    EXPECT_EQ(filters->RemoveSectionFilter(handle), S_OK);
    EXPECT_NE(filters->RemoveSectionFilter(handle), S_OK);
    EXPECT_EQ(log.snapshot(), sections);
    if (capture == 0) {  // the end handler runs once the whole file is counted
      const host::Statistics s = host.statistics();
      EXPECT_TRUE(s.input_ended);
      EXPECT_EQ(s.sections_delivered, sections.size());
      EXPECT_EQ(s.bytes, testsupport::packetize(kPid, sections).size());
      EXPECT_EQ(s.packets, s.bytes / 188);
    }
  }
  host.stop();
}

// A capture begun while an earlier one's pass is still under way gets a pass of its own, from the
// file's first packet; the end of input is reported once, for it. The earlier filter's slow callback
// makes its pass last seconds.
struct SlowLog {
  hosttest::SectionLog log;
  static void callback(void* context, uint32_t size, const uint8_t* section) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    hosttest::SectionLog::callback(&static_cast<SlowLog*>(context)->log, size, section);
  }
};

TEST_F(HostFixture, ACaptureBegunDuringAPassGetsTheWholeFile) {
  const auto sections = numbered_sections(400);
  for (const bool automatic : {false, true}) {
    SCOPED_TRACE(automatic ? "automatic begin" : "begin_capture");
    host::Host fresh;
    ASSERT_EQ(fresh.open(dir.write(automatic ? "b.ts" : "a.ts", testsupport::packetize(kPid, sections))), "");
    hosttest::EndOfInput ended;
    ended.attach(fresh);
    ISectionFilter* f = hosttest::section_filter(fresh);
    if (automatic) fresh.set_auto_begin(std::chrono::milliseconds(20));
    SlowLog slow;
    uint32_t slow_handle = 0;
    ASSERT_EQ(f->AddSectionFilter(kPid, nullptr, nullptr, 0, &SlowLog::callback, &slow, &slow_handle), S_OK);
    if (!automatic) {
      ASSERT_TRUE(fresh.begin_capture());
    }
    while (slow.log.count() < 20) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    hosttest::SectionLog second;
    uint32_t handle = 0;
    ASSERT_EQ(f->AddSectionFilter(kPid, nullptr, nullptr, 0, &hosttest::SectionLog::callback, &second, &handle), S_OK);
    if (!automatic) {
      EXPECT_TRUE(fresh.begin_capture());
    }
    const size_t first_pass = slow.log.count();
    ASSERT_EQ(f->RemoveSectionFilter(slow_handle), S_OK);
    ASSERT_TRUE(ended.wait());
    EXPECT_LT(first_pass, sections.size()) << "the first pass was still under way";
    EXPECT_EQ(second.count(), sections.size());
    EXPECT_TRUE(second.snapshot() == sections) << "the whole file, from its first section";
    EXPECT_EQ(fresh.statistics().cc_errors, 0u);
    f->Release();
    fresh.stop();
  }
}

TEST_F(HostFixture, NothingIsDeliveredBeforeTheCaptureBegins) {
  open(testsupport::packetize(kPid, numbered_sections(5)));
  hosttest::SectionLog log;
  add(kPid, log);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(log.count(), 0u);
  EXPECT_FALSE(end.reached());
}

TEST_F(HostFixture, AutomaticBeginOnceTheFiltersAreQuiet) {
  const auto sections = numbered_sections(12);
  open(testsupport::packetize(kPid, sections));
  host.set_auto_begin(std::chrono::milliseconds(50));
  hosttest::SectionLog log, second;
  const auto started = std::chrono::steady_clock::now();
  add(kPid, log);
  add(kPid, second);
  ASSERT_TRUE(end.wait());
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
  EXPECT_EQ(log.snapshot(), sections);
  EXPECT_EQ(second.snapshot(), sections);
}

// A filter installed from inside a callback gets the sections that follow; one removed from inside
// its own callback gets nothing more, and the removal does not wait for itself.
struct Reentrant {
  ISectionFilter* filters = nullptr;
  hosttest::SectionLog late;
  uint32_t own_handle = 0;
  uint32_t late_handle = 0;
  int calls = 0;
  static void callback(void* context, uint32_t, const uint8_t*) {
    auto* r = static_cast<Reentrant*>(context);
    ++r->calls;
    if (r->calls == 1) {
      r->filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &hosttest::SectionLog::callback, &r->late,
                                   &r->late_handle);
    }
    if (r->calls == 4) r->filters->RemoveSectionFilter(r->own_handle);
  }
};

TEST_F(HostFixture, FiltersChangedFromInsideACallback) {
  const auto sections = numbered_sections(10);
  open(testsupport::packetize(kPid, sections));
  Reentrant r;
  r.filters = filters;
  ASSERT_EQ(filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &Reentrant::callback, &r, &r.own_handle), S_OK);
  host.begin_capture();
  ASSERT_TRUE(end.wait());
  EXPECT_EQ(r.calls, 4);
  EXPECT_EQ(r.late.snapshot(), std::vector<Bytes>(sections.begin() + 1, sections.end()));
}

TEST_F(HostFixture, FilterArgumentsAreChecked) {
  open(testsupport::packetize(kPid, numbered_sections(1)));
  const uint8_t byte = 0x38;
  uint32_t handle = 0;
  auto cb = &hosttest::SectionLog::callback;
  EXPECT_LT(filters->AddSectionFilter(0x2000, &byte, &byte, 1, cb, nullptr, &handle), 0);
  EXPECT_LT(filters->AddSectionFilter(kPid, &byte, &byte, 1, nullptr, nullptr, &handle), 0);
  EXPECT_LT(filters->AddSectionFilter(kPid, &byte, &byte, 1, cb, nullptr, nullptr), 0);
  EXPECT_LT(filters->AddSectionFilter(kPid, nullptr, &byte, 1, cb, nullptr, &handle), 0);
  const Bytes long_match(host::MAX_FILTER_LENGTH + 1, 0);
  EXPECT_LT(filters->AddSectionFilter(kPid, long_match.data(), long_match.data(), host::MAX_FILTER_LENGTH + 1, cb,
                                      nullptr, &handle),
            0);
  EXPECT_LT(filters->RemoveSectionFilter(12345), 0);
  uint32_t first = 0, second = 0;
  EXPECT_EQ(filters->AddSectionFilter(kPid, &byte, &byte, 1, cb, nullptr, &first), S_OK);
  EXPECT_EQ(filters->AddSectionFilter(kPid, &byte, &byte, 1, cb, nullptr, &second), S_OK);
  EXPECT_NE(first, second);
}

TEST(HostObjects, AnswerTheirInterfacesAndCountReferences) {
  host::Host host;
  OrvexFltMgr* manager = host.filter_manager();
  void* out = nullptr;
  ASSERT_EQ(manager->QueryInterface(IID_ISectionFilter, &out), S_OK);
  auto* filters = static_cast<ISectionFilter*>(out);
  ASSERT_EQ(manager->QueryInterface(IID_ISISection, &out), S_OK);
  auto* si = static_cast<ISISection*>(out);
  ASSERT_EQ(si->QueryInterface(IID_OrvexFltMgr, &out), S_OK);
  EXPECT_EQ(out, manager);
  static_cast<IUnknown*>(out)->Release();
  // One identity whichever interface is asked.
  void* unknown_a = nullptr;
  void* unknown_b = nullptr;
  ASSERT_EQ(filters->QueryInterface(IID_IUnknown, &unknown_a), S_OK);
  ASSERT_EQ(si->QueryInterface(IID_IUnknown, &unknown_b), S_OK);
  EXPECT_EQ(unknown_a, unknown_b);
  static_cast<IUnknown*>(unknown_a)->Release();
  static_cast<IUnknown*>(unknown_b)->Release();
  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(manager->QueryInterface(IID_InitDriver, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  // The host's own reference, plus the two taken above.
  EXPECT_EQ(manager->AddRef(), 4u);
  EXPECT_EQ(manager->Release(), 3u);
  EXPECT_EQ(filters->Release(), 2u);
  EXPECT_EQ(si->Release(), 1u);
}

TEST(HostObjects, FilterManagerOutlivesTheHostWhileReferenced) {
  ISectionFilter* filters = nullptr;
  {
    host::Host host;
    filters = hosttest::section_filter(host);
  }
  // The host is gone; the object still answers, idle.
  uint32_t handle = 0;
  EXPECT_EQ(filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &hosttest::SectionLog::callback, nullptr, &handle),
            S_OK);
  EXPECT_EQ(filters->RemoveSectionFilter(handle), S_OK);
  EXPECT_EQ(filters->Release(), 0u);
}

TEST(HostObjects, DriverReportsTheTunerTypeItIsGiven) {
  host::Host host;
  void* out = nullptr;
  ASSERT_EQ(host.driver()->QueryInterface(IID_InitDriver, &out), S_OK);
  auto* driver = static_cast<InitDriver*>(out);
  void* offered = nullptr;
  ASSERT_EQ(host.driver()->QueryInterface(IID_HostDriver, &offered), S_OK);
  EXPECT_EQ(offered, out);
  static_cast<IUnknown*>(offered)->Release();
  EXPECT_EQ(host.driver()->QueryInterface(IID_ISectionFilter, &offered), E_NOINTERFACE);
  uint16_t type = 0;
  ASSERT_EQ(driver->GetTunerType(&type), S_OK);
  EXPECT_TRUE(type == TUNER_DVB_S || type == TUNER_DVB_C || type == TUNER_DVB_T);
  host.set_tuner_type(TUNER_ATSC);
  ASSERT_EQ(driver->GetTunerType(&type), S_OK);
  EXPECT_EQ(type, TUNER_ATSC);
  host.set_tuner_type_fails(true);
  EXPECT_LT(driver->GetTunerType(&type), 0);
  EXPECT_LT(driver->GetTunerType(nullptr), 0);
  driver->Release();
}

TEST(HostOpen, ErrorsAreForTheUser) {
  host::Host host;
  EXPECT_NE(host.open("/nonexistent/capture.ts").find("cannot open /nonexistent/capture.ts"), std::string::npos);
  EXPECT_FALSE(host.is_open());
  EXPECT_FALSE(host.begin_capture());
  testsupport::TempDir dir;
  const std::string path = dir.write("s.ts", testsupport::packetize(kPid, numbered_sections(1)));
  EXPECT_EQ(host.open(path), "");
  EXPECT_FALSE(host.is_live());
  EXPECT_NE(host.open(path).find("already open"), std::string::npos);
}

TEST(HostDiagnostics, DamageIsReportedWithItsPlace) {
  const auto sections = numbered_sections(60);
  auto packets = packets_of(testsupport::packetize(kPid, sections), 188);
  ASSERT_GT(packets.size(), 20u);
  packets.erase(packets.begin() + 4);
  packets[8][1] |= 0x80;
  Bytes stream = join(packets);
  stream.insert(stream.begin() + 12 * 188, {0x01, 0x02, 0x03});
  testsupport::TempDir dir;
  host::Host host;
  std::vector<std::string> messages;
  host.set_diagnostic_handler([&](const std::string& m) { messages.push_back(m); });
  ASSERT_EQ(host.open(dir.write("d.ts", stream)), "");
  hosttest::SectionLog log;
  ASSERT_TRUE(hosttest::capture_to_end(host, {kPid, {}, {}}, log));
  host.stop();
  auto has = [&](const std::string& part) {
    return std::any_of(messages.begin(), messages.end(), [&](const std::string& m) { return m.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(has("PID 0x0bb9: continuity_counter")) << ::testing::PrintToString(messages);
  EXPECT_TRUE(has("PID 0x0bb9: packet with transport_error_indicator dropped"));
  EXPECT_TRUE(has("sync byte missing at byte 2256"));
  const host::Statistics s = host.statistics();
  EXPECT_EQ(s.cc_errors, 1u);
  EXPECT_EQ(s.tei_drops, 1u);
  EXPECT_EQ(s.sync_losses, 1u);
  EXPECT_EQ(s.skipped_bytes, 3u);
}

}  // namespace
