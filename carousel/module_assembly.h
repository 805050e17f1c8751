// Modules from their download data blocks: how many blocks came, how many are expected, and the
// module's bytes once every block is there.
#pragma once

#include <cstdint>

#include "capture/carousel_store.h"

// Entries of the map; 0 for a module the store has no map for (null).
int32_t module_received_count(const ModuleBlockMap* blocks);
// last_section_number + 1 of the lowest section_number present; 0 for no map or no entries.
int32_t module_expected_count(const ModuleBlockMap* blocks);
// At least one block and as many as expected. Judged by the count alone, not by which numbers came.
bool module_complete(const ModuleBlockMap* blocks);
// The block data of every entry in ascending section_number order. Meant for complete modules; it
// concatenates whatever the map holds.
Bytes module_image(const ModuleBlockMap& blocks);
