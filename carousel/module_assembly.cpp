#include "carousel/module_assembly.h"

#include <algorithm>

int32_t module_received_count(const ModuleBlockMap* blocks) {
  if (!blocks) return 0;
  return static_cast<int32_t>(blocks->size());
}

int32_t module_expected_count(const ModuleBlockMap* blocks) {
  if (!blocks || blocks->empty()) return 0;
  const sitables::DsmCC* section = blocks->begin()->second.section;
  if (!section) return 0;
  return static_cast<int32_t>(section->last_section_number) + 1;
}

bool module_complete(const ModuleBlockMap* blocks) {
  int32_t received = module_received_count(blocks);
  return received != 0 && received == module_expected_count(blocks);
}

Bytes module_image(const ModuleBlockMap& blocks) {
  size_t total = 0;
  for (const auto& [section_number, stored] : blocks) {
    if (const DownloadDataBlock* block = stored.ddb()) total += block->blockData.size();
  }
  Bytes image;
  image.reserve(total);
  for (const auto& [section_number, stored] : blocks) {
    const DownloadDataBlock* block = stored.ddb();
    if (!block) continue;
    // blockData already ends before the CRC; the length field can only shorten it, never extend it.
    size_t n = std::min<size_t>(block->blockDataLength, block->blockData.size());
    ByteView data = block->blockData.first(n);
    image.insert(image.end(), data.begin(), data.end());
  }
  return image;
}
