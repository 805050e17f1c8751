// Which PMT streams the "MUX DSMCC streams" list offers, and the PSI scan window against a fake host:
// the requests it makes and the result it leaves on each kind of failure.
#include "psiscan/psi_scan_dlg.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "psiscan/dsmcc_streams.h"
#include "tests/support/fake_host.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"

using namespace psiscan;

namespace {

namespace ts = testsupport;
using fakehost::FakeHost;
using ts::Bytes;

sitables::PmtDVB parse_pmt(uint16_t program_number, const std::vector<ts::PmtStream>& streams) {
  sitables::PmtDVB pmt(-1);
  pmt.Parse(ts::pmt_section(program_number, 0x100, {}, streams), false);
  return pmt;
}

TEST(DsmccStreams, OnlyCarouselStreamsAreListed) {
  using ts::carousel_id_descriptor, ts::data_broadcast_descriptor, ts::data_broadcast_id_descriptor;
  struct Case {
    uint8_t stream_type;
    Bytes descriptors;
    bool listed;
  };
  const Case cases[] = {
      {0x06, ts::concat({data_broadcast_id_descriptor(0x00F0), carousel_id_descriptor(1)}), false},
      {0x0C, carousel_id_descriptor(1), false},
      {0x0B, {}, false},
      {0x0B, data_broadcast_id_descriptor(0x0007), false},
      {0x0B, ts::concat({data_broadcast_id_descriptor(0x0007), carousel_id_descriptor(0x3d)}), true},
      {0x0B, data_broadcast_descriptor(0x00F0, 0x29), true},
      {0x0D, data_broadcast_descriptor(0x0006, 1), true},
      {0x0D, data_broadcast_id_descriptor(0x0009), true},
      {0x80, data_broadcast_id_descriptor(0x0006), true},
      {0x7F, carousel_id_descriptor(2), false},
      // Only the first data_broadcast and the first data_broadcast_id descriptor count.
      {0x0B, ts::concat({data_broadcast_descriptor(0x0005, 1), data_broadcast_descriptor(0x0006, 2)}), false},
      {0x0B, ts::concat({data_broadcast_id_descriptor(0x0005), data_broadcast_id_descriptor(0x00F0)}), false},
      {0x0B, ts::concat({data_broadcast_descriptor(0x0005, 1), data_broadcast_id_descriptor(0x00F0)}), true},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("row " + std::to_string(row++));
    PsiScanResult result;
    result.pmts.emplace(7, parse_pmt(7, {{c.stream_type, 0x0bb9, c.descriptors}}));
    EXPECT_EQ(select_dsmcc_streams(result).size(), c.listed ? 1u : 0u);
  }
  // Programmes ascending whatever the order of arrival, streams in PMT order, a shared PID once each.
  PsiScanResult result;
  const Bytes carousel = carousel_id_descriptor(0x3d);
  result.pmts.emplace(0x0d53, parse_pmt(0x0d53, {{0x0B, 0x0bba, carousel}, {0x0B, 0x0bb9, carousel}}));
  result.pmts.emplace(
      0x0d49, parse_pmt(0x0d49, {{0x04, 0x028a, {}}, {0x0B, 0x0bb9, carousel}, {0x0B, 0x0bba, carousel}}));
  EXPECT_EQ(
      select_dsmcc_streams(result),
      (std::vector<DsmccStream>{{0x0d49, 0x0bb9}, {0x0d49, 0x0bba}, {0x0d53, 0x0bba}, {0x0d53, 0x0bb9}}));
}

Bytes pmt_with_carousel(uint16_t program_number, uint16_t pid) {
  return ts::pmt_section(program_number, 0x1FFF, {}, {{0x0B, pid, ts::carousel_id_descriptor(1)}});
}

Bytes corrupted(Bytes section) {
  section[section.size() - 5] ^= 0x5A;  // a body byte: the CRC no longer fits
  return section;
}

TEST(PsiScan, RequestsAndResultOfEachOutcome) {
  struct Case {
    const char* line;  // a log line that must be there once
    std::vector<Bytes> pat;
    Bytes pmt1;  // the PMT of programme 0x0d49 (PID 0x0100); 0x0d4a's (PID 0x0101) is p2
    int fail_call, result;
    std::vector<size_t> requests;        // per call to the host
    std::map<int, uint32_t> first_pids;  // programme -> its first stream's PID, in the result
  };
  const Bytes pat = ts::pat_section(1, {{0, 0x0010}, {0x0d49, 0x0100}, {0x0d4a, 0x0101}});
  const Bytes p1 = pmt_with_carousel(0x0d49, 0x0bb9), p2 = pmt_with_carousel(0x0d4a, 0x0bba);
  const std::vector<Bytes> two_pats = {ts::pat_section(1, {{0x0d49, 0x0100}}, 0, 0, 1),
                                       ts::pat_section(1, {{0x0d4a, 0x0101}}, 0, 1, 1)};
  const Case cases[] = {
      {"Got 1 PAT sections", {pat}, p1, -1, 1, {1, 2}, {{0x0d49, 0x0bb9}, {0x0d4a, 0x0bba}}},
      {"Got 2 PAT sections", two_pats, p1, -1, 1, {1, 1}, {{0x0d49, 0x0bb9}}},  // the first one read
      {"Error parsing PAT section: ", {corrupted(pat)}, p1, -1, 2, {1}, {}},
      {"", {pat}, p1, 1, 1, {1, 2}, {}},  // a failed request keeps nothing
      {"Error parsing PMT section: ", {pat}, corrupted(p1), -1, 1, {1, 2}, {{0x0d4a, 0x0bba}}},
      {"", {pat}, pmt_with_carousel(5, 0x0201), -1, 1, {1, 2}, {{5, 0x0201}, {0x0d4a, 0x0bba}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    testsupport::LogCapture log;
    FakeHost host;
    host.add_table(0x0000, 0x00, c.pat);
    host.add_table(0x0100, 0x02, {c.pmt1}, 0x0d49);
    host.add_table(0x0101, 0x02, {p2}, 0x0d4a);
    host.fail_call = c.fail_call;
    {
      CPSIScanDlg scan(static_cast<OrvexFltMgr*>(&host), nullptr, false);
      EXPECT_EQ(scan.run_modal(), c.result);
      std::map<int, uint32_t> first_pids;  // a PMT is filed under its own programme number
      for (const auto& [programme, pmt] : scan.result().pmts)
        first_pids[programme] = pmt.streams.at(0).elementary_PID;
      EXPECT_EQ(first_pids, c.first_pids);
    }
    EXPECT_EQ(host.outstanding_refs(), 0) << "the window released what it queried";
    std::vector<size_t> requests;
    for (const auto& call : host.calls()) requests.push_back(call.size());
    EXPECT_EQ(requests, c.requests) << "the network entry asks for no PMT";
    EXPECT_TRUE(!*c.line || log.count_containing(c.line) == 1) << log.dump();
  }
  testsupport::LogCapture log;
  FakeHost host;
  host.offer_sisection = false;
  int shown = 0;
  const ui::AutomationHook previous = ui::set_automation([&](ui::Dialog&) { ++shown; });
  EXPECT_EQ(CPSIScanDlg(static_cast<OrvexFltMgr*>(&host), nullptr, false).run_modal(), 2);
  EXPECT_EQ(CPSIScanDlg(nullptr, nullptr, false).run_modal(), 2);
  ui::set_automation(previous);
  EXPECT_EQ(shown, 0) << "a window ended in its initialisation never shows";
  EXPECT_TRUE(log.has(1, "Failed QueryInterface(IID_ISISection) (0x80004002)")) << log.dump();
  EXPECT_EQ(host.outstanding_refs(), 0);
}

}  // namespace
