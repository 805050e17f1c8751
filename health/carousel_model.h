// The analyzer's model of a finished capture, as the health check reads it.
//
// It reads only the carousel model built when the capture ended (the programme index with the PID behind
// each entry, what the intake noted, one image per complete module, inflated where it was compressed,
// and the objects parsed from the images). Reading never writes a log line and changes nothing, so a
// check leaves every page, log line and counter as the capture made them.
//
// The views below point into the model and the messages it borrows: they are valid while the model
// lives and the store it was built from is not cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "carousel/carousel_model.h"

namespace health {

struct BlockCopyModel {
  uint32_t moduleVersion = 0;  // the DDB's own
  bool crc_verified = false;   // its section's CRC-32 was checked and matched
  bytes::ByteView data;               // its block data
};

// Every copy of one block number that the capture kept.
struct BlockModel {
  uint32_t number = 0;  // the DDB's blockNumber
  std::vector<BlockCopyModel> copies;  // arrival order
  bool conflict = false;  // two verified copies of one moduleVersion carried different bytes
};

// One DII's entry for a module.
struct Announcement {
  uint32_t pid = 0;
  uint32_t dii_extension = 0;  // table_id_extension of the DII's section
  uint32_t blockSize = 0;
  const dsmcc::Module* entry = nullptr;
};

struct ModuleModel {
  uint32_t moduleId = 0;
  std::vector<Announcement> announced;  // DII order; empty when no DII of the download lists it
  std::optional<uint32_t> pid;          // of the blocks the model holds
  std::vector<BlockModel> blocks;       // ascending blockNumber
  uint32_t expected_by_sections = 0;    // last_section_number + 1, as the data carousel page counts
  // The image the analyzer made of the module (inflated where it was compressed) and parsed into the
  // carousel's objects; null when it made none.
  const bytes::Bytes* image = nullptr;
};

struct ControlModel {
  uint32_t pid = 0;
  uint32_t extension = 0;             // table_id_extension
  std::set<uint32_t> transactions;    // every transactionId seen, the stored one among them
};

struct DownloadModel {
  uint32_t programme = 0;
  uint32_t downloadId = 0;
  std::vector<ControlModel> diis;
  std::vector<ModuleModel> modules;  // ascending moduleId: announced, or with blocks
  const carousel::ObjectCarousel* carousel = nullptr;  // the images the analyzer made, and their objects
};

// A DSI whose ServiceGatewayInfo names an object carousel.
struct GatewayModel {
  uint32_t programme = 0;
  uint32_t carouselId = 0;
  ControlModel control;
  dsmcc::ObjectLocationRef root;          // the service gateway's object
  const DownloadModel* download = nullptr;  // the download whose downloadId is the carouselId
};

struct CaptureModel {
  std::vector<store::ProgramPid> pairs;                              // the capture list
  std::map<store::ProgramPid, size_t, store::ProgramPidLess> stored;  // messages the store holds per pair
  std::map<store::ProgramPid, std::set<std::array<uint32_t, 3>>, store::ProgramPidLess> invalid_control;
  std::map<store::ProgramPid, std::vector<ControlModel>, store::ProgramPidLess>
      dsis;                              // every DSI kept, per pair
  std::vector<DownloadModel> downloads;  // programme, then downloadId
  std::vector<GatewayModel> gateways;    // programme, then carouselId
  bool store_limit_reached = false;
};

CaptureModel read_capture_model(const carousel::CarouselModel& carousels);

// FNV-1a, 64 bits: enough to tell two images or files apart across captures.
uint64_t digest(bytes::ByteView bytes);

}  // namespace health
