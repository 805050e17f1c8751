// Running captures through the host in tests: a filter callback that records what it gets, and a
// whole capture of a file with one filter.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "contract/host_contract.h"

namespace hosttest {

using Bytes = std::vector<uint8_t>;

// What one filter received. The callback checks that the byte count it is given is the section's
// own length.
struct SectionLog {
  std::mutex mutex;
  std::vector<Bytes> sections;
  std::atomic<int> size_mismatches{0};

  static void callback(void* context, uint32_t size, const uint8_t* section);
  std::vector<Bytes> snapshot();
  size_t count();
};

// Waits for a host's end-of-input handler.
class EndOfInput {
 public:
  void attach(host::Host& host);
  bool wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
  bool reached();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
};

// The host's ISectionFilter, with a reference the caller releases.
ISectionFilter* section_filter(host::Host& host);
ISISection* si_section(host::Host& host);

struct FilterArgs {
  uint16_t pid;
  Bytes match;
  Bytes mask;
};

struct CaptureResult {
  std::string error;  // from opening the file
  bool ended = false;
  std::vector<Bytes> sections;
  host::Statistics stats;
};

// Opens `path`, installs one filter, delivers the whole file and returns what the filter got.
CaptureResult capture_file(const std::string& path, const FilterArgs& filter);
// On an opened host: installs one filter, delivers the whole input into `log` and removes the filter.
// True when the end of the input was reached.
bool capture_to_end(host::Host& host, const FilterArgs& filter, SectionLog& log);

// A UDP port on 127.0.0.1 that nobody listens on at the time of asking.
uint16_t free_udp_port();

// Sends datagrams to 127.0.0.1:port.
class UdpSender {
 public:
  explicit UdpSender(uint16_t port);
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;
  bool send(const Bytes& datagram);

 private:
  int fd_;
  uint16_t port_;
};

// `stream` cut into datagrams of `packets_per_datagram` packets; with `rtp`, each behind an RTP
// header with a running sequence number.
std::vector<Bytes> datagrams_of(const Bytes& stream, size_t packets_per_datagram, bool rtp);

// The sections of a reply, copied; the reply released the way a plug-in releases it.
inline std::vector<Bytes> take(SectionReply& reply) {
  std::vector<Bytes> out;
  for (int32_t k = 0; k < reply.count; ++k) {
    const uint8_t* s = reply.sections[k];
    out.emplace_back(s, s + 3 + (((s[1] & 0x0F) << 8) | s[2]));
    task_free(reply.sections[k]);
  }
  if (reply.count > 0) task_free(reply.sections);
  reply = {0, nullptr};
  return out;
}

}  // namespace hosttest
