// What a capture's carousels hold and what is wrong with them, as the analyzer hands it to the
// program: the findings of the health check and a description of every carousel that `dsmcc diff`
// compares with the one of another capture.
//
// Plain data on purpose: the plug-in module fills it and the program reads and frees it (see
// plugin/carousel_report.h), so it holds no pointer into the module and no view of its bytes. Image and
// file bytes are represented by their size and a 64-bit digest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace health {

enum class Severity { error, warning };

// Where a finding lies; what does not apply stays unset (a finding about the whole capture has no
// programme).
struct Place {
  std::optional<uint32_t> programme;
  std::optional<uint32_t> pid;
  std::optional<uint32_t> download;  // downloadId
  std::optional<uint32_t> carousel;  // carouselId of an object carousel
  std::optional<uint32_t> module;
  std::string path;  // of an object, from the carousel's service gateway ("/apps/index.html")
};

struct Finding {
  Severity severity = Severity::error;
  std::string code;  // stable and short, for scripts: "module-incomplete", "dangling-key", ...
  Place where;
  std::string what;
  std::string expected;  // empty when the finding states no comparison
  std::string found;
};

struct ModuleDescription {
  uint32_t moduleId = 0;
  bool announced = false;  // a DII of the download lists it
  uint32_t version = 0;    // the DII's moduleVersion, else the blocks'
  uint32_t size = 0;       // the DII's moduleSize (0 when not announced)
  uint32_t blocks_received = 0;
  uint32_t blocks_expected = 0;
  bool complete = false;  // the analyzer assembled an image
  uint64_t image_size = 0;  // the assembled image as broadcast
  uint64_t image_digest = 0;
  bool inflated = false;  // the analyzer inflated the image
  uint64_t inflated_size = 0;
};

struct ObjectDescription {
  std::string path;
  bool directory = false;
  bool available = false;  // a file whose object was found
  uint64_t size = 0;       // content_length of a file
  uint64_t digest = 0;     // of a file's content
};

// One download group of one programme: a data carousel, or the modules of an object carousel.
struct CarouselDescription {
  uint32_t programme = 0;
  std::vector<uint32_t> pids;  // that carried its messages
  uint32_t downloadId = 0;
  std::optional<uint32_t> carouselId;          // when a DSI names it as an object carousel
  std::vector<uint32_t> dsi_transactions;      // every transactionId its DSI carried, ascending
  std::vector<uint32_t> dii_transactions;      // every transactionId its DIIs carried, ascending
  std::vector<ModuleDescription> modules;      // ascending moduleId
  std::vector<ObjectDescription> objects;      // walk order from the service gateway
};

struct Summary {
  uint32_t modules_complete = 0;
  uint32_t modules_total = 0;
  uint32_t files_resolved = 0;
  uint32_t files_total = 0;
  uint32_t errors = 0;
  uint32_t warnings = 0;
};

struct CaptureReport {
  std::vector<CarouselDescription> carousels;
  std::vector<Finding> findings;
  Summary summary;
};

// The version part of a DSI's or DII's transactionId (bits 16 to 29), which the carousel raises
// whenever the message changes.
inline uint32_t transaction_version(uint32_t transactionId) { return (transactionId >> 16) & 0x3FFF; }

}  // namespace health
