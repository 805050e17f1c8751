#include "text/printed.h"
#include "health/carousel_check.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <set>

#include "carousel/object_carousel.h"
#include "bytes/byte_reader.h"

namespace health {

namespace {

// "3, 7-9, 270": ascending numbers, runs folded.
std::string numbers_text(const std::vector<uint32_t>& numbers) {
  std::string out;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += j == i ? text::printed("%u", numbers[i]) : text::printed("%u-%u", numbers[i], numbers[j]);
    i = j + 1;
  }
  return out;
}

std::string blocks_text(size_t n) { return text::printed("%zu block%s", n, n == 1 ? "" : "s"); }
std::string bytes_text(size_t n) { return text::printed("%zu byte%s", n, n == 1 ? "" : "s"); }

std::string versions_text(const std::set<uint32_t>& transactions) {
  std::set<uint32_t> versions;
  for (uint32_t t : transactions) versions.insert(transaction_version(t));
  std::string out;
  for (uint32_t v : versions) out += (out.empty() ? "" : ", ") + text::printed("%u", v);
  return out;
}

size_t distinct_versions(const std::set<uint32_t>& transactions) {
  std::set<uint32_t> versions;
  for (uint32_t t : transactions) versions.insert(transaction_version(t));
  return versions.size();
}

std::string key_text(bytes::ByteView key) {
  std::string hex = carousel::object_key_text(key);
  return hex.empty() ? "(empty)" : hex;
}

// The blocks a module needs: by the DII's moduleSize and blockSize, else as the sections count them.
uint32_t expected_blocks(const ModuleModel& module) {
  if (module.announced.empty() || module.announced.back().blockSize == 0) return module.expected_by_sections;
  const uint32_t size = module.announced.back().entry->moduleSize;
  return size == 0 ? 1 : (size - 1) / module.announced.back().blockSize + 1;
}

struct Compression {
  uint32_t method = 0;
  uint32_t original_size = 0;
};

// A compressed_module_descriptor (tag 0x09) in a descriptor loop.
std::optional<Compression> find_compression(bytes::ByteView loop) {
  bytes::ByteReader r(loop);
  while (!r.at_end()) {
    const uint8_t tag = r.u8();
    bytes::ByteReader body = r.sub(r.u8());
    if (!r.ok()) break;
    if (tag == 0x09) {
      Compression c;
      c.method = body.u8();
      c.original_size = body.be32();
      if (body.ok()) return c;
    }
  }
  return std::nullopt;
}

// An object carousel's moduleInfo is a BIOP::ModuleInfo whose userInfo holds the descriptors; a data
// carousel's is the descriptor loop itself.
std::optional<Compression> module_compression(bytes::ByteView moduleInfo) {
  bytes::ByteReader r(moduleInfo);
  r.skip(12);  // moduleTimeOut, blockTimeOut, minBlockTime
  const uint8_t taps = r.u8();
  for (unsigned i = 0; i < taps && r.ok(); ++i) {
    r.skip(6);  // id, use, assocTag
    r.skip(r.u8());
  }
  bytes::ByteView user_info = r.bytes(r.u8());
  if (r.ok() && r.at_end()) return find_compression(user_info);
  return find_compression(moduleInfo);
}

struct Inflation {
  bool ok = false;     // one whole zlib stream
  uint64_t size = 0;   // its inflated bytes
  std::string why;     // when not ok
};

// Inflates without keeping the bytes, so that the check needs no more memory than the module.
Inflation inflate_size(bytes::ByteView data) {
  if (data.size() < 2 || (data[0] * 256 + data[1]) % 31 != 0) return {false, 0, "no zlib header"};
  if (data.size() > std::numeric_limits<uInt>::max()) return {false, 0, "a module too large to inflate"};
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return {false, 0, "zlib refused to start"};
  z.next_in = data.data();
  z.avail_in = static_cast<uInt>(data.size());
  uint8_t buffer[16384];
  uint64_t total = 0;
  int err = Z_OK;
  while (err == Z_OK && total <= carousel::kMaxInflatedModuleSize) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    err = inflate(&z, Z_NO_FLUSH);
    total += sizeof buffer - z.avail_out;
  }
  inflateEnd(&z);
  if (err == Z_STREAM_END) return {true, total, {}};
  if (err == Z_OK)
    return {false, total,
            text::printed("more than %zu MiB once inflated", carousel::kMaxInflatedModuleSize >> 20)};
  return {
      false, total,
      text::printed("an inflate error (%d) after %llu bytes", err, static_cast<unsigned long long>(total))};
}

// What a BIOP walk of one module image tells.
struct ModuleObjects {
  std::set<bytes::Bytes> keys;  // every object key, whatever its kind
  struct SizeMismatch {
    bytes::Bytes key;
    uint64_t content_size;
    uint32_t content_length;
  };
  std::vector<SizeMismatch> size_mismatches;
};

class Checker {
 public:
  explicit Checker(const CaptureModel& model) : model_(model) {}

  CaptureReport run() {
    check_capture_list();
    for (const DownloadModel& download : model_.downloads) check_download(download);
    for (const GatewayModel& gateway : model_.gateways) check_gateway(gateway);
    for (const Finding& f : report_.findings)
      ++(f.severity == Severity::error ? report_.summary.errors : report_.summary.warnings);
    return std::move(report_);
  }

 private:
  void add(Severity severity, const char* code, Place where, std::string what, std::string expected = {},
           std::string found = {}) {
    report_.findings.push_back(
        {severity, code, std::move(where), std::move(what), std::move(expected), std::move(found)});
  }

  void check_capture_list() {
    for (const store::ProgramPid& pair : model_.pairs) {
      Place where{pair.first, pair.second, {}, {}, {}, {}};
      auto stored = model_.stored.find(pair);
      if (stored == model_.stored.end() || stored->second == 0)
        add(Severity::error, "no-message", where, "no DSI, DII or DDB was stored for this programme and PID",
            "a carousel", "nothing");
      auto dropped = model_.invalid_control.find(pair);
      if (dropped != model_.invalid_control.end()) {
        std::string seen;
        for (const auto& [section, version, last] : dropped->second)
          seen += (seen.empty() ? "" : "; ") +
                  text::printed("section_number %u, version_number %u, last_section_number %u", section,
                                version, last);
        add(Severity::warning, "control-section-dropped", where,
            "DSI/DII sections dropped: the analyzer keeps only those whose section_number, version_number "
            "and "
            "last_section_number are 0",
            "0, 0, 0", seen);
      }
      auto dsis = model_.dsis.find(pair);
      if (dsis == model_.dsis.end()) continue;
      for (const ControlModel& dsi : dsis->second)
        if (distinct_versions(dsi.transactions) > 1)
          add(Severity::warning, "dsi-version-changed", where,
              text::printed("DSI 0x%04x changed during the capture; the pages show the first copy",
                            dsi.extension),
              "one version", "versions " + versions_text(dsi.transactions));
    }
    if (model_.store_limit_reached)
      add(Severity::warning, "store-limit", Place{},
          "the capture reached the store's limit; later sections were dropped", {}, {});
  }

  void check_download(const DownloadModel& download) {
    CarouselDescription carousel;
    carousel.programme = download.programme;
    carousel.downloadId = download.downloadId;
    std::set<uint32_t> pids, dii_transactions;
    const GatewayModel* gateway = gateway_of(download);
    if (gateway) {
      carousel.carouselId = gateway->carouselId;
      carousel.dsi_transactions.assign(gateway->control.transactions.begin(),
                                       gateway->control.transactions.end());
    }
    for (const ControlModel& dii : download.diis) {
      pids.insert(dii.pid);
      dii_transactions.insert(dii.transactions.begin(), dii.transactions.end());
      if (distinct_versions(dii.transactions) > 1)
        add(Severity::warning, "dii-version-changed", place(download, dii.pid),
            text::printed("DII 0x%04x changed during the capture; the pages show the first copy",
                          dii.extension),
            "one version", "versions " + versions_text(dii.transactions));
    }
    carousel.dii_transactions.assign(dii_transactions.begin(), dii_transactions.end());
    for (const ModuleModel& module : download.modules) {
      if (module.pid) pids.insert(*module.pid);
      carousel.modules.push_back(check_module(download, module, gateway != nullptr));
      ++report_.summary.modules_total;
      if (carousel.modules.back().complete) ++report_.summary.modules_complete;
      if (gateway && module.image) objects_[&download][module.moduleId] = walk_biop(download, module);
    }
    carousel.pids.assign(pids.begin(), pids.end());
    report_.carousels.push_back(std::move(carousel));
  }

  const GatewayModel* gateway_of(const DownloadModel& download) const {
    for (const GatewayModel& gateway : model_.gateways)
      if (gateway.download == &download) return &gateway;
    return nullptr;
  }

  static Place place(const DownloadModel& download, std::optional<uint32_t> pid,
                     std::optional<uint32_t> module = std::nullopt) {
    return Place{download.programme, pid, download.downloadId, {}, module, {}};
  }

  ModuleDescription check_module(const DownloadModel& download, const ModuleModel& module,
                                 bool object_carousel) {
    const Announcement* dii = module.announced.empty() ? nullptr : &module.announced.back();
    const std::optional<uint32_t> pid = module.pid ? module.pid : dii ? std::optional<uint32_t>(dii->pid)
                                                                      : std::nullopt;
    const Place where = place(download, pid, module.moduleId);
    ModuleDescription d;
    d.moduleId = module.moduleId;
    d.announced = dii != nullptr;
    d.version = dii ? dii->entry->moduleVersion
                    : module.blocks.empty() ? 0 : module.blocks.front().copies.front().moduleVersion;
    d.size = dii ? dii->entry->moduleSize : 0;
    d.blocks_received = static_cast<uint32_t>(module.blocks.size());
    d.blocks_expected = expected_blocks(module);
    if (!dii && !module.blocks.empty())
      add(Severity::error, "module-not-announced", where, "blocks of a module that no DII announces",
          text::printed("a DII entry for module 0x%04x", module.moduleId), blocks_text(module.blocks.size()));
    if (dii && module.blocks.empty())
      add(Severity::error, "module-no-blocks", where, "module announced by the DII; no block of it was seen",
          blocks_text(d.blocks_expected), "0 blocks");
    if (module.blocks.empty()) return d;

    const std::optional<bytes::Bytes> image = check_blocks(where, dii, module, d);
    if (!image) return d;
    d.complete = true;
    d.image_size = image->size();
    d.image_digest = digest(*image);
    const Inflation inflation = inflate_size(*image);
    d.inflated = inflation.ok;
    d.inflated_size = inflation.size;
    if (dii) check_compression(where, *dii, inflation, object_carousel);
    return d;
  }

  // The blocks of one version against the DII; the module's image when every block of that version
  // is there: each block's verified copy, else its first.
  std::optional<bytes::Bytes> check_blocks(const Place& where, const Announcement* dii,
                                           const ModuleModel& module, const ModuleDescription& d) {
    const uint32_t version = d.version;
    const uint32_t block_size = dii ? dii->blockSize : 0;
    const uint32_t expected = d.blocks_expected;
    std::vector<uint32_t> missing, past, shorter, unverified, unverified_first, conflicting, without_version;
    std::map<uint32_t, std::vector<uint32_t>> other_versions;
    std::vector<bytes::ByteView> chosen(expected);
    size_t b = 0;
    for (uint32_t n = 0; n < expected; ++n) {
      while (b < module.blocks.size() && module.blocks[b].number < n) ++b;
      if (b == module.blocks.size() || module.blocks[b].number != n) missing.push_back(n);
    }
    for (const BlockModel& block : module.blocks) {
      if (block.number >= expected) {
        past.push_back(block.number);
        continue;
      }
      const BlockCopyModel* copy = nullptr;
      const BlockCopyModel* first = nullptr;
      for (const BlockCopyModel& c : block.copies) {
        if (c.moduleVersion == version && !first) first = &c;
        if (c.moduleVersion != version) {
          auto& numbers = other_versions[c.moduleVersion];
          if (numbers.empty() || numbers.back() != block.number) numbers.push_back(block.number);
        } else if (!copy || (!copy->crc_verified && c.crc_verified)) {
          copy = &c;
        }
      }
      if (!copy) {
        without_version.push_back(block.number);
        continue;
      }
      if (!copy->crc_verified) unverified.push_back(block.number);
      if (copy != first) unverified_first.push_back(block.number);
      if (block.conflict) conflicting.push_back(block.number);
      if (block.number + 1 < expected && copy->data.size() < block_size) shorter.push_back(block.number);
      chosen[block.number] = copy->data;
    }
    const std::string version_text = text::printed("moduleVersion %u", version);
    if (!missing.empty())
      add(Severity::error, "module-incomplete", where,
          "module never completed; missing blocks " + numbers_text(missing), blocks_text(expected),
          blocks_text(expected - missing.size()));
    if (!past.empty())
      add(Severity::error, "block-past-end", where, "blocks past the DII's moduleSize: " + numbers_text(past),
          text::printed("blocks 0-%u (moduleSize %u, blockSize %u)", expected - 1, d.size, block_size),
          text::printed("block %u", past.back()));
    if (!shorter.empty())
      add(Severity::error, "block-short", where,
          "blocks other than the last shorter than the DII's blockSize: " + numbers_text(shorter),
          text::printed("%u bytes", block_size),
          text::printed("%zu bytes in block %u", chosen[shorter.front()].size(), shorter.front()));
    if (!without_version.empty())
      add(Severity::error, "block-version", where,
          "blocks received only in another moduleVersion than the DII's: " + numbers_text(without_version),
          version_text, "other versions only");
    for (const auto& [other, numbers] : other_versions)
      if (without_version.empty())
        add(Severity::warning, "block-version", where,
            "blocks also received in another moduleVersion than the DII's (the module changed during the "
            "capture): " +
                numbers_text(numbers),
            version_text, text::printed("moduleVersion %u", other));
    if (!unverified.empty())
      add(Severity::error, "block-unverified", where,
          "blocks whose every copy came in a section with section_syntax_indicator 0, so no CRC-32 was "
          "checked: " +
              numbers_text(unverified),
          "a verified copy of each block", "none for these blocks");
    if (!unverified_first.empty())
      add(Severity::warning, "block-unverified", where,
          "blocks first received in a section with section_syntax_indicator 0 (no CRC-32 checked), then "
          "verified; "
          "the pages show the first copy: " +
              numbers_text(unverified_first),
          "a verified first copy", "an unverified one");
    if (!conflicting.empty())
      add(Severity::error, "block-conflict", where,
          "blocks received twice with a valid CRC-32 and different bytes: " + numbers_text(conflicting),
          "one content per block and version", "two");
    if (!missing.empty() || !without_version.empty()) return std::nullopt;
    bytes::Bytes image;
    for (bytes::ByteView data : chosen) image.insert(image.end(), data.begin(), data.end());
    if (dii && image.size() != d.size)
      add(Severity::error, "module-size", where, "assembled image is not the DII's moduleSize",
          text::printed("%u bytes", d.size), text::printed("%zu bytes", image.size()));
    return image;
  }

  void check_compression(const Place& where, const Announcement& dii, const Inflation& inflation,
                         bool object_carousel) {
    const std::optional<Compression> compression = module_compression(dii.entry->moduleInfo);
    if (compression) {
      if (!inflation.ok)
        add(Severity::error, "inflate-failed", where, "compressed module does not inflate",
            text::printed("a zlib stream of %u bytes once inflated", compression->original_size),
            inflation.why);
      else if (inflation.size != compression->original_size)
        add(Severity::error, "inflated-size", where,
            "compressed module inflates to another size than original_size",
            text::printed("%u bytes", compression->original_size),
            text::printed("%llu bytes", static_cast<unsigned long long>(inflation.size)));
    } else if (inflation.ok) {
      add(object_carousel ? Severity::error : Severity::warning, "zlib-not-announced", where,
          "module announced uncompressed holds a zlib stream", "no compressed_module_descriptor (0x09)",
          text::printed("a zlib stream of %llu bytes once inflated",
                        static_cast<unsigned long long>(inflation.size)));
    }
  }

  // Every message of an object carousel module: kinds, sizes, and where the walk has to stop.
  ModuleObjects walk_biop(const DownloadModel& download, const ModuleModel& module) {
    ModuleObjects objects;
    const bytes::ByteView image(*module.image);
    const Place where = place(download, module.pid, module.moduleId);
    size_t p = 0;
    while (p < image.size()) {
      bytes::ByteReader r(image.subspan(p));
      bytes::ByteView magic = r.bytes(4);
      const uint8_t major = r.u8(), minor = r.u8();
      const bool big_endian = r.u8() == 0;
      r.u8();  // message_type
      const uint32_t message_size = r.u32(big_endian);
      if (!r.ok() || magic[0] != 'B' || magic[1] != 'I' || magic[2] != 'O' || magic[3] != 'P' || major != 1 ||
          minor != 0) {
        add(Severity::error, "not-biop", where,
            text::printed("no BIOP message at offset %zu; the rest of the module is ignored", p),
            "a BIOP 1.0 message header", bytes_text(image.size() - p) + " of something else");
        break;
      }
      if (message_size > r.remaining()) {
        add(Severity::error, "biop-overrun", where,
            text::printed("BIOP message at offset %zu runs past the module", p),
            text::printed("message_size at most %zu", r.remaining()),
            text::printed("message_size %u", message_size));
        break;
      }
      bytes::ByteReader m = r.sub(message_size);
      bytes::ByteView key = m.bytes(m.u8());
      bytes::ByteView kind_length = m.bytes(4);
      bytes::ByteView kind = m.bytes(kind_length.size() == 4 ? kind_length[3] : 0);
      std::string kind_text(reinterpret_cast<const char*>(kind.data()), kind.size());
      kind_text = kind_text.substr(0, kind_text.find('\0'));
      objects.keys.insert(bytes::Bytes(key.begin(), key.end()));
      static const std::set<std::string> kKnown = {"dir", "fil", "srg", "str", "ste"};
      const bool standard_length =
          m.ok() && kind_length[0] == 0 && kind_length[1] == 0 && kind_length[2] == 0 && kind_length[3] == 4;
      if (!standard_length || !kKnown.contains(kind_text)) {
        add(Severity::warning, "object-kind", with_key(where, key),
            "object kind is not dir, fil, srg, str or ste", "dir, fil, srg, str or ste",
            standard_length ? "'" + kind_text + "'" : "an objectKind of another length");
      } else if (kind_text == "fil") {
        bytes::ByteReader info = m.sub(m.u16(big_endian));  // objectInfo: DSM::File::ContentSize first
        const uint64_t content_size = big_endian ? info.be64() : info.le64();
        const uint8_t contexts = m.u8();
        for (unsigned i = 0; i < contexts && m.ok(); ++i) {
          m.u32(big_endian);
          m.skip(m.u16(big_endian));
        }
        m.u32(big_endian);  // messageBody_length
        const uint32_t content_length = m.u32(big_endian);
        if (m.ok() && info.ok() && content_size != content_length)
          objects.size_mismatches.push_back(
              {bytes::Bytes(key.begin(), key.end()), content_size, content_length});
      }
      p += 12 + message_size;
    }
    return objects;
  }

  static Place with_key(Place where, bytes::ByteView key) {
    where.path = "key " + key_text(key);
    return where;
  }

  // Why the object a binding names cannot be had; "" when it can.
  struct Reason {
    const char* code = nullptr;
    Severity severity = Severity::error;
    std::string what, expected, found;
  };
  Reason why_missing(const DownloadModel& download, const dsmcc::ObjectLocationRef& ref, const char* kind) {
    const ModuleModel* module = nullptr;
    for (const ModuleModel& m : download.modules)
      if (m.moduleId == ref.moduleId) module = &m;
    if (!module || module->announced.empty())
      return {"dangling-module", Severity::error,
              "binding points at a module that no DII of the carousel announces",
              "a module of the carousel's DIIs",
              text::printed("module 0x%04x, which no DII lists", ref.moduleId)};
    if (!module->image)
      return {"not-available", Severity::warning, "object not available: its module did not complete",
              text::printed("module 0x%04x complete", ref.moduleId),
              text::printed("module 0x%04x did not complete (%zu of %s)", ref.moduleId, module->blocks.size(),
                   blocks_text(expected_blocks(*module)).c_str())};
    const auto& keys = objects_[&download][ref.moduleId].keys;
    if (!keys.contains(ref.objectKey))
      return {"dangling-key", Severity::error,
              "binding points at an object key that the module does not hold",
              text::printed("an object with key %s in module 0x%04x", key_text(ref.objectKey).c_str(),
                            ref.moduleId),
              text::printed("module 0x%04x holds no such key", ref.moduleId)};
    return {"dangling-key", Severity::error,
            text::printed("binding names a %s that cannot be read as one", kind),
            text::printed("a %s with key %s in module 0x%04x", kind, key_text(ref.objectKey).c_str(),
                          ref.moduleId),
            "an object of another kind, or one that does not decode"};
  }

  void check_gateway(const GatewayModel& gateway) {
    Place where{gateway.programme,  gateway.control.pid,   gateway.carouselId,
                gateway.carouselId, gateway.root.moduleId, "/"};
    const DownloadModel* download = gateway.download;
    const carousel::ObjectCarousel* carousel = download ? download->carousel : nullptr;
    const std::string expected = text::printed("the srg object of key %s in module 0x%04x",
                                      key_text(gateway.root.objectKey).c_str(), gateway.root.moduleId);
    if (!download || !carousel) {
      add(Severity::error, "gateway-not-found", where, "the DSI's service gateway is not found", expected,
          download ? "no module of the carousel completed"
                   : text::printed("no DII or block of download 0x%08x", gateway.carouselId));
      return;
    }
    // The model files an empty directory under the root's key when it resolves names, so only the
    // module's own messages tell whether the service gateway is there.
    auto walked = objects_[download].find(gateway.root.moduleId);
    auto root = carousel->directories.find(gateway.root);
    if (walked == objects_[download].end() || !walked->second.keys.contains(gateway.root.objectKey) ||
        root == carousel->directories.end()) {
      const Reason reason = why_missing(*download, gateway.root, "directory");
      add(Severity::error, "gateway-not-found", where, "the DSI's service gateway is not found", expected,
          reason.found);
      return;
    }
    CarouselDescription* description = nullptr;
    for (CarouselDescription& c : report_.carousels)
      if (c.programme == download->programme && c.downloadId == download->downloadId) description = &c;
    std::map<bytes::Bytes, std::string> file_paths;  // by moduleId and key, for the BIOP findings
    auto where_of = [&](uint32_t moduleId, const std::string& path) {
      Place p = where;
      p.module = moduleId;
      p.path = path;
      return p;
    };
    std::map<dsmcc::ObjectLocationRef, std::string> visited{{gateway.root, "/"}};
    std::deque<std::pair<const carousel::DirectoryRecord*, std::string>> queue{{&root->second, ""}};
    std::vector<ObjectDescription> objects;
    while (!queue.empty()) {
      auto [record, parent] = queue.front();
      queue.pop_front();
      for (const carousel::Binding& binding : record->directories) {
        const std::string path = parent + "/" + binding.id;
        objects.push_back({path, true, false, 0, 0});
        auto seen = visited.find(binding.ref);
        if (seen != visited.end()) {
          add(Severity::warning, "directory-bound-twice", where_of(binding.ref.moduleId, path),
              "directory bound from two places", "one binding", seen->second + " and " + path);
          continue;
        }
        auto found = carousel->directories.find(binding.ref);
        if (found == carousel->directories.end()) {
          report_missing(*download, binding.ref, "directory", where_of(binding.ref.moduleId, path));
          continue;
        }
        objects.back().available = true;
        visited.emplace(binding.ref, path);
        queue.emplace_back(&found->second, path);
      }
      for (const carousel::Binding& binding : record->files) {
        const std::string path = parent + "/" + binding.id;
        ++report_.summary.files_total;
        auto found = carousel->files.find(binding.ref);
        if (found == carousel->files.end()) {
          objects.push_back({path, false, false, 0, 0});
          report_missing(*download, binding.ref, "file", where_of(binding.ref.moduleId, path));
          continue;
        }
        ++report_.summary.files_resolved;
        objects.push_back({path, false, true, found->second.content_length, digest(found->second.content)});
        bytes::Bytes id = module_key(binding.ref.moduleId, binding.ref.objectKey);
        file_paths.emplace(std::move(id), path);
      }
    }
    for (const auto& [moduleId, module_objects] : objects_[download])
      for (const auto& mismatch : module_objects.size_mismatches) {
        auto path = file_paths.find(module_key(moduleId, mismatch.key));
        add(Severity::error, "content-size",
            where_of(moduleId, path == file_paths.end() ? "key " + key_text(mismatch.key) : path->second),
            "file content_length differs from the ContentSize of its objectInfo",
            text::printed("%llu bytes", static_cast<unsigned long long>(mismatch.content_size)),
            text::printed("%u bytes", mismatch.content_length));
      }
    std::sort(objects.begin(), objects.end(),
              [](const ObjectDescription& a, const ObjectDescription& b) { return a.path < b.path; });
    if (description) description->objects = std::move(objects);
  }

  static bytes::Bytes module_key(uint32_t moduleId, const bytes::Bytes& key) {
    bytes::Bytes id{static_cast<uint8_t>(moduleId >> 8), static_cast<uint8_t>(moduleId)};
    id.insert(id.end(), key.begin(), key.end());
    return id;
  }

  void report_missing(const DownloadModel& download, const dsmcc::ObjectLocationRef& ref, const char* kind,
                      Place where) {
    Reason reason = why_missing(download, ref, kind);
    add(reason.severity, reason.code, std::move(where), std::move(reason.what), std::move(reason.expected),
        std::move(reason.found));
  }

  const CaptureModel& model_;
  CaptureReport report_;
  std::map<const DownloadModel*, std::map<uint32_t, ModuleObjects>> objects_;
};

}  // namespace

CaptureReport check_capture(const CaptureModel& model) { return Checker(model).run(); }

CaptureReport describe_capture(const carousel::CarouselModel& carousels) {
  return check_capture(read_capture_model(carousels));
}

}  // namespace health
