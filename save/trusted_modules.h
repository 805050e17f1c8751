// What a save may write of a capture. The pages show the blocks first received, as the carousel
// rules say; a saved file is evidence, so the save takes a module's bytes only from blocks it can
// vouch for:
//   - every block comes from a section whose CRC-32 was checked (section_syntax_indicator 1); a copy
//     sent with the indicator 0 is passed over for a verified copy of the same block, and the module is
//     not saved when no such copy came;
//   - every block carries one moduleVersion, the one a stored DII announces for the module (with
//     several DIIs, the announced version whose blocks came last and complete); a module that no
//     stored DII announces is saved only when all its blocks carry one version;
//   - every block number the module needs is there (by the DII's moduleSize and blockSize, or by
//     last_section_number without a DII), no two verified copies of one block differ, and the blocks
//     add up to the DII's moduleSize.
// A module that fails is not saved; its reason goes to missing.txt.
//
// Where the model's image of a module was made of exactly the blocks the save chose, the save uses it
// (and what the model parsed from it) as it stands; only the other modules are assembled, inflated
// and parsed again, within what the capture's inflation budget has left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "carousel/object_carousel.h"

namespace save {

// The save's judgement of one module.
struct ModuleJudgement {
  std::vector<const dsmcc::DownloadDataBlock*>
      blocks;  // the copies to save, in block order; empty: not saved
  uint32_t moduleVersion = 0;
  std::string reason;  // why the module is not saved; empty when it is
  bool incomplete = false;  // the reason is that blocks are missing
  uint32_t unverified_passed = 0;  // blocks of the saved version whose first copy could not be verified
};

ModuleJudgement judge_module(const carousel::ProgrammeModel& program, int32_t downloadId, uint32_t moduleId);

// One module as the save writes it.
struct TrustedModule {
  bytes::ByteView image;      // the module's bytes (inflated where it was compressed); valid when saved
  bool saved = false;
  uint32_t moduleVersion = 0;  // of the blocks saved
  std::string reason;       // why it is not saved
  bool incomplete = false;  // because blocks are missing (rather than blocks that cannot be trusted)
};

class TrustedCarousels {
 public:
  // Judges every module of the model; `inflate_budget` is the capture's budget, of which the model's
  // images took their share.
  explicit TrustedCarousels(const carousel::CarouselModel& model,
                            size_t inflate_budget = carousel::kMaxInflatedBytes);
  TrustedCarousels(const TrustedCarousels&) = delete;
  TrustedCarousels& operator=(const TrustedCarousels&) = delete;

  // The model's programmes with object carousels that hold only what may be saved, for the walk.
  const carousel::CarouselModel& objects() const { return objects_; }

  using Modules = std::map<uint32_t, TrustedModule>;  // moduleId
  // Every module of a download group that has blocks or that a stored DII announces; null for none.
  const Modules* download(int32_t programme, int32_t downloadId) const;
  // Why the module of a binding is not saved, or null when it is (or is unknown).
  const std::string* reason_not_saved(int32_t programme, int32_t downloadId, uint32_t moduleId) const;

 private:
  carousel::CarouselModel objects_;
  std::map<int32_t, std::map<int32_t, Modules>> modules_;  // programme, downloadId
};

}  // namespace save
