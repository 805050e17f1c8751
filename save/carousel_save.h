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
//                                                ancestor is left out, the model's node limit holds.
//                                                Each file holds exactly its content bytes; a file
//                                                object reached over a second path is a hard link to
//                                                the first, so its bytes are written once.
//   DIR/object/prg-0xPPPP/carousel-0xCCCCCCCC/missing.txt
//                                                one line per path (relative to the carousel
//                                                directory) that was not written, a tab, and why: an
//                                                object not available, a symbolic link standing there,
//                                                the save's budget; then one line per module of the
//                                                carousel that is not saved, with its reason.
//   DIR/object/prg-0xPPPP/carousel-0xCCCCCCCC/renamed.txt
//                                                written when some name was changed: the saved path, a
//                                                tab, and the binding id as sent (listed_binding_id).
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/module-0xMMMM.bin
//                                                the image of every module the save can vouch for
//                                                (save/trusted_modules.h), inflated where it was
//                                                compressed, object carousels included.
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/modules.txt
//                                                every module of the stored DIIs with its size and its
//                                                sections received/expected, and what was saved.
//   DIR/data/prg-0xPPPP/download-0xDDDDDDDD/missing.txt
//                                                one line per module file not written, a tab, and why.
//
// Names from the broadcast are escaped as save/file_names.h describes; "missing.txt" and "renamed.txt"
// are claimed in the carousel directory before the walk, so a broadcast file of either name is saved
// with a suffix.
//
// Every write stays below DIR and never follows a symbolic link. A symbolic link (or any entry of
// another kind) standing where a directory or file goes is left as it is and only that path (with
// what lies below it) is not written. An existing file is kept unless `force` is set. A disk or
// permission error stops the save with its message in `errors`; files finished before it stay, and no
// file is ever left half-written under its final name.
//
// A save writes at most max_files entries (directories, files and links) and max_bytes content bytes;
// what the walk reaches after that is left out, logged once and listed in missing.txt.
//
// Saving reads the capture's model (carousel/carousel_model.h) and never changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "carousel/object_carousel.h"

namespace save {

// How deep directories of a carousel are written. Real carousels are a few levels deep; a chain of
// directories deeper than this is reported and left out, which bounds the open descriptors.
inline constexpr size_t kMaxSaveDepth = 128;
// What one save writes at most. Directories that bind each other can make a few kilobytes of carousel
// name millions of paths; real carousels stay far below these.
inline constexpr uint64_t kMaxSaveFiles = 100000;
inline constexpr uint64_t kMaxSaveBytes = uint64_t{4} << 30;

struct SaveOptions {
  std::string dir;
  bool force = false;  // replace files that already exist
  size_t node_limit = carousel::kMaxTreeNodes;
  uint64_t max_files = kMaxSaveFiles;
  uint64_t max_bytes = kMaxSaveBytes;
  size_t inflate_budget = carousel::kMaxInflatedBytes;  // the capture's, of which the model took its share
};

struct SaveReport {
  std::string dir;
  uint64_t object_carousels = 0;       // carousel directories written
  uint64_t files_written = 0;          // object carousel files
  uint64_t objects_not_available = 0;  // file bindings without a file object (listed in missing.txt)
  uint64_t download_groups = 0;        // download directories written
  uint64_t modules_written = 0;        // module images
  uint64_t modules_not_complete = 0;   // blocks missing (listed in missing.txt)
  uint64_t modules_refused = 0;        // complete, but not one whole the save can vouch for (listed)
  uint64_t files_linked = 0;           // paths of a file object written before, made hard links
  uint64_t paths_refused = 0;          // a symbolic link or other entry stood there (listed)
  bool budget_reached = false;         // max_files or max_bytes stopped the save (listed)
  uint64_t bytes_written = 0;          // content bytes of the files and module images written
  uint64_t existing_kept = 0;          // files that already existed and were left as they were
  uint64_t names_escaped = 0;          // broadcast names written in escaped form (in renamed.txt)
  uint64_t names_suffixed = 0;         // names given a "%~N" suffix because of a collision (in renamed.txt)
  uint64_t directories_too_deep = 0;   // directories below kMaxSaveDepth, left out with their content
  bool tree_cut = false;               // the walk reached the node limit
  std::vector<std::string> warnings;   // what was left out, one sentence each
  std::vector<std::string> errors;     // why the save stopped (nothing after the first error is written)

  bool ok() const { return errors.empty(); }
};

// The object carousels of every programme, below DIR/object.
SaveReport save_object_carousels(const carousel::CarouselModel& model, const SaveOptions& options);
// The download groups of every programme, below DIR/data.
SaveReport save_data_carousels(const carousel::CarouselModel& model, const SaveOptions& options);
// Both: object carousels first, then data carousels; an error in the first stops the second.
SaveReport save_carousels(const carousel::CarouselModel& model, const SaveOptions& options);

// One paragraph for stderr (a single line ending in '\n'): what was written and where, what is not
// available, what was kept, escaped or left out, and the error that stopped the save.
std::string format_save_summary(const SaveReport& report);

}  // namespace save
