// Saving what a capture rebuilt: the files of every object carousel and the module images of every
// download group, below one directory that the user chose. The "Save..." buttons of both carousel
// pages and the command line's --save call these functions.
//
// Layout below the chosen directory DIR (programme, carousel, download and module numbers in
// lower-case hexadecimal):
//
//   DIR/object/prg-0xPPPP/carousel-0xCCCCCCCC/   the service gateway's tree, walked as the object
//                                                carousel page walks it: a directory bound from two
//                                                parents is written under both, a binding back to an
//                                                ancestor is left out, the page's node limit holds.
//                                                Each file holds exactly its content bytes.
//   DIR/object/prg-0xPPPP/carousel-0xCCCCCCCC/missing.txt
//                                                the paths (relative to the carousel directory, one
//                                                per line) of the files whose objects are not
//                                                available; empty when nothing is missing.
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/module-0xMMMM.bin
//                                                the image of every complete module (inflated where
//                                                it was compressed), object carousels included.
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/modules.txt
//                                                every module of the stored DIIs with its size and its
//                                                sections received/expected, and what was saved.
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/missing.txt
//                                                the module files that could not be written because
//                                                their module is not complete.
//
// Names from the broadcast are escaped as save/file_names.h describes; "missing.txt" is claimed in
// the carousel directory before the walk, so a broadcast file of that name is saved with a suffix.
//
// Every write stays below DIR and never follows a symbolic link; an existing file is kept unless
// `force` is set. The first disk or permission error stops the save with its message in `errors`;
// files finished before it stay, and no file is ever left half-written under its final name.
//
// The store must have been rebuilt (programme index merged, module images made, inflated and parsed)
// by the carousel pages; saving only reads what that left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/carousel_store.h"
#include "carousel/object_carousel.h"

// How deep directories of a carousel are written. Real carousels are a few levels deep; a chain of
// directories deeper than this is reported and left out, which bounds the open descriptors.
inline constexpr size_t kMaxSaveDepth = 128;

struct SaveOptions {
  std::string dir;
  bool force = false;  // replace files that already exist
  size_t node_limit = kMaxTreeNodes;
};

struct SaveReport {
  std::string dir;
  uint64_t object_carousels = 0;       // carousel directories written
  uint64_t files_written = 0;          // object carousel files
  uint64_t objects_not_available = 0;  // file bindings without a file object (listed in missing.txt)
  uint64_t download_groups = 0;        // download directories written
  uint64_t modules_written = 0;        // module images
  uint64_t modules_not_complete = 0;   // announced by a DII, no image (listed in missing.txt)
  uint64_t bytes_written = 0;          // content bytes of the files and module images written
  uint64_t existing_kept = 0;          // files that already existed and were left as they were
  uint64_t names_escaped = 0;          // broadcast names written in escaped form
  uint64_t names_suffixed = 0;         // names given a "%~N" suffix because of a collision
  uint64_t directories_too_deep = 0;   // directories below kMaxSaveDepth, left out with their content
  bool tree_cut = false;               // the walk reached the node limit
  std::vector<std::string> warnings;   // what was left out, one sentence each
  std::vector<std::string> errors;     // why the save stopped (nothing after the first error is written)

  bool ok() const { return errors.empty(); }
};

// The object carousels of every programme, below DIR/object.
SaveReport save_object_carousels(CarouselStore& store, const SaveOptions& options);
// The download groups of every programme, below DIR/data.
SaveReport save_data_carousels(const CarouselStore& store, const SaveOptions& options);
// Both: object carousels first, then data carousels; an error in the first stops the second.
SaveReport save_carousels(CarouselStore& store, const SaveOptions& options);

// One paragraph for stderr (a single line ending in '\n'): what was written and where, what is not
// available, what was kept, escaped or left out, and the error that stopped the save.
std::string format_save_summary(const SaveReport& report);
