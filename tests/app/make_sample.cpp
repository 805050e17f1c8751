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
#include <system_error>
#include <vector>

#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace fs = std::filesystem;
using testsupport::ByteVec;
using testsupport::OcCarousel;

namespace {

constexpr uint16_t kProgramNumber = 0x0001;
constexpr uint16_t kPmtPid = 0x0100;
constexpr uint16_t kCarouselPid = 0x0200;
constexpr uint32_t kCarouselId = 0x00000010;
constexpr uint8_t kComponentTag = 0x0B;
constexpr uint16_t kBlockSize = 512;
constexpr int kRepetitions = 3;

bool read_file(const fs::path& path, ByteVec& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::vector<fs::directory_entry> sorted_entries(const fs::path& dir, std::error_code& error) {
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
    entries.push_back(*it);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  return entries;
}

bool add_tree(OcCarousel& oc, OcCarousel::Object parent, const fs::path& dir, int depth, std::string& error) {
  std::error_code ec;
  const auto entries = sorted_entries(dir, ec);
  if (ec) {
    error = dir.string() + ": " + ec.message();
    return false;
  }
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory()) {
      const OcCarousel::Object child = oc.add_directory(parent, name, 1);
      if (!add_tree(oc, child, entry.path(), depth + 1, error)) return false;
    } else if (entry.is_regular_file()) {
      ByteVec content;
      if (!read_file(entry.path(), content)) {
        error = entry.path().string() + ": cannot be read";
        return false;
      }
      oc.add_file(parent, name, std::move(content), depth <= 1 ? 2 : 3);
    }
  }
  return true;
}

// The builder's DII announces blocks of 4066 bytes; the sample cuts its modules into smaller blocks so
// that each module spans several sections, and its DII must say so. blockSize stands behind the 8-byte
// section header, the 12-byte message header (no adaptation header) and the 4-byte downloadId.
ByteVec dii_with_block_size(ByteVec section, uint16_t block_size) {
  constexpr size_t kBlockSizeOffset = 8 + 12 + 4;
  if (section.size() < kBlockSizeOffset + 2 + 4) return section;
  section[kBlockSizeOffset] = static_cast<uint8_t>(block_size >> 8);
  section[kBlockSizeOffset + 1] = static_cast<uint8_t>(block_size & 0xFF);
  testsupport::fix_crc(section);
  return section;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_sample DIR OUT.ts\n");
    return 2;
  }
  OcCarousel oc(kCarouselId);
  std::string error;
  if (!add_tree(oc, oc.gateway(), argv[1], 0, error)) {
    std::fprintf(stderr, "make_sample: %s\n", error.c_str());
    return 1;
  }
  oc.set_compressed(3);

  const ByteVec pat = testsupport::pat_section(1, {{kProgramNumber, kPmtPid}});
  const ByteVec es_descriptors = testsupport::concat({testsupport::stream_identifier_descriptor(kComponentTag),
                                                      testsupport::carousel_id_descriptor(kCarouselId),
                                                      testsupport::data_broadcast_id_descriptor(0x00F0)});
  const ByteVec pmt = testsupport::pmt_section(kProgramNumber, 0x1FFF, {}, {{0x0B, kCarouselPid, es_descriptors}});

  std::vector<ByteVec> carousel = {oc.dsi_section(), dii_with_block_size(oc.dii_section(), kBlockSize)};
  for (ByteVec& ddb : oc.ddb_sections(kBlockSize)) carousel.push_back(std::move(ddb));

  testsupport::Packetizer ts;
  for (int i = 0; i < kRepetitions; ++i) {
    ts.add_section(0x0000, pat);
    ts.add_section(kPmtPid, pmt);
    ts.add_sections(kCarouselPid, carousel);
  }

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ts.stream().data()), static_cast<std::streamsize>(ts.stream().size()));
  if (!out) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu packets\n", argv[2], ts.packet_count());
  return 0;
}
