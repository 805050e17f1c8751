#include "tests/support/trust_builder.h"

#include <stdexcept>
#include <string>

namespace testsupport {

ByteVec noise_bytes(size_t size, uint32_t seed) {
  ByteVec out(size);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return out;
}

ByteVec unverifiable_copy(ByteVec section, size_t at) {
  if (section.size() <= at || at < 8) throw std::invalid_argument("unverifiable_copy: byte outside the message");
  section[1] &= 0x7F;
  section[at] ^= 0xFF;
  return section;
}

std::vector<ByteVec> update_mid_capture(const OcCarousel& before, const OcCarousel& after, size_t blocks_before,
                                        size_t block_size) {
  std::vector<ByteVec> out = {before.dsi_section(), before.dii_section(block_size)};
  const std::vector<ByteVec> early = before.ddb_sections(block_size);
  if (blocks_before > early.size()) throw std::invalid_argument("update_mid_capture: not that many blocks");
  out.insert(out.end(), early.begin(), early.begin() + static_cast<std::ptrdiff_t>(blocks_before));
  for (auto& section : after.sections(block_size)) out.push_back(std::move(section));
  return out;
}

}  // namespace testsupport
