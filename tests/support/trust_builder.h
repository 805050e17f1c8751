// Carousels crafted the way real ones fail, for the tests of what a save may trust: modules of any
// number of blocks, sections a receiver cannot verify, a module update caught in the middle of a
// capture, and the blow-ups (modules that inflate a long way, directories that bind each other).
//
// Typical use:
//   testsupport::OcCarousel v1(0x10), v2(0x10);
//   ...same tree, other contents...; v2.set_version(2);
//   auto sections = testsupport::update_mid_capture(v1, v2, 1, 512);
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/oc_builder.h"

namespace testsupport {

// `size` bytes that do not compress (xorshift from `seed`).
ByteVec noise_bytes(size_t size, uint32_t seed);

// The section as a receiver meets a damaged copy of it: section_syntax_indicator cleared, so that no
// CRC_32 is checked, and the byte at `at` changed, the CRC_32 left as it was.
ByteVec unverifiable_copy(ByteVec section, size_t at = 40);

// A module update caught mid-capture: `before` sends its DSI, its DII and its first `blocks_before`
// DDBs; then `after` (the same carousel, set_version to a later version) sends all its sections.
std::vector<ByteVec> update_mid_capture(const OcCarousel& before, const OcCarousel& after, size_t blocks_before,
                                        size_t block_size = 4066);

}  // namespace testsupport
