#include "carousel/object_carousel.h"
#include "log/debug_log.h"

namespace carousel {

namespace {

uint32_t u32(int32_t key) {
  return static_cast<uint32_t>(key);
}

size_t messages_of(const store::PidRecord& record) {
  size_t n = record.dsi.size();
  for (const auto& [download, by_extension] : record.dii) n += by_extension.size();
  for (const auto& [download, modules] : record.ddb)
    for (const auto& [module, blocks] : modules) n += blocks.size();
  return n;
}

void index_gateway(ProgrammeModel& program, const store::StoredMessage& stored, uint32_t pid) {
  const dsmcc::CDownloadServerInitiate* dsi = stored.dsi();
  if (!dsi || !dsi->gatewayParsed) {
    logio::g_log.log(2, "servicegatewayinfo not found in DSI");
    return;
  }
  if (dsi->gateway.profiles.empty()) {
    logio::g_log.log(2, "No biopprofilebody in servicegatewayinfo");
    return;
  }
  uint32_t carouselId = dsi->gateway.profiles.front().carouselId;
  logio::g_log.log(4, "Adding DSI downloadid=%#x dsi transactionid=%#x", carouselId,
                   dsi->header.transactionId);
  program.gateway_dsis[static_cast<int32_t>(carouselId)] = stored;
  program.gateway_pid[static_cast<int32_t>(carouselId)] = pid;
}

}  // namespace

void merge_programme_index(const store::CarouselStore& store, CarouselModel& model) {
  model.capture_pairs.assign(store.capture_pairs.begin(), store.capture_pairs.end());
  model.notes = store.notes;
  for (const auto& [programme_number, record_of_programme] : store.programs) {
    logio::g_log.log(4, "processing prg %#x", u32(programme_number));
    ProgrammeModel& program = model.programs[programme_number];
    for (const auto& [pid, record] : record_of_programme.pids) {
      logio::g_log.log(4, "processing pid %#x", u32(pid));
      if (!record) continue;
      PidSummary& summary = program.pids[pid];
      summary.messages = messages_of(*record);
      for (const auto& [extension, stored] : record->dsi) summary.dsi_extensions.push_back(extension);
      for (const auto& [downloadId, by_extension] : record->dii) {
        logio::g_log.log(4, "Adding DII downloadid=%#x", u32(downloadId));
        program.dii_by_download[downloadId] = by_extension;
        program.dii_pid[downloadId] = u32(pid);
      }
      for (const auto& [downloadId, modules] : record->ddb) {
        logio::g_log.log(4, "downloadid %#x", u32(downloadId));
        auto& merged = program.ddb_by_download[downloadId];
        for (const auto& [moduleId, blocks] : modules) {
          logio::g_log.log(4, "moduleid %#x", u32(moduleId));
          merged[moduleId] = blocks;
        }
      }
      for (const auto& [downloadId, modules] : record->block_copies) {
        auto& merged = program.copies_by_download[downloadId];
        for (const auto& [moduleId, copies] : modules) {
          merged[moduleId] = copies;
          program.copies_pid[downloadId][moduleId] = u32(pid);
        }
      }
      for (const auto& [extension, stored] : record->dsi) index_gateway(program, stored, u32(pid));
    }
  }
}

}  // namespace carousel
