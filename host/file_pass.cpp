#include "host/file_pass.h"

#include <cstring>
#include <vector>

namespace host {

bool run_file_pass(const FileSource& file, PacketFramer& framer, Demux& demux, const FilePassHooks& hooks,
                   std::string& error) {
  std::vector<uint8_t> buffer(FILE_BLOCK_SIZE + FRAMER_LOOKAHEAD);
  size_t held = 0;  // bytes the framer left for the next round, at the front
  uint64_t offset = 0;
  auto on_packet = [&demux](std::span<const uint8_t, TS_PACKET_SIZE> packet) { demux.feed(packet); };
  auto on_sync = [&hooks](const SyncEvent& e) {
    if (hooks.on_sync) hooks.on_sync(e);
  };
  for (;;) {
    if (hooks.keep_going && !hooks.keep_going()) return true;
    const long got = file.read_at(offset, std::span<uint8_t>(buffer).subspan(held), error);
    if (got < 0) return false;
    offset += static_cast<uint64_t>(got);
    const bool final = got == 0;
    const size_t total = held + static_cast<size_t>(got);
    const size_t used = framer.frame(std::span<const uint8_t>(buffer.data(), total), final, on_packet, on_sync);
    held = total - used;
    if (held > 0) std::memmove(buffer.data(), buffer.data() + used, held);
    if (hooks.after_block) hooks.after_block(static_cast<uint64_t>(got));
    if (final) return true;
  }
}

}  // namespace host
