// Decoded DSM-CC download messages (DSI, DII, DDB) and the BIOP/IOP structures a DSI carries.
//
// Message objects keep views into the message bytes of their section (never copies of payloads), so
// the section object must outlive the message object; the store keeps the two together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes/byte_reader.h"

namespace dsmcc {

// dsmccMessageHeader / dsmccDownloadDataHeader: one 12-byte layout.
struct DsmccMessageHeader {
  uint32_t protocolDiscriminator = 0;
  uint32_t dsmccType = 0;
  uint32_t messageId = 0;
  uint32_t transactionId = 0;  // the downloadId for a DDB
  uint32_t adaptationLength = 0;
  uint32_t messageLength = 0;
  bytes::ByteView adaptation;     // the adaptation header (adaptationLength bytes)
  size_t body_offset = 0;  // offset of the body from the message start (12 + adaptationLength)
};

// The message-header variant of DSI and DII: silent on failure.
bool parse_message_header(bytes::ByteView message, DsmccMessageHeader& header);
// The DownloadDataHeader variant of the DDB: logs a bad reserved byte.
bool parse_download_data_header(bytes::ByteView message, DsmccMessageHeader& header);

// Reference to one object of an object carousel. Identity and order: moduleId, then the key bytes;
// carouselId takes no part.
struct ObjectLocationRef {
  uint32_t carouselId = 0;
  uint32_t moduleId = 0;
  bytes::Bytes objectKey;

  friend bool operator<(const ObjectLocationRef& a, const ObjectLocationRef& b) {
    if (a.moduleId != b.moduleId) return a.moduleId < b.moduleId;
    return a.objectKey < b.objectKey;  // unsigned bytes, a prefix first
  }
  friend bool operator==(const ObjectLocationRef& a, const ObjectLocationRef& b) {
    return a.moduleId == b.moduleId && a.objectKey == b.objectKey;
  }
};

namespace DSM {
struct Tap {
  uint32_t id = 0;
  uint32_t use = 0;
  uint32_t assocTag = 0;
  uint32_t selector_length = 0;
  uint32_t selector_type = 0;
  uint32_t transactionId = 0;
  uint32_t timeout = 0;
  bytes::Bytes
      selector;  // further taps only; the first tap's selector is decoded into the three fields above
};
}  // namespace DSM

namespace BIOP {
// The profile and component tags; their four bytes read as text are "ISO" and a last byte.
constexpr uint32_t TAG_BIOP = 0x49534F06;
constexpr uint32_t TAG_ObjectLocation = 0x49534F50;
constexpr uint32_t TAG_ConnBinder = 0x49534F40;

struct LiteComponent {
  uint32_t componentId_tag = 0;
  uint32_t component_data_length = 0;
  bytes::Bytes data;
};
}  // namespace BIOP

struct BiopProfileBody {
  uint32_t profileId_tag = 0;
  uint32_t profile_data_length = 0;
  uint32_t profile_data_byte_order = 0;
  uint32_t lite_component_count = 0;
  // BIOP::ObjectLocation
  uint32_t location_componentId_tag = 0;
  uint32_t location_component_data_length = 0;
  uint32_t carouselId = 0;
  uint32_t moduleId = 0;
  uint32_t version_major = 0;
  uint32_t version_minor = 0;
  uint32_t objectKey_length = 0;
  bytes::Bytes objectKey;
  // DSM::ConnBinder
  uint32_t binder_componentId_tag = 0;
  uint32_t binder_component_data_length = 0;
  uint32_t taps_count = 0;
  std::vector<DSM::Tap> taps;
  std::vector<BIOP::LiteComponent> liteComponents;
};

class CServiceGatewayInfo {
 public:
  // On entry `length` is the DSI's privateDataLength; on return the bytes the ServiceGatewayInfo
  // occupied (from its start to the end of userInfo, as far as the bytes reached). Always true.
  bool parse(bytes::ByteView data, uint32_t& length);

  std::vector<BiopProfileBody> profiles;  // one per TAG_BIOP profile of the IOR, in IOR order
  uint32_t downloadTaps_count = 0;
  uint32_t serviceContextList_count = 0;
  uint32_t userInfoLength = 0;
};

// Decodes an IOP::IOR at the reader's position: appends each TAG_BIOP profile body to `profiles`
// (when not null) and leaves `location` holding the last object location decoded. Logs as the gateway
// decoding does. Stops where the bytes end, keeping what it read; returns false when it ran short.
// `trace` false leaves out the level-4 lines (a binding's IOR inside a module is decoded silently);
// a structure that runs past its bytes is logged either way.
bool parse_IOR(bytes::ByteReader& reader, bool big_endian, ObjectLocationRef& location,
               std::vector<BiopProfileBody>* profiles, bool trace = true);

// Fills `location` and `body` from a BIOP profile body; stops where the bytes end, keeping what it read.
// `location` changes only once a whole object location has been read.
void parse_BIOP_ProfileBody(bytes::ByteView profile_data, ObjectLocationRef& location, BiopProfileBody& body,
                            bool trace = true);

// The object location as trace lines: carousel id, module id, then the key as upper-case hex or "empty".
void log_object_location(uint32_t carouselId, uint32_t moduleId, bytes::ByteView objectKey);

// Common base, so that the store can own any of the three messages through one pointer.
class DsmccMessage {
 public:
  virtual ~DsmccMessage() = default;
  DsmccMessageHeader header;
};

class CDownloadServerInitiate : public DsmccMessage {
 public:
  bool Parse(bytes::ByteView message);

  bytes::ByteView serverId;  // 20 bytes
  uint32_t compatibilityDescriptorLength = 0;
  uint32_t privateDataLength = 0;
  bytes::ByteView privateData;
  bool gatewayParsed = false;
  CServiceGatewayInfo gateway;
};

struct Module {
  // Fills the record from the module entry at the reader's cursor and leaves the cursor on the next
  // entry (8 + moduleInfoLength further on). False, with the record untouched, when the entry runs past
  // the reader's bytes.
  bool Parse(bytes::ByteReader& reader);

  uint32_t moduleId = 0;
  uint32_t moduleSize = 0;
  uint32_t moduleVersion = 0;
  uint32_t moduleInfoLength = 0;
  bytes::ByteView moduleInfo;
};

class CDownloadInfoIndication : public DsmccMessage {
 public:
  bool Parse(bytes::ByteView message);

  uint32_t downloadId = 0;
  uint32_t blockSize = 0;
  uint32_t windowSize = 0;
  uint32_t ackPeriod = 0;
  uint32_t tcDownloadWindow = 0;
  uint32_t tcDownloadScenario = 0;
  uint32_t numberOfModules = 0;
  uint32_t privateDataLength = 0;
  bytes::ByteView privateData;
  std::vector<Module> modules;
};

class DownloadDataBlock : public DsmccMessage {
 public:
  bool Parse(bytes::ByteView message);

  uint32_t moduleId = 0;
  uint32_t moduleVersion = 0;
  uint32_t blockNumber = 0;
  uint32_t blockDataLength = 0;
  bytes::ByteView blockData;
};

}  // namespace dsmcc
