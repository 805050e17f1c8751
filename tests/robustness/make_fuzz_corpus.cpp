// Cuts seed inputs for the fuzz targets from the shared real streams, which are third-party data and
// stay out of the repository: scripts/run-fuzzers.sh runs it into the build folder before each run.
// (The committed seeds of fuzz/corpus were made with the test builder.)
//
//   make_fuzz_corpus OUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "carousel/object_carousel.h"
#include "fuzz/capture_chain.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace {

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;
std::filesystem::path g_out;

void seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(g_out / target);
  std::ofstream out(g_out / target / name, std::ios::binary | std::ios::trunc);
  // The largest seed, so that a run on the corpus stays quick.
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(std::min<size_t>(bytes.size(), 300 << 10)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  const std::vector<std::tuple<std::string, size_t, uint16_t>> cuts = {
      {"hbbtv-sevent.ts", 188, 0x138E},  {"mhp-ocdir1.ts", 188, 0x07D3},     {"synthetic-oc-dsi-dii-ddb.ts", 188, 0x00C8},
      {"mhp-ocdir1.m2ts", 192, 0x07D3},  {"mhp-ocdir1-204.ts", 204, 0x07D3}, {"mhp-hbbtv-multiservice.ts", 188, 0x0000}};
  for (const auto& [name, period, pid] : cuts) {
    const std::string path = ts::stream_path(name);
    if (path.empty()) continue;
    const Bytes stream = ts::read_file(path);
    const std::string base = name.substr(0, name.find('.'));
    seed("demux", base, Bytes(stream.begin(), stream.begin() + std::min(stream.size(), period * 300)));
    if (period != 188) continue;
    seed("chain", base, stream);
    // One section of each kind, as the table library and the decoders see them: the message bytes
    // lie behind the 8-byte section header and in front of the CRC.
    std::set<std::string> kinds;
    for (const Bytes& section : ts::extract_sections(stream, 188, pid)) {
      const std::string kind = section[0] == 0x3C ? "ddb" : section[0] != 0x3B ? "psi" : section[11] == 0x06 ? "dsi" : "dii";
      if (section.size() < 20 || !kinds.insert(kind).second) continue;
      if (kind != "psi") seed(kind, base, Bytes(section.begin() + 8, section.end() - 4));
      Bytes with_control{0};
      with_control.insert(with_control.end(), section.begin(), section.end());
      seed("sitables", base + "-" + kind, with_control);
    }
    // Module images, as compressed as they came and as parsed.
    robustness::CaptureChain chain({{1, pid}});
    chain.feed_stream(stream);
    for (auto& [programme, record] : rebuild_carousels(chain.store).programs)
      for (auto& [download, carousel] : record.object_carousels)
        for (auto& [moduleId, image] : carousel.modules) seed("biop_module", base + "-module-" + std::to_string(moduleId), image);
  }
  return 0;
}
