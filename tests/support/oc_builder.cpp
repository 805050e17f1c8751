#include "tests/support/oc_builder.h"

#include <zlib.h>

#include <algorithm>
#include <span>
#include <stdexcept>

namespace testsupport {

ByteVec biop_module_info(std::optional<uint32_t> original_size) {
  ByteWriter w;
  w.be32(0xFFFFFFFF).be32(0xFFFFFFFF).be32(0);      // moduleTimeOut, blockTimeOut, minBlockTime
  w.u8(1).be16(0).be16(0x0017).be16(0x000B).u8(0);  // one tap: id, use, assocTag, selector_length
  if (original_size) return w.u8(7).u8(0x09).u8(5).u8(0x08).be32(*original_size).take();
  return w.u8(0).take();
}

ByteVec text_bytes(const std::string& text) {
  return ByteVec(text.begin(), text.end());
}

ByteVec pattern_bytes(size_t size, uint8_t seed) {
  ByteVec out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

ByteVec zlib_compress(const ByteVec& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  ByteVec out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) !=
      Z_OK) {
    throw std::runtime_error("zlib_compress: compress2 failed");
  }
  out.resize(size);
  return out;
}

// ---- BIOP messages -------------------------------------------------------------------------------

ByteVec build_biop_message(const BiopMessageSpec& s) {
  const bool be = s.byte_order == 0;
  ByteWriter rest;  // everything behind message_size
  rest.u8(s.objectKey.size()).bytes(s.objectKey).be32(4).text(s.kind).u8(0);
  rest.u16(s.objectInfo.size(), be).bytes(s.objectInfo).u8(0).u32(s.body.size(), be).bytes(s.body);

  ByteWriter w;
  w.bytes(s.magic).u8(s.version_major).u8(s.version_minor).u8(s.byte_order).u8(s.message_type);
  return w.u32(s.message_size.value_or(static_cast<uint32_t>(rest.size())), be).bytes(rest.data()).take();
}

BindingSpec binding(const std::string& id, const std::string& kind, uint32_t carouselId, uint16_t moduleId,
                    std::vector<uint8_t> objectKey, bool big_endian) {
  BiopProfileSpec profile = gateway_profile(carouselId, moduleId, std::move(objectKey), 0x000B, 0x80000002);
  profile.taps.front().use = 0x0017;  // BIOP_OBJECT_USE
  profile.taps.front().selector_length = 0;
  return {id, kind, {big_endian, concat({text_bytes(kind), {0}}), 0xFF, {biop_profile(profile)}}};
}

// The bindings are written in the message's byte order; the IORs keep the byte order they were built with.
ByteVec directory_message(std::vector<uint8_t> objectKey, const std::vector<BindingSpec>& bindings,
                          bool big_endian, const std::string& kind) {
  ByteWriter body;
  body.u16(bindings.size(), big_endian);
  for (const auto& b : bindings) {
    body.u8(1).u8(b.id.size() + 1).text(b.id).u8(0).u8(b.kind.size() + 1).text(b.kind).u8(0);  // one
                                                                                               // component
    body.u8(0x01).bytes(build_ior(b.ior)).u16(0, big_endian);  // nobject, the IOR, no objectInfo
  }
  return build_biop_message({.byte_order = big_endian ? uint8_t{0} : uint8_t{1},
                             .objectKey = std::move(objectKey),
                             .kind = kind,
                             .body = body.take()});
}

ByteVec file_message(std::vector<uint8_t> objectKey, const ByteVec& content, bool big_endian) {
  ByteWriter info;  // DSM::File::ContentSize, 64 bits of which the upper half is 0
  if (big_endian) {
    info.be32(0).be32(content.size());
  } else {
    info.u32(content.size(), false).u32(0, false);
  }
  return build_biop_message({.byte_order = big_endian ? uint8_t{0} : uint8_t{1},
                             .objectKey = std::move(objectKey),
                             .objectInfo = info.take(),
                             .body = ByteWriter().u32(content.size(), big_endian).bytes(content).take()});
}

// ---- Modules and sections ------------------------------------------------------------------------

std::vector<SentBlock> module_blocks(uint32_t downloadId, uint16_t moduleId, const ByteVec& image,
                                     size_t block_size, uint8_t moduleVersion) {
  if (block_size == 0) throw std::invalid_argument("module_blocks: block_size 0");
  size_t count = image.empty() ? 1 : (image.size() + block_size - 1) / block_size;
  if (count > 0x10000) throw std::invalid_argument("module_blocks: more than 65536 blocks");
  std::vector<SentBlock> out;
  for (size_t i = 0; i < count; ++i) {
    const size_t begin = std::min(image.size(), i * block_size);
    const auto part =
        std::span<const uint8_t>(image).subspan(begin, std::min(block_size, image.size() - begin));
    out.push_back({block(downloadId, moduleId, static_cast<uint16_t>(i), ByteVec(part.begin(), part.end()),
                         moduleVersion),
                   {.section_number = static_cast<uint8_t>(i),
                    .last_section_number = static_cast<uint8_t>(std::min<size_t>(count - 1, 0xFF))}});
  }
  return out;
}

std::vector<ByteVec> module_sections(uint32_t downloadId, uint16_t moduleId, const ByteVec& image,
                                     size_t block_size, uint8_t moduleVersion) {
  std::vector<ByteVec> out;
  for (const SentBlock& b : module_blocks(downloadId, moduleId, image, block_size, moduleVersion))
    out.push_back(ddb_section(b.ddb, b.section));
  return out;
}

// ---- OcCarousel ----------------------------------------------------------------------------------

OcCarousel::Object OcCarousel::add(Object parent, const std::string& name, const std::string& kind,
                                   uint16_t moduleId, ByteVec content) {
  Object object = objects_.size();
  objects_.push_back(Node{kind, moduleId, ByteWriter().be32(next_key_++).take(), std::move(content), {}});
  bind(parent, name, object);
  return object;
}

void OcCarousel::bind(Object parent, const std::string& name, Object child,
                      std::optional<uint32_t> carouselId) {
  const Node& target = objects_.at(child);
  // A binding names the gateway as a directory.
  const std::string kind = target.kind == "srg" ? "dir" : target.kind;
  objects_.at(parent).children.push_back(
      Child{name, kind, carouselId.value_or(carouselId_), target.moduleId, target.key});
}

void OcCarousel::bind_missing(Object parent, const std::string& name, const std::string& kind,
                              uint16_t moduleId, std::vector<uint8_t> objectKey) {
  objects_.at(parent).children.push_back(Child{name, kind, carouselId_, moduleId, std::move(objectKey)});
}

ByteVec OcCarousel::message(const Node& node) const {
  if (node.kind == "fil") return file_message(node.key, node.content);
  std::vector<BindingSpec> bindings;
  for (const Child& c : node.children)
    bindings.push_back(binding(c.name, c.kind, c.carouselId, c.moduleId, c.key));
  return directory_message(node.key, bindings, true, node.kind);
}

std::map<uint16_t, ByteVec> OcCarousel::plain_module_images() const {
  std::map<uint16_t, ByteVec> images;
  for (const Node& node : objects_) images[node.moduleId] = concat({images[node.moduleId], message(node)});
  return images;
}

std::map<uint16_t, ByteVec> OcCarousel::module_images() const {
  std::map<uint16_t, ByteVec> images = plain_module_images();
  for (auto& [moduleId, image] : images)
    if (compressed_.contains(moduleId) && compressed_.at(moduleId)) image = zlib_compress(image);
  return images;
}

DsiSpec OcCarousel::dsi() const {
  const Node& gw = objects_.front();
  return {.private_data = build_service_gateway_info(
              gateway_info(gateway_profile(carouselId_, gw.moduleId, gw.key, 0x000B, 0x80000002)))};
}

DiiSpec OcCarousel::dii(size_t block_size) const {
  DiiSpec dii;
  dii.header.transactionId += 2u * version_;
  dii.downloadId = carouselId_;
  dii.blockSize = static_cast<uint16_t>(block_size);
  std::map<uint16_t, ByteVec> plain = plain_module_images();
  for (const auto& [moduleId, image] : module_images()) {
    const bool compressed = image != plain[moduleId];
    const uint32_t plain_size = static_cast<uint32_t>(plain[moduleId].size());
    dii.modules.push_back(
        {moduleId, static_cast<uint32_t>(image.size()), version_,
         biop_module_info(compressed ? std::optional<uint32_t>(plain_size) : std::nullopt)});
  }
  return dii;
}

std::vector<ByteVec> OcCarousel::ddb_sections(size_t block_size) const {
  std::vector<ByteVec> out;
  for (const auto& [moduleId, image] : module_images())
    for (auto& s : module_sections(carouselId_, moduleId, image, block_size, version_))
      out.push_back(std::move(s));
  return out;
}

std::vector<ByteVec> OcCarousel::sections(size_t block_size) const {
  std::vector<ByteVec> out = ddb_sections(block_size);
  out.insert(out.begin(), {dsi_section(), dii_section(block_size)});
  return out;
}

}  // namespace testsupport
