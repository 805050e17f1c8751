#include "carousel/object_carousel.h"
#include "log/debug_log.h"

namespace {

uint32_t u32(int32_t key) {
  return static_cast<uint32_t>(key);
}

void index_gateway(ProgrammeModel& program, const StoredMessage& stored) {
  const CDownloadServerInitiate* dsi = stored.dsi();
  if (!dsi || !dsi->gatewayParsed) {
    g_log.log(2, "servicegatewayinfo not found in DSI");
    return;
  }
  if (dsi->gateway.profiles.empty()) {
    g_log.log(2, "No biopprofilebody in servicegatewayinfo");
    return;
  }
  uint32_t carouselId = dsi->gateway.profiles.front().carouselId;
  g_log.log(4, "Adding DSI downloadid=%#x dsi transactionid=%#x", carouselId, dsi->header.transactionId);
  program.gateway_dsis[static_cast<int32_t>(carouselId)] = stored;
}

}  // namespace

void merge_programme_index(const CarouselStore& store, CarouselModel& model) {
  for (const auto& [programme_number, record_of_programme] : store.programs) {
    g_log.log(4, "processing prg %#x", u32(programme_number));
    ProgrammeModel& program = model.programs[programme_number];
    for (const auto& [pid, record] : record_of_programme.pids) {
      g_log.log(4, "processing pid %#x", u32(pid));
      if (!record) continue;
      for (const auto& [downloadId, by_extension] : record->dii) {
        g_log.log(4, "Adding DII downloadid=%#x", u32(downloadId));
        program.dii_by_download[downloadId] = by_extension;
      }
      for (const auto& [downloadId, modules] : record->ddb) {
        g_log.log(4, "downloadid %#x", u32(downloadId));
        auto& merged = program.ddb_by_download[downloadId];
        for (const auto& [moduleId, blocks] : modules) {
          g_log.log(4, "moduleid %#x", u32(moduleId));
          merged[moduleId] = blocks;
        }
      }
      for (const auto& [downloadId, modules] : record->block_copies) {
        auto& merged = program.copies_by_download[downloadId];
        for (const auto& [moduleId, copies] : modules) merged[moduleId] = copies;
      }
      for (const auto& [extension, stored] : record->dsi) index_gateway(program, stored);
    }
  }
}
