// Builders of object carousels for test fixtures: BIOP object messages in either byte order, bindings
// with their IORs, module images (optionally zlib-compressed) and the DSI, DII and DDB sections that
// carry a whole carousel.
//
// Two levels:
//   - message builders (build_biop_message and the *_message helpers) for tests that lay out a module
//     image byte by byte;
//   - OcCarousel, which describes a small carousel as a tree (gateway, directories, files, stream
//     objects, extra bindings) and hands out its module images and sections.
//
// Typical use:
//   testsupport::OcCarousel oc(0x10);                        // carouselId = downloadId 0x10
//   auto dir = oc.add_directory(oc.gateway(), "apps", 1);     // in module 1
//   oc.add_file(dir, "index.html", testsupport::text_bytes("<html/>"), 1);
//   auto sections = oc.sections();                            // DSI, DII, then the DDBs
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/dsmcc_builder.h"

namespace testsupport {

using ByteVec = std::vector<uint8_t>;

ByteVec text_bytes(const std::string& text);
// `size` bytes of a repeating, easily recognised pattern that starts at `seed`.
ByteVec pattern_bytes(size_t size, uint8_t seed = 0);
// A zlib stream (header 78 9C) of `data`.
ByteVec zlib_compress(const ByteVec& data);
// A BIOP::ModuleInfo (time-outs, one BIOP_OBJECT_USE tap) with a compressed_module_descriptor when
// original_size is set.
ByteVec biop_module_info(std::optional<uint32_t> original_size);

// ---- BIOP messages -------------------------------------------------------------------------------

struct BiopMessageSpec {
  std::vector<uint8_t> magic = {'B', 'I', 'O', 'P'};
  uint8_t version_major = 0x01;
  uint8_t version_minor = 0x00;
  uint8_t byte_order = 0;  // 0 big-endian; anything else little-endian
  uint8_t message_type = 0;
  std::optional<uint32_t> message_size = {};  // default: the bytes behind the field
  std::vector<uint8_t> objectKey = {};
  std::string kind = "fil";  // written as its characters and a zero byte
  // objectKind_length: 4, written as 00 00 00 04 whatever the byte order, as every carousel sends it.
  std::vector<uint8_t> objectInfo = {};  // no service context follows it
  std::vector<uint8_t> body = {};        // behind messageBody_length, which is its size
};

ByteVec build_biop_message(const BiopMessageSpec& message);

// One name component (id, kind), each written with a terminating zero byte, and the object's IOR.
struct BindingSpec {
  std::string id;
  std::string kind;
  IorSpec ior;
};

BindingSpec binding(const std::string& id, const std::string& kind, uint32_t carouselId, uint16_t moduleId,
                    std::vector<uint8_t> objectKey, bool big_endian = true);

// Whole messages. kind "dir" or "srg" for directories.
ByteVec directory_message(std::vector<uint8_t> objectKey, const std::vector<BindingSpec>& bindings,
                          bool big_endian = true, const std::string& kind = "dir");
// A file message: objectInfo with the 64-bit content size, content_length and the content.
ByteVec file_message(std::vector<uint8_t> objectKey, const ByteVec& content, bool big_endian = true);

// ---- Modules and sections ------------------------------------------------------------------------

// One DDB as a carousel sends it: the block and the fields of its section header.
struct SentBlock {
  DdbSpec ddb;
  SectionSpec section;
};

// One module image cut into blocks of block_size bytes: blockNumber counts from 0, section_number is
// its low 8 bits, last_section_number is the last block's number (0xFF past 256 blocks, as carousel
// generators write it). An empty image gives one empty block.
std::vector<SentBlock> module_blocks(uint32_t downloadId, uint16_t moduleId, const ByteVec& image,
                                     size_t block_size = 4066, uint8_t moduleVersion = 0);
// The DDB sections of module_blocks; table_id_extension is the moduleId.
std::vector<ByteVec> module_sections(uint32_t downloadId, uint16_t moduleId, const ByteVec& image,
                                     size_t block_size = 4066, uint8_t moduleVersion = 0);

// ---- A carousel described as a tree --------------------------------------------------------------

class OcCarousel {
 public:
  using Object = size_t;

  // carouselId is used as the downloadId of the DII and DDBs and as the carouselId of every object
  // location, as DVB carousels do. The gateway lies in module 1 under the key 00 00 00 01.
  explicit OcCarousel(uint32_t carouselId) : carouselId_(carouselId) {
    objects_.push_back(Node{"srg", 1, ByteWriter().be32(next_key_++).take(), {}, {}});
  }

  Object gateway() const { return 0; }
  // Each new object gets the next 4-byte key and is bound from `parent` under `name`.
  Object add_directory(Object parent, const std::string& name, uint16_t moduleId) {
    return add(parent, name, "dir", moduleId, {});
  }
  Object add_file(Object parent, const std::string& name, ByteVec content, uint16_t moduleId) {
    return add(parent, name, "fil", moduleId, std::move(content));
  }
  // A further binding of an existing object (a second parent, or a loop back to an ancestor). A
  // carouselId override makes the binding's object location name another carousel id.
  void bind(Object parent, const std::string& name, Object child,
            std::optional<uint32_t> carouselId = std::nullopt);
  // A binding to an object that no message of the carousel describes.
  void bind_missing(Object parent, const std::string& name, const std::string& kind, uint16_t moduleId,
                    std::vector<uint8_t> objectKey);

  // Writes the object's message (and the IORs of its bindings) little-endian.
  // Sends the module as a zlib stream.
  void set_compressed(uint16_t moduleId, bool compressed = true) { compressed_[moduleId] = compressed; }
  // The moduleVersion of every module, in the DII and in every DDB; the DII's transactionId changes
  // with it, as an update changes it.
  void set_version(uint8_t version) { version_ = version; }

  uint32_t carouselId() const { return carouselId_; }

  // The image of each module as the carousel sends it (compressed where asked), by moduleId; the
  // messages of a module in the order their objects were added.
  std::map<uint16_t, ByteVec> module_images() const;
  // The same before compression.
  std::map<uint16_t, ByteVec> plain_module_images() const;

  // The DSI naming the gateway, and the DII listing every module as module_images sends it.
  DsiSpec dsi() const;
  DiiSpec dii(size_t block_size = 4066) const;
  ByteVec dsi_section() const { return testsupport::dsi_section(dsi()); }
  // blockSize is what the DDBs are cut to.
  ByteVec dii_section(size_t block_size = 4066) const { return testsupport::dii_section(dii(block_size)); }
  // The DDB sections of every module, modules in ascending moduleId.
  std::vector<ByteVec> ddb_sections(size_t block_size = 4066) const;
  // DSI, DII, then every DDB.
  std::vector<ByteVec> sections(size_t block_size = 4066) const;

 private:
  struct Child {
    std::string name;
    std::string kind;
    uint32_t carouselId;
    uint16_t moduleId;
    std::vector<uint8_t> key;
  };
  struct Node {
    std::string kind;  // "srg" for the gateway, "dir" or "fil"
    uint16_t moduleId;
    std::vector<uint8_t> key;
    ByteVec content;
    std::vector<Child> children;
  };

  Object add(Object parent, const std::string& name, const std::string& kind, uint16_t moduleId,
             ByteVec content);
  ByteVec message(const Node& node) const;

  uint32_t carouselId_;
  std::vector<Node> objects_;
  std::map<uint16_t, bool> compressed_;
  uint8_t version_ = 0;
  uint32_t next_key_ = 1;
};

}  // namespace testsupport
