// The whole analyzer as a user runs it: the `dsmcc` program on streams that the test builder makes,
// each run timed from start to exit and set against a plain read of the same file in the same run.
//
//   carousel-only   every packet on the carousel PID, one object carousel repeated for 128 MB (its DSI
//                   and DII before every block, as broadcasters repeat them), with the full
//                   level-4 trace written to a file and with --log-level 3
//   multiplex       the same carousel at about 3% of the packets among three other PIDs, with a PAT
//                   and PMT ten times a second at 40 Mbit/s, 400 MB
//   10,000 files    one cycle of an object carousel of 10,000 files in 500 directories: the run that
//                   captures it, rebuilds it and fills the Object Carousel page, and its peak memory
//
// The streams are written once into the build folder (or $DSMCC_BENCH_DIR) and reused while their
// size matches. Each figure is the best of three runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

extern char** environ;

namespace {

namespace ts = testsupport;

constexpr uint16_t kCarouselPid = 0x100;
constexpr uint64_t kDenseBytes = 128ull << 20;
constexpr uint64_t kMultiplexBytes = 400ull << 20;
constexpr int kRuns = 3;

std::string g_dir;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A small application carousel: a gateway, a few directories and files of a few kilobytes.
ts::OcCarousel app_carousel() {
  ts::OcCarousel oc(0x10);
  for (int d = 0; d < 8; ++d) {
    const auto dir = oc.add_directory(oc.gateway(), "dir" + std::to_string(d), static_cast<uint16_t>(1 + d % 4));
    for (int f = 0; f < 16; ++f)
      oc.add_file(dir, "file" + std::to_string(f) + ".js", ts::pattern_bytes(1500 + 700 * f, static_cast<uint8_t>(f)),
                  static_cast<uint16_t>(1 + d % 4));
  }
  return oc;
}

ts::OcCarousel large_carousel(uint64_t& carousel_bytes) {
  ts::OcCarousel oc(0x20);
  for (int d = 0; d < 500; ++d) {
    const auto module = static_cast<uint16_t>(2 + d / 20);
    char name[16];
    std::snprintf(name, sizeof name, "d%03d", d);
    const auto dir = oc.add_directory(oc.gateway(), name, module);
    for (int f = 0; f < 20; ++f) {
      std::snprintf(name, sizeof name, "f%02d.txt", f);
      oc.add_file(dir, name, ts::pattern_bytes(100 + 15 * f + d % 7, static_cast<uint8_t>(d + f)), module);
    }
  }
  carousel_bytes = 0;
  for (const auto& [id, image] : oc.module_images()) carousel_bytes += image.size();
  return oc;
}

bool has_size(const std::string& path, uint64_t at_least) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) >= at_least;
}

bool write_all(FILE* f, const ts::Bytes& bytes) { return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(); }

// Cycles of the carousel until `bytes`, each cycle's packets followed (when `filler_per_packet` > 0) by
// as many packets of three other PIDs, spread between the carousel's packets.
bool write_stream(const std::string& path, uint64_t bytes, size_t filler_per_packet) {
  if (has_size(path, bytes)) return true;
  std::fprintf(stderr, "writing %s ...\n", path.c_str());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  // Broadcast carousels send their DSI and DII far more often than each block, so that a receiver
  // tuning in finds them at once: here both go before every DDB.
  const auto all = app_carousel().sections();
  std::vector<ts::Bytes> sections;
  for (size_t i = 2; i < all.size(); ++i) {
    sections.insert(sections.end(), {all[0], all[1]});
    sections.push_back(all[i]);
  }
  const ts::Bytes pat = ts::pat_section(1, {{1, 0x20}});
  const ts::Bytes pmt = ts::pmt_section(
      1, 0x200, {},
      {{0x02, 0x200, {}},
       {0x03, 0x201, {}},
       {0x06, 0x202, {}},
       {0x0B, kCarouselPid, ts::concat({ts::stream_identifier_descriptor(0x0B), ts::data_broadcast_id_descriptor(0x0123)})}});
  ts::Packetizer carousel;
  ts::Packetizer mux;
  ts::Bytes filler(184);
  uint64_t written = 0;
  bool ok = true;
  while (ok && written < bytes) {
    carousel.add_sections(kCarouselPid, sections);
    const ts::Bytes cycle = carousel.take();
    if (filler_per_packet == 0) {
      ok = write_all(f, cycle);
      written += cycle.size();
      continue;
    }
    for (size_t at = 0; at + 188 <= cycle.size(); at += 188) {
      if ((at / 188) % 90 == 0) mux.add_sections(0, {pat}), mux.add_sections(0x20, {pmt});
      for (size_t k = 0; k < filler_per_packet; ++k) {
        for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>((written + k * 31 + i) | 0x80);
        mux.add_packet(static_cast<uint16_t>(0x200 + k % 3), k % 100 == 0, filler);
      }
      ts::Bytes packets = mux.take();
      packets.insert(packets.end(), cycle.begin() + static_cast<long>(at), cycle.begin() + static_cast<long>(at + 188));
      ok = ok && write_all(f, packets);
      written += packets.size();
    }
  }
  return std::fclose(f) == 0 && ok;
}

double plain_read(const std::string& path, uint64_t& size) {
  std::vector<char> buffer(1 << 20);
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    size = 0;
    ssize_t got = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) size += static_cast<uint64_t>(got);
    ::close(fd);
    best = std::min(best, seconds_since(start));
  }
  return best;
}

struct RunFigure {
  double seconds = 1e30;
  long peak_kb = 0;
  bool ok = true;
};

// The program with its output thrown away; best wall time of three runs and the peak resident size.
RunFigure run_program(std::vector<std::string> args) {
  args.insert(args.begin(), DSMCC_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  RunFigure figure;
  for (int run = 0; run < kRuns && figure.ok; ++run) {
    // The log an earlier run wrote is on its way to the disk: a run does not pay for that writeback.
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      figure.ok = false;
      break;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) figure.ok = false;
    figure.seconds = std::min(figure.seconds, seconds_since(start));
    figure.peak_kb = std::max(figure.peak_kb, usage.ru_maxrss);
  }
  posix_spawn_file_actions_destroy(&actions);
  return figure;
}

void print_row(const char* name, uint64_t size, double read_s, const RunFigure& run) {
  if (!run.ok) {
    std::printf("%-34s the program failed\n", name);
    return;
  }
  const double mb = static_cast<double>(size) / 1e6;
  std::printf("%-34s %6.0f MB  read %6.3f s  analyzer %6.3f s  %6.1fx the read  %6.0f MB/s  peak %4ld MB\n", name,
              mb, read_s, run.seconds, run.seconds / read_s, mb / run.seconds, run.peak_kb / 1024);
}

}  // namespace

int main() {
  const char* dir_env = std::getenv("DSMCC_BENCH_DIR");
  g_dir = dir_env && *dir_env ? dir_env : DSMCC_BENCH_DATA_DIR;
  std::error_code ec;
  std::filesystem::create_directories(g_dir, ec);
  const std::string dense = g_dir + "/analyzer-carousel-only.ts";
  const std::string mux = g_dir + "/analyzer-multiplex.ts";
  const std::string large = g_dir + "/analyzer-10000-files.ts";
  const std::string log = g_dir + "/analyzer-log.txt";
  uint64_t carousel_bytes = 0;
  const ts::OcCarousel oc = large_carousel(carousel_bytes);
  if (!write_stream(dense, kDenseBytes, 0) || !write_stream(mux, kMultiplexBytes, 30)) {
    std::fprintf(stderr, "cannot write the benchmark streams in %s\n", g_dir.c_str());
    return 1;
  }
  if (!has_size(large, 1)) {
    FILE* f = std::fopen(large.c_str(), "wb");
    if (!f || !write_all(f, ts::packetize(kCarouselPid, oc.sections())) || std::fclose(f) != 0) return 1;
  }

  const std::string pair = "1:" + std::to_string(kCarouselPid);
  uint64_t size = 0;
  std::printf("the dsmcc program from start to exit, best of %d runs, against a plain read of the same file\n", kRuns);
  double read_s = plain_read(dense, size);
  print_row("carousel-only, level-4 trace", size, read_s,
            run_program({"capture", dense, "--pair", pair, "--page", "object", "--log", log}));
  print_row("carousel-only, --log-level 3", size, read_s,
            run_program({"capture", dense, "--pair", pair, "--page", "object", "--log", log, "--log-level", "3"}));
  read_s = plain_read(mux, size);
  print_row("multiplex (carousel 3%), level 4", size, read_s,
            run_program({"capture", mux, "--pair", pair, "--page", "object", "--log", log}));
  read_s = plain_read(large, size);
  const RunFigure files = run_program({"capture", large, "--pair", pair, "--page", "object", "--log", log});
  print_row("10,000 files in 500 directories", size, read_s, files);
  std::printf("  carousel of %.1f MB: the whole run (capture, rebuild, page of 10,500 nodes) %.0f ms; peak %ld MB, "
              "target at most %.0f MB\n",
              static_cast<double>(carousel_bytes) / 1e6, files.seconds * 1000, files.peak_kb / 1024,
              2.0 * static_cast<double>(carousel_bytes) / (1 << 20) + 32);
  return 0;
}
