// What a capture's carousels are once it has ended: the programme index over its PIDs, one image per
// complete module (inflated where it was compressed), the objects parsed from them, and the trees the
// two carousel pages show. rebuild_carousels builds it once from the store; the pages, the save and
// the health check only read it.
//
// Messages are borrowed from the store: a model is valid while the store it was built from is not
// cleared. File records view the model's own module images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "carousel/page_tree.h"
#include "store/carousel_store.h"

namespace carousel {

// A module may claim any size once inflated; past this the image is left compressed.
inline constexpr size_t kMaxInflatedModuleSize = size_t{256} << 20;
// All inflated images of one capture together, whatever the number of modules: memory stays bounded
// by this. The save rebuilds modules that it cannot take from the model within what is left of it.
inline constexpr size_t kMaxInflatedBytes = size_t{1} << 30;

// One file message: its content is a view into the module image that holds it.
struct FileRecord {
  uint32_t content_length = 0;
  bytes::ByteView content;
};

struct Binding {
  dsmcc::ObjectLocationRef ref;
  std::string id;
  std::string kind;
};

struct DirectoryRecord {
  std::vector<Binding> directories;
  std::vector<Binding> files;
};

struct ObjectCarousel {
  std::map<dsmcc::ObjectLocationRef, FileRecord> files;
  std::map<uint32_t, bytes::Bytes> modules;  // moduleId -> image (owned; FileRecords view into it)
  // moduleId -> the limit in bytes that kept its image compressed (the module's or the capture's).
  std::map<uint32_t, size_t> not_inflated;
  std::map<dsmcc::ObjectLocationRef, DirectoryRecord> directories;
};

// What one PID's record holds, for readers that ask which PID carried what.
struct PidSummary {
  size_t messages = 0;                  // DSIs, DIIs and DDBs kept
  std::vector<int32_t> dsi_extensions;  // table_id_extension of every DSI kept, ascending
};

// One programme's index over all its PIDs. A later PID's entries replace an earlier PID's under the
// same key; nothing is united.
struct ProgrammeModel {
  std::map<int32_t, std::map<int32_t, store::StoredMessage>>
      dii_by_download;  // downloadId, table_id_extension
  std::map<int32_t, store::StoredMessage> gateway_dsis;                        // carouselId
  store::DownloadBlockMap ddb_by_download;
  // Merged like ddb_by_download: a module's copies come from the same PID as its ModuleBlockMap.
  store::DownloadBlockCopies copies_by_download;
  std::map<int32_t, ObjectCarousel> object_carousels;  // downloadId
  // The PID whose entry each index above holds.
  std::map<int32_t, uint32_t> dii_pid;                         // downloadId
  std::map<int32_t, uint32_t> gateway_pid;                     // carouselId
  std::map<int32_t, std::map<int32_t, uint32_t>> copies_pid;  // downloadId, moduleId
  std::map<int32_t, PidSummary> pids;                          // every PID with a record
};

struct CarouselModel {
  CarouselModel() = default;
  // File records view the images: a copy would view the original's.
  CarouselModel(const CarouselModel&) = delete;
  CarouselModel& operator=(const CarouselModel&) = delete;
  CarouselModel(CarouselModel&&) = default;
  CarouselModel& operator=(CarouselModel&&) = default;

  std::map<int32_t, ProgrammeModel> programs;
  std::vector<store::ProgramPid> capture_pairs;  // the capture list, in the store's order
  store::IntakeNotes notes;                      // what the intake saw beyond the copies it kept
  // Bytes the module images took when inflated, counted against the capture's budget.
  size_t inflated_bytes = 0;
  PageTree data_tree;    // "Data Carousels": programmes, download groups, modules with their counts
  PageTree object_tree;  // "Object Carousels": programmes, carousels, directories and files
};

struct CarouselLimits {
  size_t node_limit = kMaxTreeNodes;  // of each page's tree
  size_t inflate_budget = kMaxInflatedBytes;
};

// Everything above, in the order the log tells it: the index, the data carousel tree, the module
// images, their inflation and parsing, then the name walk into the object carousel tree.
CarouselModel rebuild_carousels(const store::CarouselStore& store, const CarouselLimits& limits = {});

}  // namespace carousel
