// Live sources: a named pipe is read once, as it comes, to its end; UDP datagrams, plain or RTP, run
// until stop().
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/host/host_util.h"

namespace {

using namespace hosttest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Writes `stream` into a new named pipe in pieces of odd sizes, with a pause half way, then closes it.
struct PipeWriter {
  testsupport::TempDir dir;
  std::string path = dir.path() + "/feed";
  std::thread writer;
  explicit PipeWriter(Bytes stream) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    writer = std::thread([this, stream = std::move(stream)] {
      const int fd = ::open(path.c_str(), O_WRONLY);
      for (size_t at = 0, piece = 1000; fd >= 0 && at < stream.size(); piece = piece * 7 % 70001 + 1) {
        const size_t before = at;
        at += static_cast<size_t>(std::max<ssize_t>(1, ::write(fd, stream.data() + at, std::min(piece, stream.size() - at))));
        if (before < stream.size() / 2 && at >= stream.size() / 2) std::this_thread::sleep_for(milliseconds(300));
      }
      ::close(fd);
    });
  }
  ~PipeWriter() { writer.join(); }
};

TEST(PipeSource, DeliversEverythingAndEndsOrIsRefused) {
  const auto sections = numbered_sections(400, 300);
  testsupport::PacketizerOptions o;
  o.packet_size = 192;
  PipeWriter pipe(testsupport::packetize(kPid, sections, o));
  host::Host host;
  ASSERT_EQ(host.open(pipe.path), "");
  EXPECT_TRUE(host.is_live());
  SectionLog log;
  ASSERT_TRUE(capture_to_end(host, {kPid, {}, {}}, log));
  EXPECT_EQ(log.snapshot(), sections);
  const host::Statistics s = host.statistics();
  EXPECT_TRUE(s.input_ended);
  EXPECT_EQ(s.cc_errors + s.sync_losses, 0u);
  PipeWriter text(Bytes(3000, 'x'));
  EXPECT_NE(host::Host().open(text.path).find(text.path + " is not a transport stream"), std::string::npos);
}

struct Udp {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  // A port nobody listens on at the time of asking.
  Udp() {
    socklen_t length = sizeof to;
    ::bind(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&to), &length);
    ::close(fd);
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  ~Udp() { ::close(fd); }
  std::string address() const { return "udp://127.0.0.1:" + std::to_string(ntohs(to.sin_port)); }
  void send(const Bytes& d) { ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to); }
};

TEST(UdpSource, PlainAndRtpDatagramsReachTheFilters) {
  for (const bool rtp : {false, true}) {
    SCOPED_TRACE(rtp ? "rtp" : "plain");
    Udp udp;
    host::Host host;
    ASSERT_EQ(host.open(udp.address()), "");
    EXPECT_NE(host::Host().open(udp.address()).find("Address already in use"), std::string::npos);
    SectionLog log;
    ISectionFilter* filters = service<ISectionFilter>(host);
    const uint8_t match = 0x38;
    uint32_t handle = 0;
    ASSERT_EQ(filters->AddSectionFilter(kPid, &match, &match, 1, &SectionLog::callback, &log, &handle), S_OK);
    const auto sections = numbered_sections(25, 90);
    testsupport::Packetizer p;
    p.add_sections(kPid, sections);
    p.add_section(kPid, section_of(30, 0x42, 0));  // kept out by the filter
    const Bytes stream = p.take();
    for (size_t at = 0; at < stream.size(); at += 7 * 188) {
      // Version 2 with one CSRC and a header extension, payload type 33 (MPEG-2 transport stream).
      Bytes d = {0x91, 33, 0x12, static_cast<uint8_t>(at / 188), 0, 1, 2, 3, 9, 9, 9, 9, 0xC0, 0xC1, 0xC2, 0xC3, 0xBE, 0xDE, 0, 1, 7, 7, 7, 7};
      if (!rtp) d.clear();
      d.insert(d.end(), stream.begin() + at, stream.begin() + std::min(at + 7 * 188, stream.size()));
      udp.send(d);
      std::this_thread::sleep_for(milliseconds(1));
    }
    for (const auto deadline = Clock::now() + std::chrono::seconds(20); log.count() < sections.size() && Clock::now() < deadline;)
      std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(log.snapshot(), sections);
    filters->RemoveSectionFilter(handle);
    filters->Release();
    host.stop();
    EXPECT_EQ(host.statistics().cc_errors + host.statistics().sync_losses, 0u);
    EXPECT_FALSE(host.statistics().input_ended);
  }
}

}  // namespace
