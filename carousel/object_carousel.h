// Object carousel reconstruction: the programme index over a capture's PIDs, module images from
// complete modules, zlib inflation, the BIOP object messages inside each image, and name resolution
// from each carousel's service gateway down to its directories and files.
//
// Everything here runs on the analysis window's thread after a capture has ended: the store is no
// longer written by the intake, so nothing takes a lock. Failures are log lines; the object concerned
// is left out and the work goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/carousel_store.h"

// A module may claim any size once inflated; past this the image is left compressed.
inline constexpr size_t kMaxInflatedModuleSize = size_t{256} << 20;
// All inflated images of one capture together, whatever the number of modules: memory stays bounded
// by this. The save rebuilds modules that it cannot take from the pages within what is left of it.
inline constexpr size_t kMaxInflatedBytes = size_t{1} << 30;
// Directories that bind each other can make the name walk exponential; a page stops growing here.
inline constexpr size_t kMaxTreeNodes = 1000000;

// The key as lower-case hex pairs ("0001ff"); an empty key gives "".
std::string object_key_text(ByteView objectKey);
// "carousel_id=0x%08x module_id=0x%08x key=%s".
std::string reference_text(const ObjectLocationRef& ref);

// Fills dii_by_download, gateway_dsis and ddb_by_download of every programme from its PIDs. A later
// PID's entries replace an earlier PID's under the same key; nothing is united.
void merge_programme_index(CarouselStore& store);

// Rebuilds object_carousels of every programme: one image per complete module of ddb_by_download.
void save_modules_to_memory(CarouselStore& store);

// Inflates one image in place when its first two bytes pass the zlib header test. True when the image
// was replaced by its inflated bytes; false when it was left as it was (not zlib, or an error that was
// logged). Output beyond max_output counts as an inflate error, and sets *stopped_at_limit.
bool inflate_module_image(Bytes& image, uint32_t moduleId, size_t max_output = kMaxInflatedModuleSize,
                          bool* stopped_at_limit = nullptr);
// The first two bytes pass the zlib header test (a multiple of 31).
bool has_zlib_header(ByteView image);
// Inflates every image of every carousel of every programme that begins with a zlib header, all of
// them together within `budget` bytes (store.inflated_bytes says how many they took); a module that a
// limit stops stays compressed and is noted in its carousel's not_inflated.
void uncompress_mem_modules(CarouselStore& store, size_t budget = kMaxInflatedBytes);

// Records the directories, service gateways and files of one module image in `carousel`. The image
// must stay unchanged and in place while the carousel lives: file records view its bytes.
void parse_OC_module(ByteView image, ObjectCarousel& carousel, uint32_t carousel_key, uint32_t moduleId);
// parse_OC_module for every image of every carousel of every programme.
void parse_OC_modules(CarouselStore& store);

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
  // views a module image of the store.
  virtual Node file_node(Node parent, const std::string& id, const FileRecord* file) = 0;
};

// Resolves names from every carousel's service gateway and reports the nodes to `sink`: the root, one
// node per programme, then per carousel that has a gateway DSI its directories (each with its whole
// subtree) and its files. Reports at most node_limit nodes.
void build_tree(CarouselStore& store, ObjectCarouselSink& sink, size_t node_limit = kMaxTreeNodes);

// The four steps of the object carousel page's rebuild, in order: images, inflation, parsing, names.
void rebuild_object_carousels(CarouselStore& store, ObjectCarouselSink& sink,
                              size_t node_limit = kMaxTreeNodes);
