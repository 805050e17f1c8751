// Modules from their download data blocks: how many blocks came, how many are expected, and the
// module's bytes once every block is there.
//
// Up to 256 blocks a module is filed, counted and assembled by the section_number of its sections.
// A module of more than 256 blocks carries its position only in the DDB's 16-bit blockNumber (the
// section_number holds its low 8 bits), so it is counted and assembled by blockNumber against the
// blocks that its DII's moduleSize needs.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "carousel/carousel_model.h"

namespace carousel {

inline constexpr uint32_t kMaxSectionNumberedBlocks = 256;

// Entries of the map; 0 for a module the store has no map for (null).
int32_t module_received_count(const store::ModuleBlockMap* blocks);
// last_section_number + 1 of the lowest section_number present; 0 for no map or no entries.
int32_t module_expected_count(const store::ModuleBlockMap* blocks);
// At least one block and as many as expected. Judged by the count alone, not by which numbers came.
bool module_complete(const store::ModuleBlockMap* blocks);
// The block data of every entry in ascending section_number order. Meant for complete modules; it
// concatenates whatever the map holds.
bytes::Bytes module_image(const store::ModuleBlockMap& blocks);

// Blocks that moduleSize bytes take at blockSize bytes a block (rounded up); 0 for a blockSize of 0.
uint32_t module_blocks_needed(uint32_t moduleSize, uint32_t blockSize);

// One DII's entry for a module, with that DII's blockSize.
struct ModuleAnnouncement {
  const dsmcc::Module* module = nullptr;
  uint32_t blockSize = 0;
};
// Every stored DII entry of the module under downloadId, DIIs in ascending table_id_extension.
std::vector<ModuleAnnouncement> module_announcements(const ProgrammeModel& program, int32_t downloadId,
                                                     uint32_t moduleId);
// The module's copies in the programme index, or null.
const store::ModuleBlockCopies* module_copies(const ProgrammeModel& program, int32_t downloadId,
                                              int32_t moduleId);

// How many blocks a module counted by blockNumber has: what the first announcing DII's moduleSize
// needs when that is more than 256; without a DII, one more than the highest blockNumber received when
// that is past 255. 0 for every other module: the section_number rule holds for it.
uint32_t module_numbered_blocks(const std::vector<ModuleAnnouncement>& announced,
                                const store::ModuleBlockCopies* copies);
// Sections received and expected of a DII's module entry, as the Data Carousel page shows them: the
// section_number map's counts, or for a module of more than 256 blocks its block numbers received out
// of those its moduleSize needs.
std::pair<int32_t, int32_t> module_section_counts(const ProgrammeModel& program, int32_t downloadId,
                                                  const dsmcc::Module& module, uint32_t blockSize);
// Block numbers below `count` of which some copy arrived.
int32_t numbered_received_count(const store::ModuleBlockCopies* copies, uint32_t count);
// The first copy of every blockNumber below `count`, in order; empty when one of them never came.
std::vector<const dsmcc::DownloadDataBlock*> first_copies(const store::ModuleBlockCopies& copies,
                                                          uint32_t count);
// The blocks of a section_number map in ascending section_number.
std::vector<const dsmcc::DownloadDataBlock*> section_blocks(const store::ModuleBlockMap& blocks);
// blockData (blockDataLength bytes at most) of every block, appended in order.
bytes::Bytes assemble_blocks(std::span<const dsmcc::DownloadDataBlock* const> blocks);

}  // namespace carousel
