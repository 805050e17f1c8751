#include "health/carousel_model.h"

#include <algorithm>

#include "carousel/module_assembly.h"

namespace health {

namespace {

uint32_t u32(int32_t key) { return static_cast<uint32_t>(key); }

template <typename Key, typename Value>
std::optional<Value> find_in(const std::map<Key, Value>& map, const Key& key) {
  auto found = map.find(key);
  if (found == map.end()) return std::nullopt;
  return found->second;
}

void read_module(ModuleModel& module, const store::ModuleBlockMap* sections,
                 const store::ModuleBlockCopies& copies, const carousel::ObjectCarousel* carousel) {
  for (const auto& [number, block] : copies) {
    BlockModel model{number, {}, block.conflict};
    for (const store::BlockCopy& copy : block.copies) {
      const dsmcc::DownloadDataBlock* ddb = copy.stored.ddb();
      if (!ddb) continue;
      const size_t n = std::min<size_t>(ddb->blockDataLength, ddb->blockData.size());
      model.copies.push_back({copy.moduleVersion, copy.crc_verified, ddb->blockData.first(n)});
    }
    if (!model.copies.empty()) module.blocks.push_back(std::move(model));
  }
  module.expected_by_sections = u32(carousel::module_expected_count(sections));
  if (!carousel) return;
  auto image = carousel->modules.find(module.moduleId);
  if (image != carousel->modules.end()) module.image = &image->second;
}

DownloadModel read_download(const store::IntakeNotes& notes, int32_t programme,
                            const carousel::ProgrammeModel& program, int32_t downloadId) {
  DownloadModel download;
  download.programme = u32(programme);
  download.downloadId = u32(downloadId);
  auto carousel = program.object_carousels.find(downloadId);
  if (carousel != program.object_carousels.end()) download.carousel = &carousel->second;

  std::map<uint32_t, ModuleModel> modules;
  auto diis = program.dii_by_download.find(downloadId);
  if (diis != program.dii_by_download.end()) {
    const uint32_t pid = find_in(program.dii_pid, downloadId).value_or(0);
    for (const auto& [extension, stored] : diis->second) {
      ControlModel control{pid, u32(extension), {}};
      auto seen = notes.dii_transactions.find({programme, pid, downloadId, extension});
      if (seen != notes.dii_transactions.end()) control.transactions = seen->second;
      download.diis.push_back(std::move(control));
      const dsmcc::CDownloadInfoIndication* dii = stored.dii();
      if (!dii) continue;
      for (const dsmcc::Module& entry : dii->modules)
        modules[entry.moduleId].announced.push_back({pid, u32(extension), dii->blockSize, &entry});
    }
  }
  auto copies = program.copies_by_download.find(downloadId);
  auto sections = program.ddb_by_download.find(downloadId);
  if (copies != program.copies_by_download.end()) {
    for (const auto& [moduleId, blocks] : copies->second) {
      ModuleModel& module = modules[u32(moduleId)];
      auto pids = program.copies_pid.find(downloadId);
      if (pids != program.copies_pid.end()) module.pid = find_in(pids->second, moduleId);
      module.moduleId = u32(moduleId);
      const store::ModuleBlockMap* map = nullptr;
      if (sections != program.ddb_by_download.end()) {
        auto m = sections->second.find(moduleId);
        if (m != sections->second.end()) map = &m->second;
      }
      read_module(module, map, blocks, download.carousel);
    }
  }
  for (auto& [moduleId, module] : modules) {
    module.moduleId = moduleId;
    download.modules.push_back(std::move(module));
  }
  return download;
}

}  // namespace

uint64_t digest(bytes::ByteView bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  return hash;
}

CaptureModel read_capture_model(const carousel::CarouselModel& carousels) {
  const store::IntakeNotes& notes = carousels.notes;
  CaptureModel model;
  model.pairs = carousels.capture_pairs;
  model.store_limit_reached = notes.store_limit_reached;
  for (const auto& [key, seen] : notes.invalid_control)
    model.invalid_control[{u32(key.first), key.second}] = seen;

  for (const auto& [programme, program] : carousels.programs) {
    std::set<int32_t> downloads;
    for (const auto& [downloadId, diis] : program.dii_by_download) downloads.insert(downloadId);
    for (const auto& [downloadId, modules] : program.copies_by_download) downloads.insert(downloadId);
    for (int32_t downloadId : downloads)
      model.downloads.push_back(read_download(notes, programme, program, downloadId));

    for (const auto& [pid, summary] : program.pids) {
      const store::ProgramPid pair{u32(programme), u32(pid)};
      model.stored[pair] = summary.messages;
      for (int32_t extension : summary.dsi_extensions) {
        ControlModel control{u32(pid), u32(extension), {}};
        auto seen = notes.dsi_transactions.find({programme, u32(pid), extension});
        if (seen != notes.dsi_transactions.end()) control.transactions = seen->second;
        model.dsis[pair].push_back(std::move(control));
      }
    }
  }

  for (const auto& [programme, program] : carousels.programs) {
    for (const auto& [carouselId, stored] : program.gateway_dsis) {
      const dsmcc::CDownloadServerInitiate* dsi = stored.dsi();
      if (!dsi || dsi->gateway.profiles.empty() || !stored.section) continue;
      GatewayModel gateway;
      gateway.programme = u32(programme);
      gateway.carouselId = u32(carouselId);
      const int32_t extension = static_cast<int32_t>(stored.section->get_table_extension());
      gateway.control.extension = u32(extension);
      gateway.control.pid = find_in(program.gateway_pid, carouselId).value_or(0);
      auto kept = model.dsis.find({u32(programme), gateway.control.pid});
      if (kept != model.dsis.end())
        for (const ControlModel& control : kept->second)
          if (control.extension == gateway.control.extension)
            gateway.control.transactions = control.transactions;
      const dsmcc::BiopProfileBody& profile = dsi->gateway.profiles.front();
      gateway.root = {profile.carouselId, profile.moduleId, profile.objectKey};
      for (const DownloadModel& download : model.downloads)
        if (download.programme == gateway.programme && download.downloadId == gateway.carouselId)
          gateway.download = &download;
      model.gateways.push_back(std::move(gateway));
    }
  }
  return model;
}

}  // namespace health
