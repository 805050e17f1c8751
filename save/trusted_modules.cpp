#include "text/printed.h"
#include "save/trusted_modules.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <set>
#include <utility>

#include "carousel/module_assembly.h"
#include "log/debug_log.h"

namespace save {

namespace {

// A version the module may be saved as, and how many blocks (and bytes, when a DII says) it needs.
struct Candidate {
  uint32_t version = 0;
  uint32_t blocks = 0;
  std::optional<uint32_t> size;
};

// One candidate tried against the copies.
struct Attempt {
  ModuleJudgement judgement;
  uint32_t verified = 0;         // block numbers with a verified copy of the version
  uint32_t unverified_only = 0;  // block numbers whose copies of the version all lack a checked CRC
  uint32_t other_version = 0;    // block numbers that came only as another version
  std::optional<uint32_t> conflicting;  // a block whose verified copies differ
  uint64_t last_arrival = 0;
};

Attempt attempt(const store::ModuleBlockCopies* copies, const Candidate& c) {
  Attempt a;
  a.judgement.moduleVersion = c.version;
  std::vector<const dsmcc::DownloadDataBlock*> blocks;
  for (uint32_t number = 0; number < c.blocks; ++number) {
    const store::BlockCopies* block = nullptr;
    if (copies) {
      auto found = copies->find(number);
      if (found != copies->end()) block = &found->second;
    }
    if (!block) continue;
    const store::BlockCopy* verified = block->verified(c.version);
    if (!verified) {
      const bool unverified = std::ranges::any_of(block->copies, [&](const store::BlockCopy& copy) {
        return copy.moduleVersion == c.version;
      });
      ++(unverified ? a.unverified_only : a.other_version);
      continue;
    }
    if (block->conflict && !a.conflicting) a.conflicting = number;
    ++a.verified;
    if (verified != &*std::ranges::find_if(block->copies, [&](const store::BlockCopy& copy) {
          return copy.moduleVersion == c.version;
        }))
      ++a.judgement.unverified_passed;
    a.last_arrival = std::max(a.last_arrival, verified->arrival);
    blocks.push_back(verified->stored.ddb());
  }

  std::string& reason = a.judgement.reason;
  if (a.verified < c.blocks) {
    a.judgement.incomplete = true;
    reason = text::printed("not complete: %u of %u blocks of moduleVersion %u received", a.verified, c.blocks,
                           c.version);
    if (a.unverified_only != 0)
      reason += text::printed(
          "; %u more came only in sections whose CRC cannot be checked (section_syntax_indicator 0)",
          a.unverified_only);
    if (a.other_version != 0)
      reason += text::printed("; %u more came only as another moduleVersion, which is never mixed in",
                              a.other_version);
    return a;
  }
  if (a.conflicting) {
    reason =
        text::printed("block %u of moduleVersion %u came twice with different bytes, both with a valid CRC",
                      *a.conflicting, c.version);
    return a;
  }
  size_t total = 0;
  for (const dsmcc::DownloadDataBlock* block : blocks)
    total += std::min<size_t>(block->blockDataLength, block->blockData.size());
  if (c.size && total != *c.size) {
    reason =
        text::printed("its blocks hold %zu bytes where the DII announces a moduleSize of %u", total, *c.size);
    return a;
  }
  a.judgement.blocks = std::move(blocks);
  return a;
}

// The versions a module without a stored DII could be saved as: the one version all its copies carry.
std::optional<Candidate> unannounced_candidate(const store::ModuleBlockCopies* copies, std::string& reason,
                                               bool& incomplete) {
  std::set<uint32_t> versions;
  if (copies)
    for (const auto& [number, block] : *copies)
      for (const store::BlockCopy& copy : block.copies) versions.insert(copy.moduleVersion);
  if (versions.empty()) {
    reason = "not complete: no block came";
    incomplete = true;
    return std::nullopt;
  }
  if (versions.size() > 1) {
    reason =
        text::printed("its blocks carry moduleVersion %u and %u, and no stored DII says which is current",
                      *versions.begin(), *versions.rbegin());
    return std::nullopt;
  }
  const uint32_t highest = copies->rbegin()->first;
  if (highest >= carousel::kMaxSectionNumberedBlocks) {
    reason = "it has more than 256 blocks and no stored DII gives its size";
    return std::nullopt;
  }
  const store::BlockCopy& first = copies->begin()->second.copies.front();
  const uint32_t count = first.stored.section->last_section_number + 1;
  if (highest >= count) {
    reason = text::printed("block %u lies past last_section_number %u", highest, count - 1);
    return std::nullopt;
  }
  return Candidate{*versions.begin(), count, std::nullopt};
}

// How many blocks the module needs as one DII announces it. Up to 256 blocks that is what the
// verified sections of its version say (last_section_number + 1), as the pages count it, the blocks adding up
// to moduleSize being checked apart; past 256 only the DII's moduleSize and blockSize can say it.
uint32_t blocks_of(const carousel::ModuleAnnouncement& a, const store::ModuleBlockCopies* copies) {
  const uint32_t needed = carousel::module_blocks_needed(a.module->moduleSize, a.blockSize);
  if (needed > carousel::kMaxSectionNumberedBlocks) return needed;
  if (copies)
    for (const auto& [number, block] : *copies)
      if (const store::BlockCopy* copy = block.verified(a.module->moduleVersion))
        return copy->stored.section->last_section_number + 1;
  // An empty module still travels as one empty block.
  return std::max(1u, needed);
}

}  // namespace

ModuleJudgement judge_module(const carousel::ProgrammeModel& program, int32_t downloadId, uint32_t moduleId) {
  const store::ModuleBlockCopies* copies =
      carousel::module_copies(program, downloadId, static_cast<int32_t>(moduleId));
  std::vector<Candidate> candidates;
  ModuleJudgement refused;
  const std::vector<carousel::ModuleAnnouncement> announced =
      carousel::module_announcements(program, downloadId, moduleId);
  for (const carousel::ModuleAnnouncement& a : announced) {
    Candidate c{a.module->moduleVersion, blocks_of(a, copies), a.module->moduleSize};
    const bool seen = std::ranges::any_of(candidates, [&](const Candidate& other) {
      return other.version == c.version && other.blocks == c.blocks && other.size == c.size;
    });
    if (!seen) candidates.push_back(c);
  }
  if (announced.empty()) {
    std::optional<Candidate> c = unannounced_candidate(copies, refused.reason, refused.incomplete);
    if (!c) return refused;
    candidates.push_back(*c);
  }

  // Of the versions that can be saved, the one whose blocks came last is what the carousel carries
  // now; of those that cannot, the one with most verified blocks says best what is missing.
  std::optional<Attempt> best, closest;
  for (const Candidate& c : candidates) {
    Attempt a = attempt(copies, c);
    if (a.judgement.reason.empty()) {
      if (!best || a.last_arrival > best->last_arrival) best = std::move(a);
    } else if (!closest || a.verified >= closest->verified) {
      closest = std::move(a);
    }
  }
  ModuleJudgement judgement = best ? std::move(best->judgement) : std::move(closest->judgement);
  if (judgement.unverified_passed != 0) {
    logio::g_log.log(
        2,
        "save: module %#x of downloadId %#x: %u blocks first came in sections whose CRC cannot be "
        "checked (section_syntax_indicator 0); they are left out for verified copies",
        moduleId, static_cast<uint32_t>(downloadId), judgement.unverified_passed);
  }
  if (!best && closest->unverified_only != 0) {
    logio::g_log.log(
        2,
        "save: module %#x of downloadId %#x: %u blocks came only in sections whose CRC cannot be "
        "checked (section_syntax_indicator 0); the module is not saved",
        moduleId, static_cast<uint32_t>(downloadId), closest->unverified_only);
  }
  return judgement;
}

namespace {

// The blocks the model made its image of, or none when it made no image.
std::vector<const dsmcc::DownloadDataBlock*> page_blocks(const carousel::ProgrammeModel& program,
                                                         int32_t downloadId, uint32_t moduleId) {
  const store::ModuleBlockCopies* copies =
      carousel::module_copies(program, downloadId, static_cast<int32_t>(moduleId));
  const uint32_t numbered =
      carousel::module_numbered_blocks(carousel::module_announcements(program, downloadId, moduleId), copies);
  if (numbered != 0) return carousel::first_copies(*copies, numbered);
  auto download = program.ddb_by_download.find(downloadId);
  if (download == program.ddb_by_download.end()) return {};
  auto blocks = download->second.find(static_cast<int32_t>(moduleId));
  if (blocks == download->second.end()) return {};
  return carousel::section_blocks(blocks->second);
}

// Copies the model's records of one module into the save's carousel.
void take_records(const carousel::ObjectCarousel& from, carousel::ObjectCarousel& to, uint32_t moduleId) {
  for (const auto& [ref, record] : from.files)
    if (ref.moduleId == moduleId) to.files.insert_or_assign(ref, record);
  for (const auto& [ref, record] : from.directories)
    if (ref.moduleId == moduleId) to.directories.insert_or_assign(ref, record);
}

}  // namespace

TrustedCarousels::TrustedCarousels(const carousel::CarouselModel& model, size_t inflate_budget) {
  size_t inflated = std::min(model.inflated_bytes, inflate_budget);
  for (const auto& [programme_number, program] : model.programs) {
    carousel::ProgrammeModel& shadow = objects_.programs[programme_number];
    shadow.dii_by_download = program.dii_by_download;
    shadow.gateway_dsis = program.gateway_dsis;

    std::map<int32_t, std::set<uint32_t>> modules;  // downloadId -> moduleIds with blocks or a DII entry
    for (const auto& [downloadId, by_module] : program.copies_by_download)
      for (const auto& [moduleId, copies] : by_module)
        modules[downloadId].insert(static_cast<uint32_t>(moduleId));
    for (const auto& [downloadId, diis] : program.dii_by_download)
      for (const auto& [extension, stored] : diis)
        if (const dsmcc::CDownloadInfoIndication* dii = stored.dii())
          for (const dsmcc::Module& module : dii->modules) modules[downloadId].insert(module.moduleId);

    for (const auto& [downloadId, moduleIds] : modules) {
      auto page = program.object_carousels.find(downloadId);
      const carousel::ObjectCarousel* page_carousel =
          page == program.object_carousels.end() ? nullptr : &page->second;
      Modules& verdicts = modules_[programme_number][downloadId];
      for (uint32_t moduleId : moduleIds) {
        TrustedModule& verdict = verdicts[moduleId];
        ModuleJudgement judgement = judge_module(program, downloadId, moduleId);
        if (judgement.blocks.empty()) {
          verdict.reason = std::move(judgement.reason);
          verdict.incomplete = judgement.incomplete;
          continue;
        }
        verdict.moduleVersion = judgement.moduleVersion;
        const bytes::Bytes* page_image = nullptr;
        if (page_carousel) {
          auto image = page_carousel->modules.find(moduleId);
          if (image != page_carousel->modules.end()) page_image = &image->second;
        }
        carousel::ObjectCarousel& carousel = shadow.object_carousels[downloadId];
        if (page_image && page_blocks(program, downloadId, moduleId) == judgement.blocks) {
          if (auto limit = page_carousel->not_inflated.find(moduleId);
              limit != page_carousel->not_inflated.end()) {
            verdict.reason = text::printed("left compressed: inflating it would pass the limit of %zu MiB",
                                           limit->second >> 20);
            continue;
          }
          take_records(*page_carousel, carousel, moduleId);
          verdict.image = *page_image;
          verdict.saved = true;
          continue;
        }
        // The model's image holds other blocks: this one is assembled from the chosen copies.
        bytes::Bytes image = carousel::assemble_blocks(judgement.blocks);
        const size_t left = inflate_budget - inflated;
        bool stopped = false;
        if (carousel::inflate_module_image(image, moduleId, std::min(left, carousel::kMaxInflatedModuleSize),
                                           &stopped)) {
          inflated += image.size();
        } else if (stopped) {
          verdict.reason = text::printed(
              "left compressed: inflating it would pass the limit of %zu MiB",
              (left < carousel::kMaxInflatedModuleSize ? inflate_budget : carousel::kMaxInflatedModuleSize) >>
                  20);
          continue;
        }
        bytes::Bytes& owned = carousel.modules[moduleId] = std::move(image);
        carousel::parse_OC_module(owned, carousel, static_cast<uint32_t>(downloadId), moduleId);
        verdict.image = owned;
        verdict.saved = true;
      }
      // A carousel the pages show keeps its place in the walk, also when nothing of it can be saved.
      if (page_carousel) shadow.object_carousels[downloadId];
    }
  }
}

const TrustedCarousels::Modules* TrustedCarousels::download(int32_t programme, int32_t downloadId) const {
  auto p = modules_.find(programme);
  if (p == modules_.end()) return nullptr;
  auto d = p->second.find(downloadId);
  return d == p->second.end() ? nullptr : &d->second;
}

const std::string* TrustedCarousels::reason_not_saved(int32_t programme, int32_t downloadId,
                                                      uint32_t moduleId) const {
  const Modules* modules = download(programme, downloadId);
  if (!modules) return nullptr;
  auto m = modules->find(moduleId);
  if (m == modules->end() || m->second.saved) return nullptr;
  return &m->second.reason;
}

}  // namespace save
