// The steps of the carousel model: the programme index over a capture's PIDs, module images from
// complete modules, zlib inflation, the BIOP object messages inside each image, and name resolution
// from each carousel's service gateway down to its directories and files.
//
// Everything here runs after a capture has ended: the store is no longer written by the intake, so
// nothing takes a lock. Failures are log lines; the object concerned is left out and the work goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "carousel/carousel_model.h"

namespace carousel {

// The key as lower-case hex pairs ("0001ff"); an empty key gives "".
std::string object_key_text(bytes::ByteView objectKey);
// "carousel_id=0x%08x module_id=0x%08x key=%s".
std::string reference_text(const dsmcc::ObjectLocationRef& ref);

// Fills the index of every programme of the store from its PIDs, one model programme per programme.
void merge_programme_index(const store::CarouselStore& store, CarouselModel& model);

// One image per complete module of ddb_by_download, for every programme.
void save_modules_to_memory(CarouselModel& model);

// Inflates one image in place when its first two bytes pass the zlib header test. True when the image
// was replaced by its inflated bytes; false when it was left as it was (not zlib, or an error that was
// logged). Output beyond max_output counts as an inflate error, and sets *stopped_at_limit.
bool inflate_module_image(bytes::Bytes& image, uint32_t moduleId, size_t max_output = kMaxInflatedModuleSize,
                          bool* stopped_at_limit = nullptr);
// The first two bytes pass the zlib header test (a multiple of 31).
bool has_zlib_header(bytes::ByteView image);
// Inflates every image of every carousel that begins with a zlib header, all of them together within
// `budget` bytes (model.inflated_bytes says how many they took); a module that a limit stops stays
// compressed and is noted in its carousel's not_inflated.
void uncompress_mem_modules(CarouselModel& model, size_t budget = kMaxInflatedBytes);

// Records the directories, service gateways and files of one module image in `carousel`. The image
// must stay unchanged and in place while the carousel lives: file records view its bytes.
void parse_OC_module(bytes::ByteView image, ObjectCarousel& carousel, uint32_t carousel_key,
                     uint32_t moduleId);
// parse_OC_module for every image of every carousel of every programme.
void parse_OC_modules(CarouselModel& model);

// Receives the nodes of the object carousel tree in walk order. Each call appends one node behind its
// earlier siblings and returns a handle that later calls pass back as the parent.
class ObjectCarouselSink {
 public:
  using Node = uint64_t;

  virtual ~ObjectCarouselSink() = default;
  virtual Node root_node() = 0;
  virtual Node programme_node(Node root, uint32_t programme_number) = 0;
  virtual Node carousel_node(Node programme, uint32_t carouselId) = 0;
  virtual Node directory_node(Node parent, const std::string& id) = 0;
  // `file` is null when no file message of the binding's reference was found; otherwise its content
  // views a module image of the model.
  virtual Node file_node(Node parent, const std::string& id, const FileRecord* file) = 0;
};

// Resolves names from every carousel's service gateway and reports the nodes to `sink`: the root, one
// node per programme, then per carousel that has a gateway DSI its directories (each with its whole
// subtree) and its files. Reports at most node_limit nodes.
void build_tree(const CarouselModel& model, ObjectCarouselSink& sink, size_t node_limit = kMaxTreeNodes);

}  // namespace carousel
