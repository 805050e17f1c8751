// Builds the bundled sample stream from a directory of files: a PAT, a PMT that announces one object
// carousel (data_broadcast_id and carousel_id descriptors) and the carousel itself, whose modules carry
// the directory tree. Directories (and the service gateway) travel in module 1, files of the top two
// levels in module 2, deeper files in module 3, which is sent zlib-compressed.
//
//   make_sample DIR OUT.ts
//
// The output depends only on the files' names and contents: entries are taken in name order.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace fs = std::filesystem;
using testsupport::ByteVec;
using testsupport::OcCarousel;

namespace {

constexpr uint16_t kPmtPid = 0x0100, kCarouselPid = 0x0200, kBlockSize = 512;
constexpr uint32_t kCarouselId = 0x00000010;

void add_tree(OcCarousel& oc, OcCarousel::Object parent, const fs::path& dir, int depth) {
  std::vector<fs::directory_entry> entries(fs::directory_iterator(dir), fs::directory_iterator{});
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory()) {
      add_tree(oc, oc.add_directory(parent, name, 1), entry.path(), depth + 1);
    } else if (entry.is_regular_file()) {
      std::ifstream in(entry.path(), std::ios::binary);
      if (!in) throw fs::filesystem_error("cannot be read", entry.path(), std::error_code());
      oc.add_file(parent, name, ByteVec(std::istreambuf_iterator<char>(in), {}), depth <= 1 ? 2 : 3);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_sample DIR OUT.ts\n");
    return 2;
  }
  OcCarousel oc(kCarouselId);
  try {
    add_tree(oc, oc.gateway(), argv[1], 0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample: %s\n", e.what());
    return 1;
  }
  oc.set_compressed(3);
  const ByteVec pat = testsupport::pat_section(1, {{1, kPmtPid}});
  const ByteVec pmt =
      testsupport::pmt_section(1, 0x1FFF, {},
                               {{0x0B, kCarouselPid,
                                 testsupport::concat({testsupport::stream_identifier_descriptor(0x0B),
                                                      testsupport::carousel_id_descriptor(kCarouselId),
                                                      testsupport::data_broadcast_id_descriptor(0x00F0)})}});
  const std::vector<ByteVec> carousel = oc.sections(kBlockSize);
  testsupport::Packetizer ts;
  for (int repetition = 0; repetition < 3; ++repetition) {
    ts.add_section(0x0000, pat);
    ts.add_section(kPmtPid, pmt);
    ts.add_sections(kCarouselPid, carousel);
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ts.stream().data()),
            static_cast<std::streamsize>(ts.stream().size()));
  if (!out) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu packets\n", argv[2], ts.packet_count());
  return 0;
}
