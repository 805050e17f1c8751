// UDP on the loopback: plain transport-stream datagrams and RTP-wrapped ones reach the filters.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "host/host.h"
#include "tests/host/capture_util.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace {

using hosttest::Bytes;

constexpr uint16_t kPid = 0x0BB9;

std::vector<Bytes> carousel_sections() {
  std::vector<Bytes> out;
  testsupport::SectionHeader h;
  for (int k = 0; k < 25; ++k) {
    h.table_id = k % 5 == 0 ? 0x3B : 0x3C;
    h.table_id_extension = static_cast<uint16_t>(k);
    out.push_back(testsupport::long_section(h, Bytes(static_cast<size_t>(90 + 37 * k), static_cast<uint8_t>(k))));
  }
  return out;
}

void receive_over_udp(bool rtp) {
  const uint16_t port = hosttest::free_udp_port();
  host::Host host;
  ASSERT_EQ(host.open("udp://127.0.0.1:" + std::to_string(port)), "");
  hosttest::SectionLog log;
  ISectionFilter* filters = hosttest::section_filter(host);
  const uint8_t match = 0x38, mask = 0x38;
  uint32_t handle = 0;
  ASSERT_EQ(filters->AddSectionFilter(kPid, &match, &mask, 1, &hosttest::SectionLog::callback, &log, &handle), S_OK);

  const auto sections = carousel_sections();
  testsupport::Packetizer p;
  p.add_sections(kPid, sections);
  p.add_section(kPid, testsupport::short_section(0x42, true, Bytes(30, 0)));  // kept out by the filter
  hosttest::UdpSender udp(port);
  for (const Bytes& d : hosttest::datagrams_of(p.take(), 7, rtp)) {
    ASSERT_TRUE(udp.send(d));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (log.count() < sections.size() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(log.snapshot(), sections);
  filters->RemoveSectionFilter(handle);
  filters->Release();
  host.stop();
  const host::Statistics s = host.statistics();
  EXPECT_EQ(s.cc_errors, 0u);
  EXPECT_EQ(s.sync_losses, 0u);
  EXPECT_FALSE(s.input_ended);
}

TEST(UdpLoopback, PlainTransportStream) { receive_over_udp(false); }

TEST(UdpLoopback, RtpWrappedTransportStream) { receive_over_udp(true); }

TEST(UdpLoopback, PortInUseIsAClearError) {
  const uint16_t port = hosttest::free_udp_port();
  host::Host first;
  ASSERT_EQ(first.open("udp://127.0.0.1:" + std::to_string(port)), "");
  host::Host second;
  const std::string error = second.open("udp://127.0.0.1:" + std::to_string(port));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
  EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
}

}  // namespace
