// Opening sources: the messages a user sees for what cannot be read, UDP addresses, RTP payloads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/source.h"
#include "tests/support/helpers.h"
#include "tests/support/ts_builder.h"

namespace {

using testsupport::Bytes;

Bytes some_packets(size_t packet_size) {
  testsupport::PacketizerOptions options;
  options.packet_size = packet_size;
  testsupport::Packetizer p(options);
  for (int i = 0; i < 10; ++i) p.add_packet(0x100, false, Bytes(20, 0x01));
  return p.take();
}

TEST(OpenSource, FilesThatAreNotStreamsAreRefusedWithAReason) {
  testsupport::TempDir dir;
  Bytes noise(20000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 31 + 7);
  struct Case {
    std::string name;
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"missing", dir.path() + "/absent.ts", "No such file or directory"},
      {"directory", dir.path(), "is a directory"},
      {"empty", dir.write("empty.ts", {}), "is empty"},
      {"noise", dir.write("noise.ts", noise), "is not a transport stream"},
      {"no_source", "", "no source given"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(host::open_source(c.path, error), nullptr);
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    if (!c.path.empty()) {
      EXPECT_NE(error.find(c.path), std::string::npos) << error;
    }
  }
}

TEST(UdpAddress, ParsesWhatUsersWrite) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t group;
    uint32_t local;
    uint16_t port;
    const char* error_part;
  };
  const std::vector<Case> cases = {
      {"udp://:1234", true, 0, 0, 1234, ""},
      {"udp://0.0.0.0:5000", true, 0, 0, 5000, ""},
      {"udp://127.0.0.1:5000", true, 0, 0x7F000001, 5000, ""},
      {"udp://239.1.2.3:1234", true, 0xEF010203, 0, 1234, ""},
      {"udp://@239.1.2.3:1234", true, 0xEF010203, 0, 1234, ""},
      {"udp://239.1.2.3@127.0.0.1:1234", true, 0xEF010203, 0x7F000001, 1234, ""},
      {"udp://localhost:65535", true, 0, 0x7F000001, 65535, ""},
      {"udp://127.0.0.1", false, 0, 0, 0, "port is missing"},
      {"udp://127.0.0.1:0", false, 0, 0, 0, "not a number from 1 to 65535"},
      {"udp://127.0.0.1:65536", false, 0, 0, 0, "not a number from 1 to 65535"},
      {"udp://127.0.0.1:12a", false, 0, 0, 0, "not a number from 1 to 65535"},
      {"udp://10.0.0.1@127.0.0.1:1234", false, 0, 0, 0, "is not a multicast group"},
      {"udp://239.1.1.1@239.1.1.2:1234", false, 0, 0, 0, "local interface address"},
      {"tcp://127.0.0.1:1234", false, 0, 0, 0, "expected udp://[group@]host:port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    host::UdpAddress a;
    std::string error;
    EXPECT_EQ(host::parse_udp_address(c.text, a, error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(a.group, c.group);
      EXPECT_EQ(a.local, c.local);
      EXPECT_EQ(a.port, c.port);
    } else {
      EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
      EXPECT_NE(error.find(c.text), std::string::npos) << error;
    }
  }
}

TEST(UdpAddress, OpeningReportsAddressErrors) {
  std::string error;
  EXPECT_EQ(host::open_source("udp://127.0.0.1:99999", error), nullptr);
  EXPECT_NE(error.find("bad UDP address"), std::string::npos) << error;
  // A local address this machine does not have cannot be listened on.
  EXPECT_EQ(host::open_source("udp://192.0.2.77:40123", error), nullptr);
  EXPECT_NE(error.find("cannot listen on 192.0.2.77:40123"), std::string::npos) << error;
}

// An RTP header: version 2, payload type 33, then CSRCs, an extension and padding as asked.
Bytes rtp(const Bytes& payload, uint8_t csrcs, size_t extension_words, uint8_t padding) {
  Bytes out = {static_cast<uint8_t>(0x80 | (padding ? 0x20 : 0) | (extension_words ? 0x10 : 0) | csrcs), 33,
               0x12, 0x34, 0, 0, 0x10, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  out.insert(out.end(), size_t{4} * csrcs, 0xCC);
  if (extension_words) {
    out.insert(out.end(), {0xBE, 0xDE, 0, static_cast<uint8_t>(extension_words)});
    out.insert(out.end(), 4 * extension_words, 0xEE);
  }
  out.insert(out.end(), payload.begin(), payload.end());
  if (padding) {
    out.insert(out.end(), padding - 1u, 0);
    out.push_back(padding);
  }
  return out;
}

TEST(DatagramPayload, TakesOffRtpHeadersAndLeavesTheRest) {
  const Bytes ts = some_packets(188);
  const Bytes seven(ts.begin(), ts.begin() + 7 * 188);
  struct Case {
    const char* name;
    Bytes datagram;
    Bytes expected;
    bool rtp;
  };
  Bytes not_rtp = seven;
  not_rtp.insert(not_rtp.begin(), {0x00, 0x01, 0x02});
  const Bytes whole_rtp = rtp(seven, 0, 0, 0);
  const Bytes cut_header(whole_rtp.begin(), whole_rtp.begin() + 8);
  const std::vector<Case> cases = {
      {"plain", seven, seven, false},
      {"rtp", rtp(seven, 0, 0, 0), seven, true},
      {"rtp_with_csrcs", rtp(seven, 3, 0, 0), seven, true},
      {"rtp_with_extension", rtp(seven, 1, 2, 0), seven, true},
      {"rtp_with_padding", rtp(seven, 0, 0, 4), seven, true},
      {"rtp_header_cut_short", cut_header, cut_header, false},
      {"not_rtp", not_rtp, not_rtp, false},
      {"rtp_without_packets", rtp(Bytes(50, 0x11), 0, 0, 0), rtp(Bytes(50, 0x11), 0, 0, 0), false},
      {"rtp_one_byte_payload", rtp(Bytes{0x47}, 0, 0, 0), Bytes{0x47}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool was_rtp = !c.rtp;
    const auto payload = host::datagram_payload(c.datagram, &was_rtp);
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), c.expected);
    EXPECT_EQ(was_rtp, c.rtp);
  }
  // A padding count larger than what follows the header: not believed, the datagram is left alone.
  Bytes bad_padding = rtp(Bytes{0x47, 0x01, 0x02}, 0, 0, 0);
  bad_padding[0] |= 0x20;
  bad_padding.back() = 10;
  bool was_rtp = true;
  const auto left = host::datagram_payload(bad_padding, &was_rtp);
  EXPECT_EQ(left.size(), bad_padding.size());
  EXPECT_FALSE(was_rtp);
}

}  // namespace
