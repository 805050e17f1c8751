#include "tests/support/health_carousels.h"

namespace testsupport {

std::vector<ByteVec> CarouselSending::sections() const {
  std::vector<ByteVec> out;
  for (const DsiSpec& dsi : dsis) out.push_back(dsi_section(dsi));
  for (const DiiSpec& dii : diis) out.push_back(dii_section(dii));
  for (const SentBlock& b : blocks) out.push_back(ddb_section(b.ddb, b.section));
  return out;
}

OcCarousel health_carousel(int version) {
  OcCarousel oc(0x10);
  const OcCarousel::Object apps = oc.add_directory(oc.gateway(), "apps", 1);
  oc.add_file(apps, "index.html", pattern_bytes(300, version == 1 ? 1 : 2), 2);
  oc.add_file(oc.gateway(), "logo.png", pattern_bytes(500, 7), 3);
  if (version > 1) oc.add_file(apps, "news.txt", text_bytes("on air"), 2);
  oc.set_compressed(3);
  return oc;
}

CarouselSending sending(const OcCarousel& oc, size_t block_size,
                        const std::function<void(std::map<uint16_t, ByteVec>&)>& edit) {
  CarouselSending out{{oc.dsi()}, {oc.dii(block_size)}, {}};
  std::map<uint16_t, ByteVec> images = oc.module_images();
  if (edit) edit(images);
  for (ModuleSpec& m : out.diis[0].modules) {
    const ByteVec& image = images.at(m.moduleId);
    m.moduleSize = static_cast<uint32_t>(image.size());
    m.moduleVersion = 1;
    for (SentBlock& b : module_blocks(oc.carouselId(), m.moduleId, image, block_size, 1))
      out.blocks.push_back(std::move(b));
  }
  return out;
}

CarouselSending health_carousel_sending(int version) {
  CarouselSending out = sending(health_carousel(version));
  if (version == 1) return out;
  out.diis[0].header.transactionId = 0x80010002;
  for (ModuleSpec& m : out.diis[0].modules)
    if (m.moduleId == 2) m.moduleVersion = 2;
  for (SentBlock& b : out.blocks)
    if (b.ddb.moduleId == 2) b.ddb.moduleVersion = 2;
  return out;
}

}  // namespace testsupport
