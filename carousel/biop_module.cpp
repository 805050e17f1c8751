// The BIOP object messages of one module image.
//
// Every read goes through a ByteReader bounded by the end of the image. A message, binding or IOR
// that would run past that end is taken as a bad header: the rest of the module is ignored, and what
// was recorded from earlier messages stays.
#include <cstring>

#include "carousel/object_carousel.h"
#include "log/debug_log.h"
#include "bytes/byte_reader.h"

namespace carousel {

namespace {

enum class ObjectKind { directory, gateway, file, stream, unknown };

ObjectKind object_kind(bytes::ByteView kind) {
  // objectKind_length is compared as the bytes 00 00 00 04 whatever the message's byte order says.
  static constexpr uint8_t kDir[8] = {0, 0, 0, 4, 'd', 'i', 'r', 0};
  static constexpr uint8_t kSrg[8] = {0, 0, 0, 4, 's', 'r', 'g', 0};
  static constexpr uint8_t kFil[8] = {0, 0, 0, 4, 'f', 'i', 'l', 0};
  static constexpr uint8_t kStr[8] = {0, 0, 0, 4, 's', 't', 'r', 0};
  static constexpr uint8_t kSte[8] = {0, 0, 0, 4, 's', 't', 'e', 0};
  if (kind.size() != 8) return ObjectKind::unknown;
  if (std::memcmp(kind.data(), kDir, 8) == 0) return ObjectKind::directory;
  if (std::memcmp(kind.data(), kSrg, 8) == 0) return ObjectKind::gateway;
  if (std::memcmp(kind.data(), kFil, 8) == 0) return ObjectKind::file;
  if (std::memcmp(kind.data(), kStr, 8) == 0 || std::memcmp(kind.data(), kSte, 8) == 0) {
    return ObjectKind::stream;
  }
  return ObjectKind::unknown;
}

// Name component text: up to the first zero byte inside the field.
std::string component_text(bytes::ByteView field) {
  size_t n = 0;
  while (n < field.size() && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field.data()), n);
}

// objectInfo, the serviceContextList and messageBody_length: the part every object message shares
// between its kind and its body.
void skip_message_subheader(bytes::ByteReader& r, bool big_endian) {
  uint16_t objectInfo_length = r.u16(big_endian);
  r.skip(objectInfo_length);
  uint8_t serviceContextList_count = r.u8();
  for (unsigned i = 0; i < serviceContextList_count && r.ok(); ++i) {
    r.u32(big_endian);  // context_id
    uint16_t context_data_length = r.u16(big_endian);
    r.skip(context_data_length);
  }
  r.u32(big_endian);  // messageBody_length
}

// Body of a directory or service gateway message. False when it runs past the image.
bool read_directory(bytes::ByteReader& r, bool big_endian, DirectoryRecord& record) {
  skip_message_subheader(r, big_endian);
  uint16_t bindings_count = r.u16(big_endian);
  for (unsigned i = 0; i < bindings_count && r.ok(); ++i) {
    Binding binding;
    uint8_t nameComponents_count = r.u8();
    for (unsigned c = 0; c < nameComponents_count && r.ok(); ++c) {
      uint8_t id_length = r.u8();
      bytes::ByteView id = r.bytes(id_length);
      uint8_t kind_length = r.u8();
      bytes::ByteView kind = r.bytes(kind_length);
      if (c == 0) {
        binding.id = component_text(id);
        binding.kind = component_text(kind);
      }
    }
    r.u8();  // bindingType
    // The IOR's fields follow the message's byte order, each profile body its own; the last BIOP
    // profile with a whole object location decides the reference, else it stays {0, 0, empty}.
    if (!dsmcc::parse_IOR(r, big_endian, binding.ref, nullptr, false)) return false;
    uint16_t objectInfo_length = r.u16(big_endian);
    r.skip(objectInfo_length);
    if (!r.ok()) return false;
    if (binding.kind == "dir") {
      record.directories.push_back(std::move(binding));
    } else if (binding.kind == "fil") {
      record.files.push_back(std::move(binding));
    }
  }
  return r.ok();
}

// Body of a file message. False when it runs past the image.
bool read_file(bytes::ByteReader& r, bool big_endian, FileRecord& record) {
  skip_message_subheader(r, big_endian);
  record.content_length = r.u32(big_endian);
  record.content = r.bytes(record.content_length);
  return r.ok();
}

}  // namespace

void parse_OC_module(bytes::ByteView image, ObjectCarousel& carousel, uint32_t carousel_key,
                     uint32_t moduleId) {
  logio::g_log.log(4, "parse_OC_module(%#x,%#x)", carousel_key, moduleId);
  if (image.empty()) {
    logio::g_log.log(4, "skipping empty module");
    return;
  }
  static constexpr uint8_t kMagic[4] = {'B', 'I', 'O', 'P'};
  bytes::ByteReader module(image);
  while (!module.at_end()) {
    bytes::ByteView magic = module.bytes(4);
    uint8_t major = module.u8();
    uint8_t minor = module.u8();
    if (!module.ok() || std::memcmp(magic.data(), kMagic, 4) != 0 || major != 0x01 || minor != 0x00) {
      logio::g_log.log(4, "not a BIOP message");
      return;
    }
    bool big_endian = module.u8() == 0;
    module.u8();  // message_type
    uint32_t message_size = module.u32(big_endian);
    // The message is message_size bytes behind its fixed header: its fields cannot reach the next one.
    bytes::ByteReader r = module.sub(message_size);
    uint8_t objectKey_length = r.u8();
    bytes::ByteView key = r.bytes(objectKey_length);
    bytes::ByteView kind = r.bytes(8);
    if (!module.ok() || !r.ok()) {
      logio::g_log.log(4, "not a BIOP message");
      return;
    }

    dsmcc::ObjectLocationRef ref;
    ref.carouselId = carousel_key;
    ref.moduleId = moduleId;
    ref.objectKey.assign(key.begin(), key.end());

    ObjectKind object = object_kind(kind);
    bool ok = true;
    switch (object) {
      case ObjectKind::gateway:
      case ObjectKind::directory: {
        if (object == ObjectKind::gateway)
          logio::g_log.log(4, "srg object key: %s", object_key_text(key).c_str());
        DirectoryRecord record;
        ok = read_directory(r, big_endian, record);
        if (ok) {
          if (carousel.directories.count(ref)) logio::g_log.log(2, "directory already in tree");
          carousel.directories.insert_or_assign(ref, std::move(record));
        }
        break;
      }
      case ObjectKind::file: {
        FileRecord record;
        ok = read_file(r, big_endian, record);
        if (ok) {
          if (carousel.files.count(ref)) logio::g_log.log(2, "file already in tree");
          carousel.files.insert_or_assign(ref, record);
        }
        break;
      }
      case ObjectKind::stream:
        break;
      case ObjectKind::unknown:
        logio::g_log.log(4, "Unknown BIOP");
        break;
    }
    if (!ok) {
      logio::g_log.log(4, "not a BIOP message");
      return;
    }
  }
}

}  // namespace carousel
