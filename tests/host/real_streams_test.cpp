// The shared real captures: what the filters deliver from each, and the PSI of the multi-service one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "host/host.h"
#include "tests/host/capture_util.h"
#include "tests/support/streams.h"

namespace {

using hosttest::take;
using hosttest::Bytes;

const Bytes kDsmccMatch = {0x38};
const Bytes kDsmccMask = {0x38};

std::map<uint8_t, size_t> count_by_table(const std::vector<Bytes>& sections) {
  std::map<uint8_t, size_t> counts;
  for (const Bytes& s : sections) ++counts[s.at(0)];
  return counts;
}

TEST(RealStreams, OcdirInEveryPacketSizeGivesTheSame45Sections) {
  REQUIRE_STREAM(plain, "mhp-ocdir1.ts");
  REQUIRE_STREAM(stamped, "mhp-ocdir1.m2ts");
  REQUIRE_STREAM(trailer, "mhp-ocdir1-204.ts");
  std::vector<std::vector<Bytes>> results;
  for (const std::string& path : {plain, stamped, trailer}) {
    SCOPED_TRACE(path);
    const auto r = hosttest::capture_file(path, {0x07D3, kDsmccMatch, kDsmccMask});
    ASSERT_TRUE(r.error.empty()) << r.error;
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.sections.size(), 45u);
    EXPECT_EQ(count_by_table(r.sections), (std::map<uint8_t, size_t>{{0x3B, 4}, {0x3C, 41}}));
    EXPECT_EQ(r.stats.cc_errors, 0u);
    EXPECT_EQ(r.stats.sync_losses, 0u);
    results.push_back(r.sections);
  }
  EXPECT_EQ(results[1], results[0]);
  EXPECT_EQ(results[2], results[0]);
}

TEST(RealStreams, HbbtvStreamEventCarousel) {
  REQUIRE_STREAM(path, "hbbtv-sevent.ts");
  const auto r = hosttest::capture_file(path, {0x138E, kDsmccMatch, kDsmccMask});
  ASSERT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(count_by_table(r.sections), (std::map<uint8_t, size_t>{{0x3B, 114}, {0x3C, 56}}));
}

uint16_t be16(const Bytes& b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }

TEST(RealStreams, MultiServicePatThenEveryPmt) {
  REQUIRE_STREAM(path, "mhp-hbbtv-multiservice.ts");
  host::Host host;
  ASSERT_EQ(host.open(path), "");
  ISISection* si = hosttest::si_section(host);
  SectionReply reply{};
  const SectionRequest pat_request = SectionRequest::make(0x0000, 0x00);
  ASSERT_EQ(si->RequestSections(1, &pat_request, 30, &reply), S_OK);
  const auto pat = take(reply);
  ASSERT_EQ(pat.size(), 1u);
  // The programme loop: 4 bytes per programme between the 8-byte header and the CRC.
  const Bytes& p = pat[0];
  std::vector<SectionRequest> requests;
  std::vector<uint16_t> programmes;
  for (size_t at = 8; at + 4 <= p.size() - 4; at += 4) {
    const uint16_t programme = be16(p, at);
    if (programme == 0) continue;
    programmes.push_back(programme);
    requests.push_back(SectionRequest::make(be16(p, at + 2) & 0x1FFF, 0x02, true, programme));
  }
  std::vector<uint16_t> sorted = programmes;
  std::sort(sorted.begin(), sorted.end());
  // Seven services carry the carousels; 3410 (HEVC video only) is in the PAT too, and its PMT is in
  // the file, so it comes back like the others.
  EXPECT_EQ(sorted, (std::vector<uint16_t>{3401, 3402, 3403, 3404, 3405, 3406, 3410, 3411}));
  std::vector<SectionReply> replies(requests.size());
  ASSERT_EQ(si->RequestSections(static_cast<uint32_t>(requests.size()), requests.data(), 30, replies.data()), S_OK);
  for (size_t k = 0; k < replies.size(); ++k) {
    SCOPED_TRACE(programmes[k]);
    const auto pmt = take(replies[k]);
    ASSERT_EQ(pmt.size(), 1u);
    EXPECT_EQ(pmt[0][0], 0x02);
    EXPECT_EQ(be16(pmt[0], 3), programmes[k]);
  }
  si->Release();
}

TEST(RealStreams, CarouselOnlyCaptureHasNoPsi) {
  REQUIRE_STREAM(path, "mhp-ocdir1.ts");
  host::Host host;
  ASSERT_EQ(host.open(path), "");
  ISISection* si = hosttest::si_section(host);
  const SectionRequest pat_request = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{1, nullptr};
  EXPECT_EQ(si->RequestSections(1, &pat_request, 30, &reply), S_OK);
  EXPECT_EQ(reply.count, 0);
  si->Release();
}

}  // namespace
