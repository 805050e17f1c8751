#include "host/source.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/framer.h"
#include "bytes/byte_reader.h"
#include "text/printed.h"

namespace host {

namespace {

// How far into a stream we look for packets before calling it something else.
constexpr size_t PROBE_LIMIT = 1 << 20;
constexpr size_t MAX_DATAGRAM = 65536;
constexpr int UDP_RECEIVE_BUFFER = 8 << 20;


std::string ipv4_text(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  const in_addr a{htonl(address)};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool is_multicast(uint32_t address) { return (address >> 28) == 0xE; }

std::string not_a_stream_message(const std::string& who, size_t looked_at) {
  return text::printed(
      "%s is not a transport stream: no sync byte 0x47 repeating every 188, 192 or 204 bytes in its first "
      "%zu bytes",
      who.c_str(), looked_at);
}

// Standard input from a pipe or a terminal. The bytes read while checking that it is a transport
// stream are handed out first.
class PipeSource final : public LiveSource {
 public:
  PipeSource(std::string name, std::string who, int fd, std::vector<uint8_t> head)
      : LiveSource(std::move(name), fd), who_(std::move(who)), head_(std::move(head)) {}
  SourceKind kind() const noexcept override { return SourceKind::pipe; }
  bool silent() const noexcept override { return silent_; }

  ReadResult read(std::span<uint8_t> into, bool wait) override {
    if (head_used_ < head_.size()) {
      const size_t n = std::min(into.size(), head_.size() - head_used_);
      std::memcpy(into.data(), head_.data() + head_used_, n);
      head_used_ += n;
      return {ReadStatus::data, n, {}};
    }
    if (ended_) return {ReadStatus::end, 0, {}};
    for (;;) {
      if (wait && !wait_readable()) return {ReadStatus::interrupted, 0, {}};
      const ssize_t got = ::read(fd_, into.data(), into.size());
      if (got > 0) return {ReadStatus::data, static_cast<size_t>(got), {}};
      if (got == 0) {
        ended_ = true;
        return {ReadStatus::end, 0, {}};
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!wait) return {ReadStatus::data, 0, {}};
        continue;
      }
      return {ReadStatus::error, 0, text::printed("cannot read %s: %s", who_.c_str(), std::strerror(errno))};
    }
  }

  // Reads the first bytes and checks that they hold packets. Waits until enough has arrived, or until
  // `give_up` (asked every 100 ms) says so: a pipe whose writer stays silent that long is taken as one
  // that ended empty, so that a bounded capture ends on time with nothing.
  static std::unique_ptr<Source> open(const std::string& name, const std::string& who, int fd,
                                      const std::function<bool()>& give_up, std::string& error) {
    std::vector<uint8_t> head;
    head.reserve(PROBE_LIMIT);
    uint8_t block[65536];
    for (;;) {
      pollfd readable{fd, POLLIN, 0};
      const int ready = ::poll(&readable, 1, give_up ? 100 : -1);
      if (ready <= 0 && !(give_up && give_up())) continue;
      if (ready <= 0) {
        if (head.empty() || PacketFramer::probe(head, true).found) {
          auto source = std::unique_ptr<PipeSource>(new PipeSource(name, who, fd, std::move(head)));
          source->ended_ = source->head_.empty();
          source->silent_ = source->head_.empty();
          return source;
        }
        error = not_a_stream_message(who, head.size());
        if (fd > STDERR_FILENO) ::close(fd);
        return nullptr;
      }
      const ssize_t got = ::read(fd, block, sizeof block);
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        error = text::printed("cannot read %s: %s", who.c_str(), std::strerror(errno));
        if (fd > STDERR_FILENO) ::close(fd);
        return nullptr;
      }
      const bool at_end = got == 0;
      head.insert(head.end(), block, block + got);
      if (at_end && head.empty()) {
        error = who + " is empty";
        if (fd > STDERR_FILENO) ::close(fd);
        return nullptr;
      }
      const auto probe = PacketFramer::probe(head, at_end);
      if (probe.found) break;
      if (at_end || head.size() >= PROBE_LIMIT) {
        error = not_a_stream_message(who, head.size());
        if (fd > STDERR_FILENO) ::close(fd);
        return nullptr;
      }
    }
    return std::unique_ptr<Source>(new PipeSource(name, who, fd, std::move(head)));
  }

 private:
  std::string who_;
  std::vector<uint8_t> head_;
  size_t head_used_ = 0;
  bool ended_ = false;
  bool silent_ = false;
};

class UdpSource final : public LiveSource {
 public:
  UdpSource(std::string name, int fd) : LiveSource(std::move(name), fd), datagram_(MAX_DATAGRAM) {}
  SourceKind kind() const noexcept override { return SourceKind::udp; }

  ReadResult read(std::span<uint8_t> into, bool wait) override {
    for (;;) {
      if (wait && !wait_readable()) return {ReadStatus::interrupted, 0, {}};
      const ssize_t got = ::recv(fd_, datagram_.data(), datagram_.size(), wait ? 0 : MSG_DONTWAIT);
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          if (!wait) return {ReadStatus::data, 0, {}};
          continue;
        }
        return {ReadStatus::error, 0,
                text::printed("cannot receive from %s: %s", name().c_str(), std::strerror(errno))};
      }
      const auto payload =
          datagram_payload(std::span<const uint8_t>(datagram_.data(), static_cast<size_t>(got)));
      if (payload.empty() || payload.size() > into.size()) {
        if (!wait) return {ReadStatus::data, 0, {}};
        continue;
      }
      std::memcpy(into.data(), payload.data(), payload.size());
      return {ReadStatus::data, payload.size(), {}};
    }
  }

 private:
  std::vector<uint8_t> datagram_;
};

std::unique_ptr<Source> open_udp(const std::string& location, std::string& error) {
  UdpAddress address;
  if (!parse_udp_address(location, address, error)) return nullptr;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = text::printed("cannot open a UDP socket: %s", std::strerror(errno));
    return nullptr;
  }
  auto fail = [&](std::string message) -> std::unique_ptr<Source> {
    ::close(fd);
    error = std::move(message);
    return nullptr;
  };
  const int on = 1;
  if (address.group) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Best effort: a head-end feed comes in bursts, and the default buffer is small.
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &UDP_RECEIVE_BUFFER, sizeof UDP_RECEIVE_BUFFER);

  sockaddr_in bind_to{};
  bind_to.sin_family = AF_INET;
  bind_to.sin_port = htons(address.port);
  // Bound to the group, the socket receives that group's datagrams only, not those of other groups
  // on the same port.
  bind_to.sin_addr.s_addr = htonl(address.group ? address.group : address.local);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&bind_to), sizeof bind_to) != 0) {
    return fail(text::printed("cannot listen on %s:%u: %s",
                              ipv4_text(address.group ? address.group : address.local).c_str(),
                              static_cast<unsigned>(address.port), std::strerror(errno)));
  }
  if (address.group) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(address.group);
    request.imr_interface.s_addr = htonl(address.local);
    if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
      return fail(text::printed(
          "cannot join multicast group %s on interface %s: %s", ipv4_text(address.group).c_str(),
          address.local ? ipv4_text(address.local).c_str() : "(default)", std::strerror(errno)));
    }
  }
  return std::unique_ptr<Source>(new UdpSource(location, fd));
}

std::unique_ptr<Source> check_file(std::unique_ptr<FileSource> file, const std::string& who,
                                   std::string& error) {
  if (file->size() == 0) {
    error = who + " is empty";
    return nullptr;
  }
  const size_t window = static_cast<size_t>(std::min<uint64_t>(file->size(), PROBE_LIMIT));
  std::vector<uint8_t> head(window);
  size_t filled = 0;
  while (filled < window) {
    const long got = file->read_at(filled, std::span<uint8_t>(head).subspan(filled), error);
    if (got < 0) return nullptr;
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  head.resize(filled);
  const bool whole = filled == file->size();
  if (!PacketFramer::probe(head, whole).found) {
    error = not_a_stream_message(who, filled);
    return nullptr;
  }
  return file;
}

}  // namespace

FileSource::~FileSource() { ::close(fd_); }

long FileSource::read_at(uint64_t offset, std::span<uint8_t> into, std::string& error) const {
  for (;;) {
    const ssize_t got = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(offset));
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    error = text::printed("cannot read %s: %s", name().c_str(), std::strerror(errno));
    return -1;
  }
}

LiveSource::LiveSource(std::string name, int fd)
    : Source(std::move(name)), fd_(fd), wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

LiveSource::~LiveSource() {
  if (fd_ > STDERR_FILENO) ::close(fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void LiveSource::interrupt() noexcept {
  const uint64_t one = 1;
  if (wake_fd_ >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
}

bool LiveSource::wait_readable() {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, wake_fd_ >= 0 ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return true;  // let the read itself report the failure
    }
    if (wake_fd_ >= 0 && (fds[1].revents & POLLIN)) return false;
    if (fds[0].revents) return true;
  }
}

bool parse_udp_address(const std::string& location, UdpAddress& out, std::string& error) {
  static constexpr char scheme[] = "udp://";
  auto bad = [&](const std::string& why) {
    error = text::printed("bad UDP address \"%s\": %s", location.c_str(), why.c_str());
    return false;
  };
  if (location.compare(0, sizeof scheme - 1, scheme) != 0) return bad("expected udp://[group@]host:port");
  std::string rest = location.substr(sizeof scheme - 1);
  std::string group_text;
  if (const auto at = rest.find('@'); at != std::string::npos) {
    group_text = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  const auto colon = rest.rfind(':');
  if (colon == std::string::npos) return bad("expected udp://[group@]host:port (the port is missing)");
  const std::string host_text = rest.substr(0, colon);
  const std::string port_text = rest.substr(colon + 1);

  unsigned long port = 0;
  bool digits = !port_text.empty() && port_text.size() <= 5;
  for (char c : port_text) digits = digits && c >= '0' && c <= '9';
  if (digits) port = std::stoul(port_text);
  if (!digits || port == 0 || port > 65535)
    return bad("the port \"" + port_text + "\" is not a number from 1 to 65535");

  auto resolve = [&](const std::string& text, uint32_t& address) {
    if (text.empty()) {
      address = 0;
      return true;
    }
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) == 1) {
      address = ntohl(a.s_addr);
      return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
      bad("cannot resolve \"" + text + "\": " + gai_strerror(rc));
      return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return true;
  };

  UdpAddress result;
  result.port = static_cast<uint16_t>(port);
  if (!resolve(host_text, result.local)) return false;
  if (!group_text.empty()) {
    if (!resolve(group_text, result.group)) return false;
    if (!is_multicast(result.group))
      return bad(group_text + " is not a multicast group (224.0.0.0 to 239.255.255.255)");
    if (is_multicast(result.local))
      return bad("the part after @ must be a local interface address, not a group");
  } else if (is_multicast(result.local)) {
    result.group = result.local;
    result.local = 0;
  }
  out = result;
  return true;
}

std::span<const uint8_t> datagram_payload(std::span<const uint8_t> datagram, bool* was_rtp) {
  if (was_rtp) *was_rtp = false;
  if (datagram.empty() || datagram[0] == TS_SYNC_BYTE) return datagram;
  bytes::ByteReader r(datagram);
  const uint8_t first = r.u8();
  if ((first >> 6) != 2) return datagram;  // not RTP version 2
  const bool padding = (first & 0x20) != 0;
  const bool extension = (first & 0x10) != 0;
  const size_t csrc_count = first & 0x0F;
  r.skip(11);  // marker and payload type, sequence number, timestamp, SSRC
  r.skip(4 * csrc_count);
  if (extension) {
    r.skip(2);
    r.skip(4 * size_t{r.be16()});
  }
  if (!r.ok()) return datagram;
  std::span<const uint8_t> payload = r.rest();
  if (padding && !payload.empty()) {
    const size_t pad = payload.back();
    if (pad == 0 || pad > payload.size()) return datagram;
    payload = payload.first(payload.size() - pad);
  }
  if (payload.empty() || payload[0] != TS_SYNC_BYTE) return datagram;
  if (was_rtp) *was_rtp = true;
  return payload;
}

std::unique_ptr<Source> open_source(const std::string& location, std::string& error,
                                    const std::function<bool()>& give_up) {
  error.clear();
  if (location.empty()) {
    error =
        "no source given: expected a transport-stream file, - for standard input, or udp://[group@]host:port";
    return nullptr;
  }
  if (location.compare(0, 4, "udp:") == 0) return open_udp(location, error);

  if (location == "-") {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) {
      error = text::printed("cannot use standard input: %s", std::strerror(errno));
      return nullptr;
    }
    if (S_ISREG(st.st_mode)) {
      // Redirected from a file: read it like one, from its start, as often as needed.
      const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
      if (fd < 0) {
        error = text::printed("cannot use standard input: %s", std::strerror(errno));
        return nullptr;
      }
      return check_file(
          std::unique_ptr<FileSource>(new FileSource("-", fd, static_cast<uint64_t>(st.st_size))),
          "standard input", error);
    }
    return PipeSource::open("-", "standard input", STDIN_FILENO, give_up, error);
  }

  // Non-blocking, so that a named pipe without a writer cannot hold the program in open(); a regular
  // file ignores the flag.
  const int fd = ::open(location.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = text::printed("cannot open %s: %s", location.c_str(), std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = text::printed("cannot open %s: %s", location.c_str(), std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    error = text::printed("%s is a directory, not a transport-stream file", location.c_str());
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    // A named pipe or a device: live, like standard input.
    return PipeSource::open(location, location, fd, give_up, error);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return check_file(
      std::unique_ptr<FileSource>(new FileSource(location, fd, static_cast<uint64_t>(st.st_size))), location,
      error);
}

}  // namespace host
