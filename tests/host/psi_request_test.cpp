// RequestSections and CancelRequest: sub-tables from a file read from its start, from a live source
// as it comes, and the ways a request ends early.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/host.h"
#include "tests/host/capture_util.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace {

using hosttest::take;
using hosttest::Bytes;
using Clock = std::chrono::steady_clock;

struct Multiplex {
  Bytes pat0 = testsupport::pat_section(0x0042, {{0, 0x0010}, {1, 0x0100}, {2, 0x0101}}, 4, 0, 1);
  Bytes pat1 = testsupport::pat_section(0x0042, {{3, 0x0101}}, 4, 1, 1);
  Bytes pmt1 = testsupport::pmt_section(1, 0x0200, {}, {{0x0B, 0x0BB9, testsupport::carousel_id_descriptor(7)}});
  Bytes pmt2 = testsupport::pmt_section(2, 0x0200, {}, {{0x02, 0x0201, {}}});
  Bytes pmt3 = testsupport::pmt_section(3, 0x0200, {}, {{0x0D, 0x0BBA, {}}});
  Bytes stream;

  Multiplex() {
    testsupport::Packetizer p;
    testsupport::SectionHeader h;
    h.table_id = 0x3C;
    // Carousel data first, so that the PSI lies well into the file.
    for (int k = 0; k < 2000; ++k) p.add_section(0x0BB9, testsupport::long_section(h, Bytes(400, 0x55)));
    // A PAT section that fails its CRC, with other contents, ahead of the good ones.
    Bytes broken = testsupport::pat_section(0x0042, {{9, 0x0999}}, 4, 0, 1);
    broken[broken.size() - 1] ^= 0x01;
    p.add_section(0x0000, broken);
    p.add_section(0x0000, pat1);
    p.add_section(0x0101, pmt3);
    p.add_section(0x0000, pat0);
    p.add_section(0x0100, pmt1);
    p.add_section(0x0101, pmt2);
    stream = p.take();
  }
};

struct FileRequests : ::testing::Test {
  testsupport::TempDir dir;
  hosttest::EndOfInput end_of_input;  // outlives the host, whose thread calls it
  host::Host host;
  ISISection* si = nullptr;
  void open(const Bytes& stream) {
    ASSERT_EQ(host.open(dir.write("psi.ts", stream)), "");
    si = hosttest::si_section(host);
    ASSERT_NE(si, nullptr);
  }
  void TearDown() override {
    if (si) si->Release();
  }
};

TEST_F(FileRequests, PatThenPmtsComeWholeAndInOrder) {
  const Multiplex m;
  open(m.stream);
  std::vector<std::string> messages;
  host.set_diagnostic_handler([&](const std::string& text) { messages.push_back(text); });
  SectionReply reply[4] = {};
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  ASSERT_EQ(si->RequestSections(1, &pat, 30, reply), S_OK);
  EXPECT_EQ(take(reply[0]), (std::vector<Bytes>{m.pat0, m.pat1}));
  EXPECT_EQ(messages, std::vector<std::string>{"1 PSI sections failed their CRC-32 check and were ignored"});

  const SectionRequest pmts[4] = {SectionRequest::make(0x0100, 0x02, true, 1),
                                  SectionRequest::make(0x0101, 0x02, true, 2),
                                  SectionRequest::make(0x0101, 0x02, true, 3),
                                  SectionRequest::make(0x0102, 0x02, true, 4)};
  ASSERT_EQ(si->RequestSections(4, pmts, 30, reply), S_OK);
  EXPECT_EQ(take(reply[0]), std::vector<Bytes>{m.pmt1});
  EXPECT_EQ(take(reply[1]), std::vector<Bytes>{m.pmt2});
  EXPECT_EQ(take(reply[2]), std::vector<Bytes>{m.pmt3});
  EXPECT_EQ(reply[3].count, 0);
  EXPECT_EQ(reply[3].sections, nullptr);
}

TEST_F(FileRequests, ReadFromTheStartWhateverTheCaptureDid) {
  const Multiplex m;
  open(m.stream);
  hosttest::EndOfInput& end = end_of_input;
  end.attach(host);
  hosttest::SectionLog log;
  ISectionFilter* filters = hosttest::section_filter(host);
  uint32_t handle = 0;
  filters->AddSectionFilter(0x0BB9, nullptr, nullptr, 0, &hosttest::SectionLog::callback, &log, &handle);
  host.begin_capture();
  ASSERT_TRUE(end.wait());
  filters->RemoveSectionFilter(handle);
  filters->Release();
  EXPECT_EQ(log.count(), 2000u);
  // The capture has read the whole file; a request still gets the PAT, twice over.
  for (int round = 0; round < 2; ++round) {
    SectionReply reply{};
    const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
    ASSERT_EQ(si->RequestSections(1, &pat, 30, &reply), S_OK);
    EXPECT_EQ(take(reply), (std::vector<Bytes>{m.pat0, m.pat1}));
  }
  // A PSI pass is not part of the capture's statistics.
  EXPECT_EQ(host.statistics().sections_delivered, 2000u);
}

TEST_F(FileRequests, NothingToFindEndsAtTheEndOfTheFile) {
  testsupport::Packetizer p;
  testsupport::SectionHeader h;
  h.table_id = 0x3B;
  for (int k = 0; k < 500; ++k) p.add_section(0x0BB9, testsupport::long_section(h, Bytes(100, 1)));
  open(p.take());
  const SectionRequest requests[2] = {SectionRequest::make(0x0000, 0x00), SectionRequest::make(0x0001, 0x01)};
  SectionReply replies[2] = {{5, nullptr}, {5, nullptr}};
  const auto started = Clock::now();
  ASSERT_EQ(si->RequestSections(2, requests, 30, replies), S_OK);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(replies[0].count, 0);
  EXPECT_EQ(replies[1].count, 0);
}

TEST_F(FileRequests, ArgumentsAreChecked) {
  const Multiplex m;
  open(m.stream);
  std::vector<SectionRequest> many(MAX_SECTION_REQUESTS + 1, SectionRequest::make(0, 0));
  std::vector<SectionReply> replies(many.size());
  EXPECT_LT(si->RequestSections(MAX_SECTION_REQUESTS + 1, many.data(), 30, replies.data()), 0);
  EXPECT_EQ(si->RequestSections(0, nullptr, 30, nullptr), S_OK);
  EXPECT_LT(si->RequestSections(1, nullptr, 30, replies.data()), 0);
  EXPECT_LT(si->RequestSections(1, many.data(), 30, nullptr), 0);
}

TEST(NoSource, RequestsFail) {
  host::Host host;
  ISISection* si = hosttest::si_section(host);
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{3, nullptr};
  EXPECT_LT(si->RequestSections(1, &pat, 1, &reply), 0);
  EXPECT_EQ(reply.count, 0);
  si->Release();
}

// A live source on which nothing arrives: a request waits for its timeout, its cancel or stop().
struct SilentLive : ::testing::Test {
  host::Host host;
  ISISection* si = nullptr;
  void SetUp() override {
    const uint16_t port = hosttest::free_udp_port();
    ASSERT_EQ(host.open("udp://127.0.0.1:" + std::to_string(port)), "");
    ASSERT_TRUE(host.is_live());
    si = hosttest::si_section(host);
  }
  void TearDown() override {
    host.stop();
    if (si) si->Release();
  }
};

TEST_F(SilentLive, CancelFromAnotherThreadReturnsPromptly) {
  std::atomic<HRESULT> status{S_OK};
  SectionReply reply{9, nullptr};
  const auto started = Clock::now();
  std::thread worker([&] {
    const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
    status = si->RequestSections(1, &pat, 30, &reply);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(si->CancelRequest(), S_OK);
  worker.join();
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_LT(status.load(), 0);
  EXPECT_EQ(reply.count, 0);
}

TEST_F(SilentLive, CancelBetweenTwoRequestsCancelsTheNextOne) {
  EXPECT_EQ(si->CancelRequest(), S_OK);
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{};
  const auto started = Clock::now();
  EXPECT_LT(si->RequestSections(1, &pat, 30, &reply), 0);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
  // Only the one: the next request waits out its timeout again, and that gives count 0.
  reply = {4, nullptr};
  const auto again = Clock::now();
  EXPECT_EQ(si->RequestSections(1, &pat, 1, &reply), S_OK);
  EXPECT_GE(Clock::now() - again, std::chrono::milliseconds(900));
  EXPECT_EQ(reply.count, 0);
}

TEST_F(SilentLive, CancelJustAfterARequestEndedLeavesTheNextOneAlone) {
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{};
  EXPECT_EQ(si->RequestSections(1, &pat, 1, &reply), S_OK);  // waits out its second
  EXPECT_EQ(si->CancelRequest(), S_OK);                     // the scan window's late Cancel
  reply = {4, nullptr};
  const auto again = Clock::now();
  EXPECT_EQ(si->RequestSections(1, &pat, 1, &reply), S_OK);
  EXPECT_GE(Clock::now() - again, std::chrono::milliseconds(900)) << "the next request ran its course";
}

TEST_F(SilentLive, StopEndsAWaitingRequest) {
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
    SectionReply reply{};
    si->RequestSections(1, &pat, 30, &reply);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto started = Clock::now();
  host.stop();
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
}

TEST(LivePsi, PatArrivesOverUdp) {
  const uint16_t port = hosttest::free_udp_port();
  host::Host host;
  ASSERT_EQ(host.open("udp://127.0.0.1:" + std::to_string(port)), "");
  ISISection* si = hosttest::si_section(host);
  const Bytes pat = testsupport::pat_section(0x0007, {{1, 0x0100}, {2, 0x0200}});
  testsupport::Packetizer p;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    hosttest::UdpSender udp(port);
    while (!done.load()) {
      p.add_section(0x0000, pat);
      udp.send(p.take());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const SectionRequest request = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{};
  EXPECT_EQ(si->RequestSections(1, &request, 30, &reply), S_OK);
  done = true;
  sender.join();
  EXPECT_EQ(take(reply), std::vector<Bytes>{pat});
  host.stop();
  si->Release();
}

}  // namespace
