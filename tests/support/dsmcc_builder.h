// Builders of DSM-CC download messages and their sections, for test fixtures.
//
// Every builder writes the bytes as a broadcaster would, with each count and length derived from what
// it holds. A few can be overridden (the std::optional members), so that a test can state a field that
// disagrees with the bytes behind it. The builders know nothing of the decoders:
// they hold their own copies of the layouts and tag values, so a wrong constant in the decoders shows.
//
// Typical use:
//   testsupport::DsiSpec dsi;
//   dsi.private_data = testsupport::build_service_gateway_info(
//       testsupport::gateway_info(testsupport::gateway_profile(0x10, 1, {0x00, 0x01}, 0x0B, 0x80000002)));
//   auto section = testsupport::dsi_section(dsi);          // table 0x3B, CRC included
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tests/support/psi_builder.h"

namespace testsupport {

// Tag values of the IOR and BIOP profile body.
constexpr uint32_t kTagBiop = 0x49534F06;
constexpr uint32_t kTagObjectLocation = 0x49534F50;
constexpr uint32_t kTagConnBinder = 0x49534F40;

// messageId values.
constexpr uint16_t kMsgDII = 0x1002;
constexpr uint16_t kMsgDDB = 0x1003;
constexpr uint16_t kMsgDSI = 0x1006;

// ---- Message header ----------------------------------------------------------------------------

// dsmccMessageHeader (DSI, DII) and dsmccDownloadDataHeader (DDB): 12 bytes and the adaptation header.
struct MessageHeaderSpec {
  uint8_t protocolDiscriminator = 0x11;
  uint8_t dsmccType = 0x03;
  uint16_t messageId = kMsgDSI;
  uint32_t transactionId = 0;  // the downloadId of a DDB
  uint8_t reserved = 0xFF;
  std::vector<uint8_t> adaptation = {};  // adaptationLength is its size (at most 255)
};

// The 12-byte header, the adaptation header and then `body`.
std::vector<uint8_t> build_message(const MessageHeaderSpec& header, const std::vector<uint8_t>& body);

// An adaptation header of `length` bytes: adaptationType 0x01 and padding.
std::vector<uint8_t> adaptation_header(size_t length);

// ---- BIOP profile body, IOR and ServiceGatewayInfo ----------------------------------------------

// One DSM::Tap. The first tap of a ConnBinder is written in its fixed 17-byte form: id, use, assocTag,
// selector_length (default 10), selector_type, transactionId, timeout; `selector` is not written.
// Every other tap (further ConnBinder taps, download taps) is id, use, assocTag, selector_length
// (default: the selector's size) and the selector bytes.
struct TapSpec {
  uint16_t id = 0;
  uint16_t use = 0x0016;  // BIOP_DELIVERY_PARA_USE
  uint16_t assocTag = 0;
  std::optional<uint8_t> selector_length = {};
  uint16_t selector_type = 0x0001;
  uint32_t transactionId = 0;
  uint32_t timeout = 0xFFFFFFFF;
  std::vector<uint8_t> selector = {};
};

struct LiteComponentSpec {
  uint32_t componentId_tag = 0;
  std::vector<uint8_t> data;
};

// A BIOP profile body: byte order, lite_component_count, BIOP::ObjectLocation, DSM::ConnBinder with
// its taps, then further lite components. Multi-byte fields follow byte_order (0 big-endian).
struct BiopProfileSpec {
  uint8_t byte_order = 0;
  std::optional<uint8_t> lite_component_count = {};  // default: 2 + lite_components

  uint32_t carouselId = 0;
  uint16_t moduleId = 0;  // the object location's version is always 1.0
  std::vector<uint8_t> objectKey;

  std::vector<TapSpec> taps;

  std::vector<LiteComponentSpec> lite_components = {};
};

std::vector<uint8_t> build_biop_profile_body(const BiopProfileSpec& desc);

// The usual gateway profile: object location (version 1.0) and one BIOP_DELIVERY_PARA_USE tap with
// selector type 1, the DII's transactionId and timeout 0xFFFFFFFF.
BiopProfileSpec gateway_profile(uint32_t carouselId, uint16_t moduleId, std::vector<uint8_t> objectKey,
                                uint16_t assocTag, uint32_t transactionId);

struct TaggedProfileSpec {
  uint32_t profileId_tag = kTagBiop;
  std::vector<uint8_t> data;
};

// A TAG_BIOP tagged profile holding the body of `desc`.
TaggedProfileSpec biop_profile(const BiopProfileSpec& desc);

// IOP::IOR: type_id_length, type_id, alignment gap, taggedProfiles_count and the profiles. The 32-bit
// fields follow big_endian; a profile's data is written as given.
struct IorSpec {
  bool big_endian = true;
  std::vector<uint8_t> type_id = {'s', 'r', 'g', 0};
  uint8_t gap_byte = 0xFF;  // filler of the alignment gap
  std::vector<TaggedProfileSpec> profiles;
};

std::vector<uint8_t> build_ior(const IorSpec& desc);

struct ServiceContextSpec {
  uint32_t context_id = 0;
  std::vector<uint8_t> data;
};

// ServiceGatewayInfo: the IOR, the download taps, the service contexts and the user info.
struct ServiceGatewayInfoSpec {
  IorSpec ior;
  std::vector<TapSpec> download_taps = {};  // each written in the id, use, assocTag, selector form
  std::vector<ServiceContextSpec> service_contexts = {};
  std::vector<uint8_t> user_info = {};
};

// A ServiceGatewayInfo whose IOR ("srg", big-endian) holds the one BIOP profile of `profile`.
ServiceGatewayInfoSpec gateway_info(const BiopProfileSpec& profile);

std::vector<uint8_t> build_service_gateway_info(const ServiceGatewayInfoSpec& desc);

// ---- DSI, DII, DDB -----------------------------------------------------------------------------

// DownloadServerInitiate.
struct DsiSpec {
  MessageHeaderSpec header = {.messageId = kMsgDSI, .transactionId = 0x80000000};
  std::vector<uint8_t> serverId = std::vector<uint8_t>(20, 0xFF);  // written as given (20 bytes)
  std::vector<uint8_t> compatibility_descriptor = {};              // the descriptor's bytes behind its length
  std::vector<uint8_t> private_data = {};                          // usually build_service_gateway_info(...)
};

std::vector<uint8_t> build_dsi(const DsiSpec& desc);

// One module entry of a DII.
struct ModuleSpec {
  uint16_t moduleId = 0;
  uint32_t moduleSize = 0;
  uint8_t moduleVersion = 0;
  std::vector<uint8_t> moduleInfo = {};
};

// DownloadInfoIndication.
struct DiiSpec {
  MessageHeaderSpec header = {.messageId = kMsgDII, .transactionId = 0x80000002};
  uint32_t downloadId = 0;
  uint16_t blockSize = 4066;
  uint8_t windowSize = 0;
  uint8_t ackPeriod = 0;
  uint32_t tCDownloadWindow = 0;
  uint32_t tCDownloadScenario = 0;
  std::vector<uint8_t> compatibility_descriptor;
  std::vector<ModuleSpec> modules;
  std::vector<uint8_t> private_data;
};

std::vector<uint8_t> build_dii(const DiiSpec& desc);

// DownloadDataBlock. The header's transactionId is the downloadId.
struct DdbSpec {
  MessageHeaderSpec header = {.messageId = kMsgDDB};
  uint16_t moduleId = 0;
  uint8_t moduleVersion = 0;
  uint8_t reserved = 0xFF;
  uint16_t blockNumber = 0;
  std::vector<uint8_t> blockData = {};
};

std::vector<uint8_t> build_ddb(const DdbSpec& desc);

// A DDB of `downloadId` carrying `data` as block `blockNumber` of module `moduleId`.
DdbSpec block(uint32_t downloadId, uint16_t moduleId, uint16_t blockNumber, std::vector<uint8_t> data,
              uint8_t moduleVersion = 0);

// ---- Sections ----------------------------------------------------------------------------------

// The long DSM-CC section header around a message, and the CRC_32 behind it. Unset fields take the
// message's usual values: table 0x3B and the low 16 bits of transactionId for DSI and DII, table 0x3C
// and the moduleId for a DDB.
std::vector<uint8_t> dsi_section(const DsiSpec& dsi, SectionSpec section = {});
std::vector<uint8_t> dii_section(const DiiSpec& dii, SectionSpec section = {});
std::vector<uint8_t> ddb_section(const DdbSpec& ddb, SectionSpec section = {});

}  // namespace testsupport
