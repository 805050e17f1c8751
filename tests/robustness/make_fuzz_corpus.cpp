// Writes the seed inputs of the fuzz targets: made with the test builder, and cut from the shared
// streams when they are present. Run by hand when a target or the builder changes; its output is
// committed under fuzz/corpus/<target>/.
//
//   make_fuzz_corpus fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "carousel/object_carousel.h"
#include "fuzz/capture_chain.h"
#include "tables/sitables.h"
#include "tests/support/dsmcc_builder.h"
#include "tests/support/oc_builder.h"
#include "tests/support/psi_builder.h"
#include "tests/support/streams.h"
#include "tests/support/ts_builder.h"

namespace {

namespace ts = testsupport;
using Bytes = std::vector<uint8_t>;

// The largest seed, so that a run on the corpus stays quick and the committed corpus small.
constexpr size_t kMaxSeed = 300 * 1024;

std::filesystem::path g_out;
size_t g_written = 0;
size_t g_bytes = 0;

void seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  if (bytes.size() > kMaxSeed) {
    std::fprintf(stderr, "skipping %s/%s: %zu bytes\n", target.c_str(), name.c_str(), bytes.size());
    return;
  }
  const auto dir = g_out / target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ++g_written;
  g_bytes += bytes.size();
}

// The message bytes of a DSM-CC section: behind the 8-byte header, in front of the CRC.
Bytes message_of(const Bytes& section) {
  if (section.size() < 12) return {};
  return Bytes(section.begin() + 8, section.end() - 4);
}

Bytes with_control(uint8_t control, const Bytes& section) {
  Bytes out{control};
  out.insert(out.end(), section.begin(), section.end());
  return out;
}

Bytes join_modules(const std::vector<Bytes>& images) {
  static const Bytes separator = {'|', 'M', 'O', 'D'};
  Bytes out;
  for (size_t i = 0; i < images.size(); ++i) {
    if (i) out.insert(out.end(), separator.begin(), separator.end());
    out.insert(out.end(), images[i].begin(), images[i].end());
  }
  return out;
}

// A small carousel with every kind of object and binding the analyzer knows.
ts::OcCarousel sample_carousel(uint32_t carouselId, bool compressed) {
  ts::OcCarousel oc(carouselId);
  auto apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "index.html", ts::text_bytes("<html><body>carousel</body></html>"), 1);
  auto media = oc.add_directory(apps, "media", 2);
  oc.add_file(media, "logo.png", ts::pattern_bytes(3000, 7), 2);
  oc.add_stream(apps, "events", 2, true);
  oc.add_stream(oc.gateway(), "video", 1);
  oc.bind(media, "up", apps);
  oc.bind(oc.gateway(), "again", media);
  oc.bind_missing(apps, "lost.js", "fil", 3, {0, 0, 0, 0x42});
  auto le = oc.add_directory(oc.gateway(), "little", 2);
  oc.set_little_endian(le);
  oc.add_file(le, "le.txt", ts::text_bytes("little endian"), 2);
  if (compressed) oc.set_compressed(2);
  return oc;
}

Bytes carousel_stream(const ts::OcCarousel& oc, uint16_t pid, ts::PacketizerOptions options = {},
                      size_t block_size = 1000) {
  return ts::packetize(pid, oc.sections(block_size), options);
}

void builder_seeds() {
  // ---- section tables ----
  const Bytes pat = ts::pat_section(0x0001, {{0, 0x0010}, {1, 0x0100}, {2, 0x0200}});
  const Bytes cat = ts::cat_section(ts::carousel_id_descriptor(0x10));
  const Bytes es_loop = ts::concat({ts::data_broadcast_id_descriptor(0x00F0, Bytes{1, 2}),
                                    ts::carousel_id_descriptor(0x10, 0, Bytes{9}), ts::stream_identifier_descriptor(0xB),
                                    ts::association_tag_descriptor(0xB, 0x0100)});
  const Bytes pmt = ts::pmt_section(
      1, 0x0101, ts::application_signalling_descriptor(),
      {{0x0B, 0x07D3, es_loop}, {0x05, 0x0BB9, ts::data_broadcast_descriptor(0x0123, 0xC, Bytes{1}, "deu", "text")},
       {0x02, 0x0101, {}}});
  seed("sitables", "pat", with_control(0, pat));
  seed("sitables", "cat", with_control(0, cat));
  seed("sitables", "pmt", with_control(0, pmt));
  Bytes damaged = pmt;
  damaged[11] = static_cast<uint8_t>(damaged[11] + 3);  // program_info_length runs into the stream loop
  seed("sitables", "pmt-fixed-crc", with_control(1, damaged));
  seed("sitables", "short-form", with_control(0, ts::short_section(0x3E, true, Bytes{1, 2, 3, 4})));
  seed("sitables", "dsmcc-checksum", with_control(0, ts::dsmcc_section(0x3C, 7, Bytes(20, 0xAB), 0, 0, 0, false, 1)));

  // ---- DSI ----
  ts::DsiSpec dsi;
  dsi.private_data = ts::build_service_gateway_info(
      ts::gateway_info(ts::gateway_profile(0x10, 1, {0, 0, 0, 1}, 0x0B, 0x80000002)));
  const Bytes dsi_section = ts::dsi_section(dsi);
  seed("dsi", "gateway", message_of(dsi_section));
  seed("sitables", "dsi", with_control(0, dsi_section));

  ts::BiopProfileSpec rich = ts::gateway_profile(0x20, 2, {0xAB, 0x01}, 0x0C, 0x80000004);
  rich.byte_order = 1;
  rich.taps.push_back(ts::TapSpec{1, 0x17, 0x0D, std::nullopt, 0, 0, 0, {1, 2, 3}});
  rich.lite_components.push_back({0x49534F05, {5, 6, 7}, std::nullopt});
  ts::ServiceGatewayInfoSpec info = ts::gateway_info(rich);
  info.ior.type_id = {'s', 'r', 'g', 'x', 'y'};
  info.ior.profiles.insert(info.ior.profiles.begin(), ts::TaggedProfileSpec{ts::kTagLiteOptions, {1, 2, 3, 4}, {}});
  info.download_taps.push_back(ts::TapSpec{2, 0x16, 0x0E, std::nullopt, 0, 0, 0, {7, 7}});
  info.service_contexts.push_back({0x01020304, {1, 2, 3, 4}});
  info.user_info = {9, 9, 9};
  ts::DsiSpec dsi2;
  dsi2.compatibility_descriptor = {0, 1, 2};
  dsi2.private_data = ts::build_service_gateway_info(info);
  dsi2.privateDataLength = static_cast<uint16_t>(dsi2.private_data.size() + 2);
  dsi2.private_data.push_back(0);
  dsi2.private_data.push_back(0);
  seed("dsi", "two-profiles-little-endian", message_of(ts::dsi_section(dsi2)));
  seed("dsi", "ior-alone", ts::build_ior(info.ior));

  // ---- DII ----
  ts::DiiSpec dii;
  dii.downloadId = 0x10;
  dii.modules = {{1, 4000, 0, {}, {}}, {2, 12000, 1, Bytes(255, 0x5A), {}}, {3, 10, 2, {1, 2, 3}, {}}};
  dii.private_data = {1, 2};
  const Bytes dii_section = ts::dii_section(dii);
  seed("dii", "three-modules", message_of(dii_section));
  seed("sitables", "dii", with_control(0, dii_section));
  ts::DiiSpec empty;
  empty.compatibility_descriptor = {0, 0};
  empty.header.adaptation = ts::adaptation_header(4);
  seed("dii", "no-modules-adaptation", message_of(ts::dii_section(empty)));

  // ---- DDB ----
  ts::DdbSpec ddb = ts::block(0x10, 1, 0, ts::pattern_bytes(64));
  seed("ddb", "block", message_of(ts::ddb_section(ddb)));
  seed("sitables", "ddb", with_control(0, ts::ddb_section(ddb)));
  ddb.header.adaptation = ts::adaptation_header(4);
  ddb.reserved = 0xFE;
  seed("ddb", "adaptation-bad-reserved", message_of(ts::ddb_section(ddb)));

  // ---- module images ----
  const ts::OcCarousel oc = sample_carousel(0x10, false);
  std::vector<Bytes> images;
  for (const auto& [moduleId, image] : oc.plain_module_images()) images.push_back(image);
  seed("biop_module", "sample-carousel", join_modules(images));
  seed("biop_module", "first-module", images.front());
  ts::BiopMessageSpec odd;
  odd.kind = "xyz";
  odd.byte_order = 1;
  seed("biop_module", "unknown-kind-then-file",
       join_modules({ts::build_biop_message(odd), ts::file_message({0, 0, 0, 9}, ts::text_bytes("tail"))}));

  // ---- inflation ----
  seed("inflate", "compressed-module", ts::zlib_compress(images.back()));
  seed("inflate", "zeros-past-limit", ts::zlib_compress(Bytes(size_t{2} << 20, 0)));
  Bytes truncated = ts::zlib_compress(ts::pattern_bytes(20000));
  truncated.resize(truncated.size() / 2);
  seed("inflate", "truncated", truncated);
  seed("inflate", "header-only", Bytes{0x78, 0x9C, 0x01, 0x02, 0x03});

  // ---- transport streams ----
  const ts::OcCarousel packed = sample_carousel(0x10, true);
  seed("demux", "carousel-188", carousel_stream(packed, 0x07D3));
  ts::PacketizerOptions stamped;
  stamped.packet_size = 192;
  stamped.pack_sections = false;
  seed("demux", "carousel-192-unpacked", carousel_stream(packed, 0x07D3, stamped));
  ts::PacketizerOptions trailing;
  trailing.packet_size = 204;
  trailing.adaptation_field_length = 10;
  trailing.null_packets_after_each = 1;
  seed("demux", "carousel-204-adaptation", carousel_stream(packed, 0x138E, trailing));
  ts::Packetizer psi;
  psi.add_section(0, pat);
  psi.add_section(0x0100, pmt);
  psi.add_packet(0x07D3, true, Bytes{0x00, 0x3C, 0xB0});  // a section cut short by the next start
  psi.set_continuity_counter(0x07D3, 9);
  psi.add_sections(0x07D3, {dsi_section, dii_section});
  seed("demux", "psi-and-break", psi.stream());

  seed("chain", "carousel-188", carousel_stream(packed, 0x07D3));
  seed("chain", "carousel-192-plain", carousel_stream(sample_carousel(0x20, false), 0x138E, stamped));
  ts::OcCarousel loops(0x30);
  auto a = loops.add_directory(loops.gateway(), "a", 1);
  auto b = loops.add_directory(a, "b", 1);
  loops.bind(b, "back", a);
  loops.bind(a, "self", a);
  loops.add_file(b, "f", ts::text_bytes("x"), 1);
  seed("chain", "loops", carousel_stream(loops, 0x00C8));
}

// ---- cuts from the shared streams -----------------------------------------------------------

struct StreamCut {
  std::string name;
  size_t packet_size;
  uint16_t pid;
};

Bytes first_packets(const Bytes& stream, size_t packet_size, size_t count) {
  return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), packet_size * count)));
}

// How many file nodes the object carousel tree of a capture of `bytes` holds.
class FileCounter : public ObjectCarouselSink {
 public:
  Node root_node() override { return 0; }
  Node programme_node(Node, uint32_t) override { return 0; }
  Node carousel_node(Node, uint32_t) override { return 0; }
  Node directory_node(Node, const std::string&) override { return 0; }
  Node file_node(Node, const std::string&, const FileRecord* file) override {
    files += file != nullptr;
    return 0;
  }
  size_t files = 0;
};

size_t files_found(const Bytes& bytes, uint16_t pid) {
  robustness::CaptureChain chain({{1, pid}});
  chain.feed_stream(bytes);
  FileCounter counter;
  build_tree(rebuild_carousels(chain.store), counter);
  return counter.files;
}

void stream_seeds() {
  const std::vector<StreamCut> cuts = {{"hbbtv-sevent.ts", 188, 0x138E},
                                       {"mhp-ocdir1.ts", 188, 0x07D3},
                                       {"synthetic-oc-dsi-dii-ddb.ts", 188, 0x00C8},
                                       {"synthetic-dc-dsi-groupinfo.ts", 188, 0x00C8},
                                       {"synthetic-dii-all-descriptors.ts", 188, 0x00C8},
                                       {"mhp-ocdir1.m2ts", 192, 0x07D3},
                                       {"mhp-ocdir1-204.ts", 204, 0x07D3}};
  for (const auto& cut : cuts) {
    const std::string path = ts::stream_path(cut.name);
    if (path.empty()) {
      std::fprintf(stderr, "shared stream %s absent; its seeds are left out\n", cut.name.c_str());
      continue;
    }
    const Bytes stream = ts::read_file(path);
    const std::string base = cut.name.substr(0, cut.name.find('.'));
    seed("demux", base + "-head", first_packets(stream, cut.packet_size, 60));
    if (cut.packet_size != 188) continue;

    // One section of each kind, as the table library, the decoders and the module parser see them.
    bool dsi = false, dii = false, ddb = false;
    for (const Bytes& section : ts::extract_sections(stream, 188, cut.pid)) {
      if (section.size() < 20) continue;
      const bool control = section[0] == 0x3B;
      const uint16_t messageId = static_cast<uint16_t>(section[10] << 8 | section[11]);
      if (control && messageId == 0x1006 && !dsi) {
        dsi = true;
        seed("dsi", base, message_of(section));
        seed("sitables", base + "-dsi", with_control(0, section));
      } else if (control && messageId == 0x1002 && !dii) {
        dii = true;
        seed("dii", base, message_of(section));
        seed("sitables", base + "-dii", with_control(0, section));
      } else if (section[0] == 0x3C && !ddb) {
        ddb = true;
        seed("ddb", base, message_of(section));
      }
    }

    // Module images, as compressed as they came and as parsed.
    robustness::CaptureChain chain({{1, cut.pid}});
    chain.feed_stream(stream);
    CarouselModel model;
    merge_programme_index(chain.store, model);
    save_modules_to_memory(model);
    for (auto& [programme, record] : model.programs) {
      for (auto& [downloadId, carousel] : record.object_carousels) {
        for (auto& [moduleId, image] : carousel.modules) {
          const std::string name = base + "-module-" + std::to_string(moduleId);
          if (image.size() >= 2 && (image[0] * 256 + image[1]) % 31 == 0) {
            seed("inflate", name, image);
            inflate_module_image(image, moduleId);
          }
          seed("biop_module", name, Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(image.size(), 64 * 1024))));
        }
      }
    }

    // The whole chain: the shortest head of the stream whose tree holds every file the whole stream gives.
    const size_t packets = stream.size() / 188;
    const size_t all = files_found(stream, cut.pid);
    size_t low = 1, high = packets;
    if (all > 0) {
      while (low < high) {
        const size_t mid = (low + high) / 2;
        if (files_found(first_packets(stream, 188, mid), cut.pid) >= all) high = mid;
        else low = mid + 1;
      }
      seed("chain", base + "-complete", first_packets(stream, 188, high));
    } else {
      seed("chain", base + "-head", first_packets(stream, 188, std::min<size_t>(packets, 400)));
    }
  }

  const std::string multiplex = ts::stream_path("mhp-hbbtv-multiservice.ts");
  if (!multiplex.empty()) {
    const Bytes stream = ts::read_file(multiplex);
    const auto pats = ts::extract_sections(stream, 188, 0);
    if (!pats.empty()) {
      seed("sitables", "multiservice-pat", with_control(0, pats.front()));
      sitables::Pat pat;
      pat.Parse(pats.front(), false);
      for (size_t i = 0; i < pat.get_program_info_size(); ++i) {
        const auto& entry = pat.get_program_info(i);
        if (entry.program_number == 0) continue;
        const auto pmts = ts::extract_sections(stream, 188, static_cast<uint16_t>(entry.PID));
        if (!pmts.empty())
          seed("sitables", "multiservice-pmt-" + std::to_string(entry.program_number), with_control(0, pmts.front()));
      }
    }
    seed("demux", "multiservice-head", first_packets(stream, 188, 300));
    seed("chain", "multiservice-head", first_packets(stream, 188, 600));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR (normally fuzz/corpus)\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  builder_seeds();
  stream_seeds();
  std::printf("%zu seeds, %zu bytes, written under %s\n", g_written, g_bytes, g_out.c_str());
  return 0;
}
