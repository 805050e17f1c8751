// The carousels of the health check and capture comparison tests: one small object carousel, sent as
// specs that a test can spoil one part at a time before they become sections, and a second version
// of it for the comparison.
//
//   OcCarousel oc = testsupport::health_carousel(1);
//   CarouselSending sent = testsupport::sending(oc);
//   sent.blocks.erase(sent.blocks.begin() + 3);           // a lost block
//   capture.feed_all(0x100, sent.sections());
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "tests/support/dsmcc_builder.h"
#include "tests/support/oc_builder.h"

namespace testsupport {

// What a capture of one carousel receives, in this order: the DSIs, the DIIs, the blocks.
struct CarouselSending {
  std::vector<DsiSpec> dsis;
  std::vector<DiiSpec> diis;
  std::vector<SentBlock> blocks;

  std::vector<ByteVec> sections() const;
};

// Carousel 0x10. Version 1: the gateway and directory "apps" in module 1, apps/index.html (300 bytes)
// in module 2, logo.png (500 bytes) in module 3, sent zlib-compressed. Version 2: index.html holds
// other bytes and apps/news.txt is added in module 2.
OcCarousel health_carousel(int version = 1);

// The DSI (transactionId 0x80000000) and the DII (0x80000002, blockSize block_size) of `oc`, and every
// module image as sent cut into blocks of block_size, after `edit` has changed the images. Each DII
// entry's moduleSize is its image's size then; moduleInfo names the compression the carousel uses.
CarouselSending sending(const OcCarousel& oc, size_t block_size = 64,
                        const std::function<void(std::map<uint16_t, ByteVec>&)>& edit = {});

// Version `version` of health_carousel as sent; version 2 also raises module 2's moduleVersion to 2 and
// the DII's transactionId version to 1.
CarouselSending health_carousel_sending(int version);

}  // namespace testsupport
