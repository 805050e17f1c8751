// The download messages: the common header, DSI, DII (with its module entries) and DDB.
//
// One ByteReader runs over the whole message, so a field that runs past the end is reported with its
// offset from the message start. A DSI, DII or DDB whose counts or lengths do not fit its bytes is
// rejected as a whole: the store keeps complete messages only.
#include "dsmcc/messages.h"

#include <algorithm>

#include "log/debug_log.h"
#include "bytes/byte_reader.h"

namespace dsmcc {

namespace {

enum class HeaderResult { ok, short_message, bad_reserved };

// Both header variants share this reader; they differ only in what they say about a bad reserved byte.
HeaderResult read_header(bytes::ByteReader& r, DsmccMessageHeader& h, uint8_t& reserved) {
  const uint32_t protocolDiscriminator = r.u8();
  const uint32_t dsmccType = r.u8();
  const uint32_t messageId = r.be16();
  const uint32_t transactionId = r.be32();
  reserved = r.u8();
  if (!r.ok()) return HeaderResult::short_message;
  if (reserved != 0xFF) return HeaderResult::bad_reserved;
  const uint32_t adaptationLength = r.u8();
  const uint32_t messageLength = r.be16();
  const bytes::ByteView adaptation = r.bytes(adaptationLength);
  if (!r.ok()) return HeaderResult::short_message;

  h.protocolDiscriminator = protocolDiscriminator;
  h.dsmccType = dsmccType;
  h.messageId = messageId;
  h.transactionId = transactionId;
  h.adaptationLength = adaptationLength;
  h.messageLength = messageLength;
  h.adaptation = adaptation;
  h.body_offset = r.position();
  return HeaderResult::ok;
}

// The DownloadDataHeader variant: a bad reserved byte is logged here, a short message by the caller.
HeaderResult read_download_data_header(bytes::ByteReader& r, DsmccMessageHeader& h) {
  uint8_t reserved = 0;
  const HeaderResult result = read_header(r, h, reserved);
  if (result == HeaderResult::bad_reserved)
    logio::g_log.log(1, "DownloadDataHeader unexpected reserved value: %#x", static_cast<unsigned>(reserved));
  return result;
}

void log_truncated(const char* what, const bytes::ByteReader& r) {
  logio::g_log.log(1, "%s message truncated: %zu bytes wanted at offset %zu, message has %zu", what,
            r.error_wanted(), r.error_offset(), r.size());
}

}  // namespace

bool parse_message_header(bytes::ByteView message, DsmccMessageHeader& header) {
  bytes::ByteReader r(message);
  uint8_t reserved = 0;
  return read_header(r, header, reserved) == HeaderResult::ok;
}

bool parse_download_data_header(bytes::ByteView message, DsmccMessageHeader& header) {
  bytes::ByteReader r(message);
  return read_download_data_header(r, header) == HeaderResult::ok;
}

// ---- DSI ---------------------------------------------------------------------------------------

bool CDownloadServerInitiate::Parse(bytes::ByteView message) {
  bytes::ByteReader r(message);
  uint8_t reserved = 0;
  const HeaderResult hr = read_header(r, header, reserved);
  if (hr != HeaderResult::ok) {
    if (hr == HeaderResult::short_message) log_truncated("DSI", r);
    logio::g_log.log(1, "Failed to parse header");
    return false;
  }

  const bytes::ByteView server = r.bytes(20);
  const uint32_t compatibility_length = r.be16();
  r.skip(compatibility_length);
  const uint32_t private_length = r.be16();
  const bytes::ByteView private_data = r.bytes(private_length);
  if (!r.ok()) {
    log_truncated("DSI", r);
    return false;
  }

  serverId = server;
  compatibilityDescriptorLength = compatibility_length;
  privateDataLength = private_length;
  privateData = private_data;

  gateway = CServiceGatewayInfo{};
  uint32_t occupied = privateDataLength;
  gatewayParsed = gateway.parse(privateData, occupied);
  if (gatewayParsed && privateDataLength != occupied) {
    logio::g_log.log(3, "ServiceGatewayInfo length mismatch (%d/%d)", static_cast<int>(privateDataLength),
              static_cast<int>(occupied));
  }
  return true;
}

// ---- DII ---------------------------------------------------------------------------------------

bool Module::Parse(bytes::ByteReader& r) {
  const uint32_t id = r.be16();
  if (!r.ok()) return false;
  logio::g_log.log(4, "Module::Parse module_id: %#x", static_cast<unsigned>(id));
  const uint32_t size = r.be32();
  const uint32_t version = r.u8();
  const uint32_t info_length = r.u8();
  const bytes::ByteView info = r.bytes(info_length);
  if (!r.ok()) return false;

  moduleId = id;
  moduleSize = size;
  moduleVersion = version;
  moduleInfoLength = info_length;
  moduleInfo = info;
  return true;
}

bool CDownloadInfoIndication::Parse(bytes::ByteView message) {
  logio::g_log.log(4, "CDownloadInfoIndication::Parse()");
  bytes::ByteReader r(message);
  uint8_t reserved = 0;
  const HeaderResult hr = read_header(r, header, reserved);
  if (hr != HeaderResult::ok) {
    if (hr == HeaderResult::short_message) log_truncated("DII", r);
    return false;
  }

  const uint32_t download = r.be32();
  const uint32_t block_size = r.be16();
  const uint32_t window = r.u8();
  const uint32_t ack = r.u8();
  const uint32_t window_time = r.be32();
  const uint32_t scenario_time = r.be32();
  if (!r.ok()) {
    log_truncated("DII", r);
    return false;
  }
  downloadId = download;
  blockSize = block_size;
  windowSize = window;
  ackPeriod = ack;
  tcDownloadWindow = window_time;
  tcDownloadScenario = scenario_time;
  logio::g_log.log(4, "download_id: %#x", static_cast<unsigned>(downloadId));

  const uint32_t compatibility_length = r.be16();
  r.skip(compatibility_length);
  const uint32_t module_count = r.be16();
  if (!r.ok()) {
    log_truncated("DII", r);
    return false;
  }
  numberOfModules = module_count;

  modules.clear();
  // An entry takes at least 8 bytes: a count larger than the bytes allow must not reserve memory.
  modules.reserve(std::min<size_t>(numberOfModules, r.remaining() / 8));
  for (uint32_t i = 0; i < numberOfModules; ++i) {
    const size_t entry_at = r.position();
    Module module;
    if (!module.Parse(r)) {
      logio::g_log.log(1, "DII module entry %u of %u runs past the message at offset %zu",
                       static_cast<unsigned>(i), static_cast<unsigned>(numberOfModules), entry_at);
      return false;
    }
    modules.push_back(module);
  }

  const uint32_t private_length = r.be16();
  const bytes::ByteView private_data = r.bytes(private_length);
  if (!r.ok()) {
    log_truncated("DII", r);
    return false;
  }
  privateDataLength = private_length;
  privateData = private_data;
  return true;
}

// ---- DDB ---------------------------------------------------------------------------------------

bool DownloadDataBlock::Parse(bytes::ByteView message) {
  bytes::ByteReader r(message);
  const HeaderResult hr = read_download_data_header(r, header);
  if (hr != HeaderResult::ok) {
    if (hr == HeaderResult::short_message) log_truncated("DDB", r);
    return false;
  }

  const uint32_t module = r.be16();
  const uint32_t version = r.u8();
  const uint32_t block_reserved = r.u8();
  if (!r.ok()) {
    log_truncated("DDB", r);
    return false;
  }
  if (block_reserved != 0xFF) {
    logio::g_log.log(1, "DownloadDataBlock unexpected reserved value: %#x, offset %ld",
              static_cast<unsigned>(block_reserved), static_cast<long>(header.body_offset));
    return false;
  }
  const uint32_t block = r.be16();
  if (!r.ok()) {
    log_truncated("DDB", r);
    return false;
  }

  moduleId = module;
  moduleVersion = version;
  blockNumber = block;
  blockData = r.take_rest();
  blockDataLength = static_cast<uint32_t>(blockData.size());
  return true;
}

}  // namespace dsmcc
