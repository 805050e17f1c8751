// One pass over a file source from its start: large reads, framing, demultiplexing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/demux.h"
#include "host/framer.h"
#include "host/source.h"

namespace host {

// Bytes asked of the file per read. Large enough that the read calls cost nothing, small enough
// that a block is still in the cache when its packets are looked at.
inline constexpr size_t FILE_BLOCK_SIZE = 512 * 1024;

struct FilePassHooks {
  // Asked before each read; false ends the pass early.
  std::function<bool()> keep_going;
  // Told after each block, with the bytes of the block.
  std::function<void(uint64_t)> after_block;
  std::function<void(const SyncEvent&)> on_sync;
};

// Feeds the file's packets to `demux` from the start. Returns false with `error` set when a read
// fails; packets before the failure have been fed.
bool run_file_pass(const FileSource& file, PacketFramer& framer, Demux& demux, const FilePassHooks& hooks,
                   std::string& error);

}  // namespace host
