#include "carousel/module_assembly.h"

#include <algorithm>

namespace carousel {

int32_t module_received_count(const store::ModuleBlockMap* blocks) {
  if (!blocks) return 0;
  return static_cast<int32_t>(blocks->size());
}

int32_t module_expected_count(const store::ModuleBlockMap* blocks) {
  if (!blocks || blocks->empty()) return 0;
  const sitables::DsmCC* section = blocks->begin()->second.section;
  if (!section) return 0;
  return static_cast<int32_t>(section->last_section_number) + 1;
}

bool module_complete(const store::ModuleBlockMap* blocks) {
  int32_t received = module_received_count(blocks);
  return received != 0 && received == module_expected_count(blocks);
}

bytes::Bytes module_image(const store::ModuleBlockMap& blocks) {
  return assemble_blocks(section_blocks(blocks));
}

uint32_t module_blocks_needed(uint32_t moduleSize, uint32_t blockSize) {
  if (blockSize == 0) return 0;
  return static_cast<uint32_t>((uint64_t{moduleSize} + blockSize - 1) / blockSize);
}

std::vector<ModuleAnnouncement> module_announcements(const ProgrammeModel& program, int32_t downloadId,
                                                     uint32_t moduleId) {
  std::vector<ModuleAnnouncement> found;
  auto diis = program.dii_by_download.find(downloadId);
  if (diis == program.dii_by_download.end()) return found;
  for (const auto& [extension, stored] : diis->second) {
    const dsmcc::CDownloadInfoIndication* dii = stored.dii();
    if (!dii) continue;
    for (const dsmcc::Module& module : dii->modules)
      if (module.moduleId == moduleId) found.push_back({&module, dii->blockSize});
  }
  return found;
}

const store::ModuleBlockCopies* module_copies(const ProgrammeModel& program, int32_t downloadId,
                                              int32_t moduleId) {
  auto download = program.copies_by_download.find(downloadId);
  if (download == program.copies_by_download.end()) return nullptr;
  auto module = download->second.find(moduleId);
  return module == download->second.end() ? nullptr : &module->second;
}

uint32_t module_numbered_blocks(const std::vector<ModuleAnnouncement>& announced,
                                const store::ModuleBlockCopies* copies) {
  if (!announced.empty()) {
    const uint32_t needed =
        module_blocks_needed(announced.front().module->moduleSize, announced.front().blockSize);
    return needed > kMaxSectionNumberedBlocks ? needed : 0;
  }
  if (!copies || copies->empty()) return 0;
  const uint32_t highest = copies->rbegin()->first;
  return highest >= kMaxSectionNumberedBlocks ? highest + 1 : 0;
}

std::pair<int32_t, int32_t> module_section_counts(const ProgrammeModel& program, int32_t downloadId,
                                                  const dsmcc::Module& module, uint32_t blockSize) {
  const auto moduleId = static_cast<int32_t>(module.moduleId);
  // Past 256 blocks the section numbers repeat: such a module counts its blocks by number.
  const uint32_t needed = module_blocks_needed(module.moduleSize, blockSize);
  if (needed > kMaxSectionNumberedBlocks)
    return {numbered_received_count(module_copies(program, downloadId, moduleId), needed),
            static_cast<int32_t>(needed)};
  const store::ModuleBlockMap* map = nullptr;
  if (auto download = program.ddb_by_download.find(downloadId); download != program.ddb_by_download.end()) {
    if (auto blocks = download->second.find(moduleId); blocks != download->second.end())
      map = &blocks->second;
  }
  return {module_received_count(map), module_expected_count(map)};
}

int32_t numbered_received_count(const store::ModuleBlockCopies* copies, uint32_t count) {
  if (!copies) return 0;
  return static_cast<int32_t>(std::distance(copies->begin(), copies->lower_bound(count)));
}

std::vector<const dsmcc::DownloadDataBlock*> first_copies(const store::ModuleBlockCopies& copies,
                                                          uint32_t count) {
  std::vector<const dsmcc::DownloadDataBlock*> blocks;
  blocks.reserve(std::min<size_t>(count, copies.size()));
  auto next = copies.begin();
  for (uint32_t number = 0; number < count; ++number, ++next) {
    if (next == copies.end() || next->first != number || next->second.copies.empty()) return {};
    blocks.push_back(next->second.copies.front().stored.ddb());
  }
  return blocks;
}

std::vector<const dsmcc::DownloadDataBlock*> section_blocks(const store::ModuleBlockMap& blocks) {
  std::vector<const dsmcc::DownloadDataBlock*> out;
  out.reserve(blocks.size());
  for (const auto& [section_number, stored] : blocks)
    if (const dsmcc::DownloadDataBlock* block = stored.ddb()) out.push_back(block);
  return out;
}

bytes::Bytes assemble_blocks(std::span<const dsmcc::DownloadDataBlock* const> blocks) {
  // blockData already ends before the CRC; the length field can only shorten it, never extend it.
  auto data_of = [](const dsmcc::DownloadDataBlock* block) {
    return block->blockData.first(std::min<size_t>(block->blockDataLength, block->blockData.size()));
  };
  size_t total = 0;
  for (const dsmcc::DownloadDataBlock* block : blocks) total += data_of(block).size();
  bytes::Bytes image;
  image.reserve(total);
  for (const dsmcc::DownloadDataBlock* block : blocks) {
    bytes::ByteView data = data_of(block);
    image.insert(image.end(), data.begin(), data.end());
  }
  return image;
}

}  // namespace carousel
