// The PAT and PMTs of a real multi-service multiplex, compared with a listing made by an independent
// reader. The listing names every programme that carries DSM-CC and, of its streams, the DSM-CC, AIT
// and component-tagged ones (in PMT order), each with its type and the raw bytes of each descriptor.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tables/sitables.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace {

using testsupport::Bytes;

struct ExpectedDescriptor {
  uint32_t tag = 0;
  Bytes data;
};

struct ExpectedStream {
  uint32_t pid = 0;
  uint32_t stream_type = 0;
  std::vector<ExpectedDescriptor> descriptors;
};

Bytes from_hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// "  prog 3411 pid 0x0BB9 type 0x0B (DSM-CC B (U-N)) descs 0x52:29 0x13:0000003d00 0x66:00f0"
std::map<uint32_t, std::vector<ExpectedStream>> read_listing(const std::string& path) {
  std::map<uint32_t, std::vector<ExpectedStream>> programmes;
  std::ifstream in(path);
  const std::regex line_shape(
      R"(^\s*prog (\d+) pid 0x([0-9A-Fa-f]+) type 0x([0-9A-Fa-f]+) \(.*\) descs(.*)$)");
  const std::regex descriptor_shape(R"(0x([0-9A-Fa-f]{2}):([0-9A-Fa-f]*))");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, line_shape)) continue;
    ExpectedStream s;
    s.pid = static_cast<uint32_t>(std::stoul(m[2], nullptr, 16));
    s.stream_type = static_cast<uint32_t>(std::stoul(m[3], nullptr, 16));
    const std::string descs = m[4];
    for (std::sregex_iterator it(descs.begin(), descs.end(), descriptor_shape), end; it != end; ++it) {
      s.descriptors.push_back({static_cast<uint32_t>(std::stoul((*it)[1], nullptr, 16)), from_hex((*it)[2])});
    }
    programmes[static_cast<uint32_t>(std::stoul(m[1]))].push_back(s);
  }
  return programmes;
}

uint32_t be(const Bytes& b, size_t at, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | b.at(at + i);
  return v;
}

TEST(MultiserviceStream, PatAndPmtsMatchTheIndependentListing) {
  REQUIRE_STREAM(ts_path, "mhp-hbbtv-multiservice.ts");
  REQUIRE_STREAM(listing_path, "expected/mhp-hbbtv-multiservice.psi.txt");
  const Bytes stream = testsupport::read_file(ts_path);
  ASSERT_EQ(stream.size(), 20000u * 188u);
  const auto expected = read_listing(listing_path);
  ASSERT_EQ(expected.size(), 7u) << "the listing names seven programmes";

  const auto pat_sections = testsupport::extract_sections(stream, 188, 0x0000);
  ASSERT_FALSE(pat_sections.empty());
  sitables::Pat pat;
  for (const Bytes& s : pat_sections) ASSERT_NO_THROW(pat.Parse(s, false));  // every repetition is whole
  ASSERT_NO_THROW(pat.Parse(pat_sections.front(), false));
  EXPECT_EQ(pat.transport_stream_id(), 0x4800u);

  std::map<uint32_t, uint32_t> pmt_pid;
  for (size_t i = 0; i < pat.get_program_info_size(); ++i) {
    pmt_pid[pat.get_program_info(i).program_number] = pat.get_program_info(i).PID;
  }
  for (const auto& [programme, streams] : expected) {
    EXPECT_TRUE(pmt_pid.count(programme)) << "programme " << programme << " is missing from the PAT";
  }

  std::map<uint32_t, sitables::PmtDVB> pmts;
  for (const auto& [programme, pid] : pmt_pid) {
    for (const Bytes& s : testsupport::extract_sections(stream, 188, static_cast<uint16_t>(pid))) {
      sitables::PmtDVB pmt(-1);
      ASSERT_NO_THROW(pmt.Parse(s, false)) << "PMT on PID " << pid;
      if (pmt.program_number() == programme && !pmts.count(programme)) pmts.emplace(programme, pmt);
    }
  }
  EXPECT_EQ(pmts.size(), pat.get_program_info_size())
      << "every programme of the PAT has its PMT in the stream";

  for (const auto& [programme, streams] : expected) {
    SCOPED_TRACE("programme " + std::to_string(programme));
    auto found = pmts.find(programme);
    ASSERT_NE(found, pmts.end());
    const sitables::PmtDVB& pmt = found->second;
    // Every DSM-CC stream of the PMT is listed.
    size_t dsmcc_streams = 0;
    for (const auto& es : pmt.streams) dsmcc_streams += es.stream_type >= 0x0A && es.stream_type <= 0x0D;
    size_t listed_dsmcc = 0;
    for (const auto& want : streams) listed_dsmcc += want.stream_type >= 0x0A && want.stream_type <= 0x0D;
    EXPECT_EQ(dsmcc_streams, listed_dsmcc);

    size_t next = 0;  // listed streams keep their PMT order
    for (size_t i = 0; i < streams.size(); ++i) {
      const ExpectedStream& want = streams[i];
      SCOPED_TRACE("listed stream PID " + std::to_string(want.pid));
      while (next < pmt.streams.size() && pmt.streams[next].elementary_PID != want.pid) ++next;
      ASSERT_LT(next, pmt.streams.size()) << "not in the PMT, or out of order";
      const sitables::ElementaryStream& es = pmt.streams[next++];
      EXPECT_EQ(es.stream_type, want.stream_type);
      ASSERT_EQ(es.descriptors.all.size(), want.descriptors.size());
      size_t carousel = 0, broadcast_id = 0;
      for (size_t d = 0; d < want.descriptors.size(); ++d) {
        EXPECT_EQ(es.descriptors.all[d].tag, want.descriptors[d].tag);
        EXPECT_EQ(es.descriptors.all[d].data, want.descriptors[d].data);
        // The decoded values agree with the raw bytes of the listing.
        if (want.descriptors[d].tag == 0x13) {
          ASSERT_LT(carousel, es.descriptors.carousel_id.size());
          EXPECT_EQ(es.descriptors.carousel_id[carousel].carousel_id, be(want.descriptors[d].data, 0, 4));
          EXPECT_EQ(es.descriptors.carousel_id[carousel].FormatID, be(want.descriptors[d].data, 4, 1));
          ++carousel;
        }
        if (want.descriptors[d].tag == 0x66) {
          ASSERT_LT(broadcast_id, es.descriptors.data_broadcast_id.size());
          EXPECT_EQ(es.descriptors.data_broadcast_id[broadcast_id].data_broadcast_id,
                    be(want.descriptors[d].data, 0, 2));
          ++broadcast_id;
        }
      }
      EXPECT_EQ(es.descriptors.carousel_id.size(), carousel);
      EXPECT_EQ(es.descriptors.data_broadcast_id.size(), broadcast_id);
    }
  }

  // The one programme the listing leaves out carries no DSM-CC stream.
  for (const auto& [programme, pmt] : pmts) {
    if (expected.count(programme)) continue;
    for (const auto& es : pmt.streams) {
      EXPECT_FALSE(es.stream_type >= 0x0A && es.stream_type <= 0x0D) << "programme " << programme;
      EXPECT_TRUE(es.descriptors.carousel_id.empty());
      EXPECT_TRUE(es.descriptors.data_broadcast_id.empty());
    }
  }
}

}  // namespace
