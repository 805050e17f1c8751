#include "store/carousel_store.h"

namespace {

void free_stored(StoredMessage& stored) {
  // The message views the section's bytes: it goes first.
  delete stored.message;
  delete stored.section;
  stored.message = nullptr;
  stored.section = nullptr;
}

}  // namespace

PidRecord::~PidRecord() {
  for (auto& [download, modules] : ddb)
    for (auto& [module, blocks] : modules)
      for (auto& [number, stored] : blocks) free_stored(stored);
  for (auto& [download, modules] : block_copies)
    for (auto& [module, blocks] : modules)
      for (auto& [number, block] : blocks)
        for (BlockCopy& copy : block.copies)
          if (!copy.filed_by_section) free_stored(copy.stored);
  for (auto& [extension, stored] : dsi) free_stored(stored);
  for (auto& [download, by_extension] : dii)
    for (auto& [extension, stored] : by_extension) free_stored(stored);
}
