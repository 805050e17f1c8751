// Where the transport stream comes from: a file, standard input, or UDP.
//
// A file (standard input redirected from a file included) has a definite end and can be read from its
// start any number of times, each reader with its own position, so that a PSI scan and a capture read
// it independently. Standard input from a pipe and UDP are live: they deliver what arrives, once,
// until they end (a pipe) or are stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace host {

enum class SourceKind { file, pipe, udp };

class Source {
 public:
  virtual ~Source() = default;
  virtual SourceKind kind() const noexcept = 0;
  bool live() const noexcept { return kind() != SourceKind::file; }
  // A pipe that sent nothing within the wait its opening allowed.
  virtual bool silent() const noexcept { return false; }
  // The name the user gave ("-" for standard input), for messages.
  const std::string& name() const noexcept { return name_; }

 protected:
  explicit Source(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

class FileSource final : public Source {
 public:
  ~FileSource() override;
  SourceKind kind() const noexcept override { return SourceKind::file; }
  uint64_t size() const noexcept { return size_; }
  // Reads at an absolute offset without moving any shared position, so readers on several threads
  // do not disturb one another. Returns the bytes read (0 at the end), or -1 with `error` set.
  long read_at(uint64_t offset, std::span<uint8_t> into, std::string& error) const;

 private:
  friend std::unique_ptr<Source> open_source(const std::string&, std::string&, const std::function<bool()>&);
  FileSource(std::string name, int fd, uint64_t size) : Source(std::move(name)), fd_(fd), size_(size) {}
  int fd_;
  uint64_t size_;
};

// A source that delivers what arrives. read() blocks until data comes, the input ends or
// interrupt() is called from another thread.
class LiveSource : public Source {
 public:
  enum class ReadStatus { data, end, interrupted, error };
  struct ReadResult {
    ReadStatus status;
    size_t size = 0;        // bytes written into the buffer
    std::string error;      // for ReadStatus::error
  };
  ~LiveSource() override;
  // For a datagram source each read returns the transport-stream payload of exactly one datagram
  // (an RTP header taken off); for a pipe, whatever bytes arrived.
  virtual ReadResult read(std::span<uint8_t> into, bool wait) = 0;
  bool datagrams() const noexcept { return kind() == SourceKind::udp; }
  // Thread-safe; every read from then on returns `interrupted`.
  void interrupt() noexcept;

 protected:
  LiveSource(std::string name, int fd);
  // Waits until the descriptor is readable; false when interrupted.
  bool wait_readable();
  int fd_;
  int wake_fd_;
};

// Opens a source: a file path, "-" for standard input, or "udp://[group@]host:port". On failure
// returns null and sets `error` to a one-line message for the user.
// A pipe (standard input, a named pipe) is checked from its first bytes; `give_up` (asked several times
// a second) ends the wait for them: a silent pipe then opens as one that ended with nothing.
std::unique_ptr<Source> open_source(const std::string& location, std::string& error,
                                    const std::function<bool()>& give_up = {});

// A parsed "udp://[group@]host:port". Addresses are IPv4 in host byte order.
//   udp://:1234 or udp://0.0.0.0:1234   listen on every interface
//   udp://192.168.1.5:1234              listen on one local address
//   udp://239.1.1.1:1234                join the group on the default interface (also udp://@239.1.1.1:1234)
//   udp://239.1.1.1@192.168.1.5:1234    join the group on the interface with that local address
struct UdpAddress {
  uint32_t group = 0;  // 0: unicast
  uint32_t local = 0;  // interface or listening address; 0 for any
  uint16_t port = 0;
};
bool parse_udp_address(const std::string& location, UdpAddress& out, std::string& error);

// The transport-stream bytes of one datagram: the datagram itself when it starts with a sync byte,
// the RTP payload when it carries an RTP header in front of packets (CSRCs, extension and padding
// taken off), else the datagram as it is, for the framer to resynchronise on.
std::span<const uint8_t> datagram_payload(std::span<const uint8_t> datagram, bool* was_rtp = nullptr);

}  // namespace host
