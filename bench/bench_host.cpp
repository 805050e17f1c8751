// The host's whole path on a large capture: file read, packet framing, demultiplexing, filter match
// and delivery to a callback that copies each section, as a capture does. Measured against reading
// the same file from the page cache without looking at it.
//
// The stream (about 1 GB) is generated once, before any timing, into the build folder (or the
// folder in $DSMCC_BENCH_DIR) and reused by later runs while its size and first bytes still fit.
// Three video-like PIDs with PES starts and adaptation fields, null packets, and a carousel PID at
// about 5% of the packets carrying 4 KB DSM-CC sections.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "host/file_pass.h"
#include "host/host.h"
#include "contract/host_contract.h"

namespace {

constexpr uint16_t kCarouselPid = 0x07D3;
constexpr uint16_t kVideoPids[] = {0x0100, 0x0101, 0x0102};
constexpr uint64_t kTargetBytes = 1ull << 30;
constexpr uint64_t kPackets = kTargetBytes / 188;
constexpr size_t kSectionSize = 4096;
constexpr size_t kSectionsPerModule = 16;

std::string g_path;
uint64_t g_sections_in_file = 0;
double g_plain_read_seconds = 0;

// Writes packets into a large buffer and flushes it to the file in big writes.
class PacketWriter {
 public:
  explicit PacketWriter(FILE* f) : file_(f) { buffer_.reserve(kFlush + 188); }
  ~PacketWriter() { flush(); }
  uint8_t* next() {
    buffer_.resize(buffer_.size() + 188);
    if (buffer_.size() >= kFlush) {
      // Keep the packet being written: flush everything before it.
      std::fwrite(buffer_.data(), 1, buffer_.size() - 188, file_);
      std::memmove(buffer_.data(), buffer_.data() + buffer_.size() - 188, 188);
      buffer_.resize(188);
    }
    return buffer_.data() + buffer_.size() - 188;
  }
  void flush() {
    if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    buffer_.clear();
  }

 private:
  static constexpr size_t kFlush = 8 << 20;
  FILE* file_;
  std::vector<uint8_t> buffer_;
};

void header(uint8_t* p, uint16_t pid, bool unit_start, uint8_t& cc, bool adaptation) {
  p[0] = 0x47;
  p[1] = static_cast<uint8_t>((unit_start ? 0x40 : 0) | (pid >> 8));
  p[2] = static_cast<uint8_t>(pid);
  p[3] = static_cast<uint8_t>((adaptation ? 0x30 : 0x10) | cc);
  cc = static_cast<uint8_t>((cc + 1) & 0x0F);
}

// The carousel's byte stream: back-to-back DSM-CC download sections of 4096 bytes.
class CarouselFeed {
 public:
  CarouselFeed() : section_(kSectionSize) {}
  // Fills a 184-byte payload; true when a section starts in it (pointer_field first).
  bool fill(uint8_t* payload, uint64_t& completed) {
    // A section may start here only if at least its first byte fits behind the pointer_field and
    // the end of the one before.
    const bool starts = offset_ == 0 || kSectionSize - offset_ <= 182;
    size_t at = 0;
    if (starts) {
      const size_t tail = offset_ == 0 ? 0 : kSectionSize - offset_;
      payload[at++] = static_cast<uint8_t>(tail);
      copy(payload + at, tail);
      at += tail;
      if (tail > 0) ++completed;
      if (offset_ != 0) next_section();
    }
    const size_t room = 184 - at;
    const size_t n = std::min(room, kSectionSize - offset_);
    copy(payload + at, n);
    if (offset_ == kSectionSize) {
      ++completed;
      next_section();
    }
    at += n;
    std::memset(payload + at, 0xFF, 184 - at);
    return starts;
  }

 private:
  void copy(uint8_t* to, size_t n) {
    if (offset_ == 0) build();
    std::memcpy(to, section_.data() + offset_, n);
    offset_ += n;
  }
  void next_section() {
    offset_ = 0;
    ++number_;
  }
  void build() {
    // A DownloadDataBlock-like section: table 0x3C, long syntax, section_length 4093.
    section_[0] = 0x3C;
    section_[1] = 0xB0 | static_cast<uint8_t>((kSectionSize - 3) >> 8);
    section_[2] = static_cast<uint8_t>((kSectionSize - 3) & 0xFF);
    section_[3] = static_cast<uint8_t>(number_ / kSectionsPerModule);
    section_[4] = 0x01;
    section_[5] = 0xC1;
    section_[6] = static_cast<uint8_t>(number_ % kSectionsPerModule);
    section_[7] = kSectionsPerModule - 1;
    for (size_t i = 8; i < kSectionSize; ++i) section_[i] = static_cast<uint8_t>(number_ + i);
  }
  std::vector<uint8_t> section_;
  size_t offset_ = 0;
  uint64_t number_ = 0;
};

bool generate(const std::string& path, uint64_t& sections) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  uint8_t cc[0x2000] = {};
  CarouselFeed carousel;
  sections = 0;
  {
    PacketWriter out(f);
    for (uint64_t k = 0; k < kPackets; ++k) {
      uint8_t* p = out.next();
      if (k % 20 == 7) {
        header(p, kCarouselPid, false, cc[kCarouselPid], false);
        if (carousel.fill(p + 4, sections)) p[1] |= 0x40;
      } else if (k % 97 == 0) {
        header(p, 0x1FFF, false, cc[0x1FFF], false);
        std::memset(p + 4, 0xFF, 184);
      } else {
        const uint16_t pid = kVideoPids[k % 3];
        const bool pes_start = k % 300 < 3;
        header(p, pid, pes_start, cc[pid], pes_start);
        size_t at = 4;
        if (pes_start) {
          p[at++] = 7;  // adaptation field with a PCR
          p[at++] = 0x10;
          for (int i = 0; i < 6; ++i) p[at++] = static_cast<uint8_t>(k >> (i * 4));
          const uint8_t pes[] = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80, 0x05};
          std::memcpy(p + at, pes, sizeof pes);
          at += sizeof pes;
        }
        for (; at < 188; ++at) p[at] = static_cast<uint8_t>((k * 31 + at) | 0x80);
      }
    }
  }
  std::fclose(f);
  return true;
}

// Reuses a stream left by an earlier run when it is the size this one would write.
bool prepare_stream() {
  const char* dir_env = std::getenv("DSMCC_BENCH_DIR");
  const std::string dir = dir_env && *dir_env ? dir_env : DSMCC_BENCH_DATA_DIR;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  g_path = dir + "/host-bench.ts";
  const uint64_t expected_size = kPackets * 188;
  struct stat st {};
  if (::stat(g_path.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) != expected_size) {
    std::fprintf(stderr, "writing the benchmark stream %s (%llu bytes)...\n", g_path.c_str(),
                 static_cast<unsigned long long>(expected_size));
    if (!generate(g_path, g_sections_in_file)) {
      std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
      return false;
    }
  } else {
    // The count follows from the layout: one carousel packet in twenty.
    CarouselFeed carousel;
    uint8_t payload[184];
    g_sections_in_file = 0;
    for (uint64_t k = 7; k < kPackets; k += 20) carousel.fill(payload, g_sections_in_file);
  }
  return true;
}

// The plain read: the same block size as the host, nothing looked at.
void BM_PlainRead(benchmark::State& state) {
  std::vector<uint8_t> buffer(host::FILE_BLOCK_SIZE);
  uint64_t total = 0;
  double best = 1e30;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(g_path.c_str(), O_RDONLY);
    uint64_t bytes = 0;
    ssize_t got = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) bytes += static_cast<uint64_t>(got);
    ::close(fd);
    benchmark::DoNotOptimize(buffer.data());
    total += bytes;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  g_plain_read_seconds = best;
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

struct Copier {
  std::vector<uint8_t> copy = std::vector<uint8_t>(4096);
  uint64_t sections = 0;
  static void callback(void* context, uint32_t size, const uint8_t* section) {
    auto* c = static_cast<Copier*>(context);
    std::memcpy(c->copy.data(), section, std::min<size_t>(size, c->copy.size()));
    ++c->sections;
  }
};

// The whole path: the host delivers the file to a filter (match 0x38 under mask 0x38) on the
// carousel PID, on its delivery thread, at full speed.
void BM_HostCapture(benchmark::State& state) {
  uint64_t total = 0;
  double best = 1e30;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    host::Host host;
    const std::string error = host.open(g_path);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;
    host.set_end_of_input_handler([&] {
      std::lock_guard lock(mutex);
      ended = true;
      cv.notify_all();
    });
    void* out = nullptr;
    host.filter_manager()->QueryInterface(IID_ISectionFilter, &out);
    auto* filters = static_cast<ISectionFilter*>(out);
    Copier copier;
    const uint8_t match = 0x38, mask = 0x38;
    uint32_t handle = 0;
    filters->AddSectionFilter(kCarouselPid, &match, &mask, 1, &Copier::callback, &copier, &handle);
    host.begin_capture();
    {
      std::unique_lock lock(mutex);
      cv.wait(lock, [&] { return ended; });
    }
    filters->RemoveSectionFilter(handle);
    filters->Release();
    host.stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds);
    const host::Statistics s = host.statistics();
    total += s.bytes;
    if (copier.sections != g_sections_in_file || s.cc_errors != 0) {
      state.SkipWithError("the capture did not deliver every section of the stream");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
  state.counters["sections"] = static_cast<double>(g_sections_in_file);
  if (g_plain_read_seconds > 0) state.counters["x_plain_read"] = best / g_plain_read_seconds;
}

}  // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_HostCapture)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!prepare_stream()) return 1;
  // One untimed read, so that both benchmarks start from the page cache.
  {
    std::vector<uint8_t> buffer(8 << 20);
    const int fd = ::open(g_path.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
