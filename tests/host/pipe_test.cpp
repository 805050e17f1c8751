// Streams that arrive through a pipe (a named pipe here, standard input in use) are live: read once,
// as they come, to their end. Standard input redirected from a file is read like the file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

std::vector<Bytes> carousel_sections(size_t count) {
  std::vector<Bytes> out;
  testsupport::SectionHeader h;
  h.table_id = 0x3C;
  for (size_t k = 0; k < count; ++k) {
    h.table_id_extension = static_cast<uint16_t>(k);
    out.push_back(testsupport::long_section(h, Bytes(300 + k * 11 % 3000, static_cast<uint8_t>(k))));
  }
  return out;
}

// Writes `stream` into the named pipe in pieces of odd sizes, then closes it.
std::thread pipe_writer(const std::string& fifo, Bytes stream) {
  return std::thread([fifo, stream = std::move(stream)] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    size_t at = 0;
    size_t piece = 1000;
    while (at < stream.size()) {
      const size_t n = std::min(piece, stream.size() - at);
      const ssize_t wrote = ::write(fd, stream.data() + at, n);
      if (wrote <= 0) break;
      at += static_cast<size_t>(wrote);
      piece = piece * 7 % 70001 + 1;
    }
    ::close(fd);
  });
}

TEST(PipeSource, DeliversEverythingAndEnds) {
  testsupport::TempDir dir;
  const std::string fifo = dir.path() + "/feed";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto sections = carousel_sections(400);
  testsupport::PacketizerOptions o;
  o.packet_size = 192;
  testsupport::Packetizer p(o);
  p.add_sections(kPid, sections);
  std::thread writer = pipe_writer(fifo, p.take());

  hosttest::EndOfInput end;
  host::Host host;
  ASSERT_EQ(host.open(fifo), "");
  EXPECT_TRUE(host.is_live());
  end.attach(host);
  hosttest::SectionLog log;
  ISectionFilter* filters = hosttest::section_filter(host);
  uint32_t handle = 0;
  ASSERT_EQ(filters->AddSectionFilter(kPid, nullptr, nullptr, 0, &hosttest::SectionLog::callback, &log, &handle),
            S_OK);
  EXPECT_TRUE(host.begin_capture());
  ASSERT_TRUE(end.wait());
  writer.join();
  EXPECT_EQ(log.snapshot(), sections);
  const host::Statistics s = host.statistics();
  EXPECT_TRUE(s.input_ended);
  EXPECT_EQ(s.cc_errors, 0u);
  EXPECT_EQ(s.sync_losses, 0u);
  filters->RemoveSectionFilter(handle);
  filters->Release();
  host.stop();
}

TEST(PipeSource, PsiRequestEndsWithTheInput) {
  testsupport::TempDir dir;
  const std::string fifo = dir.path() + "/feed";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  testsupport::Packetizer p;
  p.add_sections(kPid, carousel_sections(50));
  std::thread writer = pipe_writer(fifo, p.take());
  host::Host host;
  ASSERT_EQ(host.open(fifo), "");
  ISISection* si = hosttest::si_section(host);
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{2, nullptr};
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(si->RequestSections(1, &pat, 30, &reply), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(reply.count, 0);
  writer.join();
  si->Release();
  host.stop();
}

TEST(PipeSource, NotAStreamIsRefused) {
  testsupport::TempDir dir;
  const std::string fifo = dir.path() + "/feed";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes text(3000, 'x');
  std::thread writer = pipe_writer(fifo, text);
  host::Host host;
  const std::string error = host.open(fifo);
  writer.join();
  EXPECT_NE(error.find(fifo + " is not a transport stream"), std::string::npos) << error;
}

// Runs `body` with standard input taken from `path`, and puts it back after.
template <typename Body>
void with_stdin_from(const std::string& path, Body body) {
  const int saved = ::dup(STDIN_FILENO);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ::dup2(fd, STDIN_FILENO);
  ::close(fd);
  body();
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
}

TEST(StandardInput, RedirectedFromAFileIsReadLikeTheFile) {
  testsupport::TempDir dir;
  const auto sections = carousel_sections(30);
  testsupport::Packetizer p;
  p.add_section(0x0000, testsupport::pat_section(1, {{1, 0x100}}));
  p.add_sections(kPid, sections);
  const std::string path = dir.write("in.ts", p.take());
  host::Host host;
  with_stdin_from(path, [&] { ASSERT_EQ(host.open("-"), ""); });
  EXPECT_FALSE(host.is_live());
  EXPECT_EQ(host.source()->name(), "-");
  // Readable from the start twice: a PSI request, then the capture.
  ISISection* si = hosttest::si_section(host);
  const SectionRequest pat = SectionRequest::make(0x0000, 0x00);
  SectionReply reply{};
  ASSERT_EQ(si->RequestSections(1, &pat, 30, &reply), S_OK);
  EXPECT_EQ(reply.count, 1);
  task_free(reply.sections[0]);
  task_free(reply.sections);
  si->Release();
  hosttest::SectionLog log;
  ASSERT_TRUE(hosttest::capture_to_end(host, {kPid, {}, {}}, log));
  host.stop();
  EXPECT_EQ(log.snapshot(), sections);
}

TEST(StandardInput, EmptyIsRefused) {
  testsupport::TempDir dir;
  const std::string path = dir.write("empty.ts", {});
  host::Host host;
  with_stdin_from(path, [&] { EXPECT_EQ(host.open("-"), "standard input is empty"); });
}

}  // namespace
