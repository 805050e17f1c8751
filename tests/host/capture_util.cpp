#include "tests/host/capture_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace hosttest {

void SectionLog::callback(void* context, uint32_t size, const uint8_t* section) {
  auto* log = static_cast<SectionLog*>(context);
  Bytes bytes(section, section + size);
  const size_t declared = size >= 3 ? 3 + (((section[1] & 0x0F) << 8) | section[2]) : 0;
  if (declared != size) log->size_mismatches.fetch_add(1);
  std::lock_guard lock(log->mutex);
  log->sections.push_back(std::move(bytes));
}

std::vector<Bytes> SectionLog::snapshot() {
  std::lock_guard lock(mutex);
  return sections;
}

size_t SectionLog::count() {
  std::lock_guard lock(mutex);
  return sections.size();
}

void EndOfInput::attach(host::Host& host) {
  host.set_end_of_input_handler([this] {
    // Notified under the lock: the waiter may destroy this object as soon as it wakes.
    std::lock_guard lock(mutex_);
    ended_ = true;
    cv_.notify_all();
  });
}

bool EndOfInput::wait(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [&] { return ended_; });
}

bool EndOfInput::reached() {
  std::lock_guard lock(mutex_);
  return ended_;
}

ISectionFilter* section_filter(host::Host& host) {
  void* out = nullptr;
  if (host.filter_manager()->QueryInterface(IID_ISectionFilter, &out) != S_OK) return nullptr;
  return static_cast<ISectionFilter*>(out);
}

ISISection* si_section(host::Host& host) {
  void* out = nullptr;
  if (host.filter_manager()->QueryInterface(IID_ISISection, &out) != S_OK) return nullptr;
  return static_cast<ISISection*>(out);
}

bool capture_to_end(host::Host& host, const FilterArgs& filter, SectionLog& log) {
  EndOfInput end;
  end.attach(host);
  ISectionFilter* filters = section_filter(host);
  uint32_t handle = 0;
  const HRESULT added = filters->AddSectionFilter(filter.pid, filter.match.data(), filter.mask.data(),
                                                  static_cast<uint32_t>(filter.match.size()), &SectionLog::callback,
                                                  &log, &handle);
  bool ended = false;
  if (added == S_OK) {
    host.begin_capture();
    ended = end.wait();
    filters->RemoveSectionFilter(handle);
  }
  filters->Release();
  return ended;
}

CaptureResult capture_file(const std::string& path, const FilterArgs& filter) {
  CaptureResult result;
  host::Host host;
  result.error = host.open(path);
  if (!result.error.empty()) return result;
  SectionLog log;
  result.ended = capture_to_end(host, filter, log);
  host.stop();
  result.sections = log.snapshot();
  result.stats = host.statistics();
  if (log.size_mismatches.load() != 0) result.error = "the callback's byte count differed from a section's length";
  return result;
}

uint16_t free_udp_port() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t length = sizeof a;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

UdpSender::UdpSender(uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)), port_(port) {}

UdpSender::~UdpSender() { ::close(fd_); }

bool UdpSender::send(const Bytes& datagram) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port_);
  return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(datagram.size());
}

std::vector<Bytes> datagrams_of(const Bytes& stream, size_t packets_per_datagram, bool rtp) {
  std::vector<Bytes> out;
  const size_t step = packets_per_datagram * 188;
  uint16_t sequence = 0x1234;
  for (size_t at = 0; at < stream.size(); at += step) {
    Bytes d;
    if (rtp) {
      // Version 2, payload type 33 (MPEG-2 transport stream), one CSRC.
      d = {0x81, 33, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 1, 2, 3, 9, 9, 9, 9,
           0xC0, 0xC1, 0xC2, 0xC3};
      ++sequence;
    }
    const size_t n = std::min(step, stream.size() - at);
    d.insert(d.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
             stream.begin() + static_cast<std::ptrdiff_t>(at + n));
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace hosttest
