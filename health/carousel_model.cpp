#include "health/carousel_model.h"

#include <algorithm>

#include "carousel/module_assembly.h"

namespace health {

namespace {

uint32_t u32(int32_t key) { return static_cast<uint32_t>(key); }

size_t messages_of(const PidRecord& record) {
  size_t n = record.dsi.size();
  for (const auto& [download, by_extension] : record.dii) n += by_extension.size();
  for (const auto& [download, modules] : record.ddb)
    for (const auto& [module, blocks] : modules) n += blocks.size();
  return n;
}

// The merge lets a later PID's entries replace an earlier one's, so the last PID that has an entry
// is the one whose entry the index holds.
template <typename Has>
std::optional<uint32_t> last_pid_with(const ProgramRecord& program, Has has) {
  std::optional<uint32_t> pid;
  for (const auto& [number, record] : program.pids)
    if (record && has(*record)) pid = u32(number);
  return pid;
}

void read_module(ModuleModel& module, const ModuleBlockMap* sections, const ModuleBlockCopies& copies,
                 const ObjectCarousel* carousel) {
  for (const auto& [number, block] : copies) {
    BlockModel model{number, {}, block.conflict};
    for (const BlockCopy& copy : block.copies) {
      const DownloadDataBlock* ddb = copy.stored.ddb();
      if (!ddb) continue;
      const size_t n = std::min<size_t>(ddb->blockDataLength, ddb->blockData.size());
      model.copies.push_back({copy.moduleVersion, copy.crc_verified, ddb->blockData.first(n)});
    }
    if (!model.copies.empty()) module.blocks.push_back(std::move(model));
  }
  module.expected_by_sections = u32(module_expected_count(sections));
  if (!carousel) return;
  auto image = carousel->modules.find(module.moduleId);
  if (image != carousel->modules.end()) module.image = &image->second;
}

DownloadModel read_download(const CarouselStore& store, int32_t programme, const ProgramRecord& record,
                            const ProgrammeModel& program, int32_t downloadId) {
  DownloadModel download;
  download.programme = u32(programme);
  download.downloadId = u32(downloadId);
  auto carousel = program.object_carousels.find(downloadId);
  if (carousel != program.object_carousels.end()) download.carousel = &carousel->second;

  std::map<uint32_t, ModuleModel> modules;
  auto diis = program.dii_by_download.find(downloadId);
  if (diis != program.dii_by_download.end()) {
    const uint32_t pid = last_pid_with(record, [&](const PidRecord& r) { return r.dii.contains(downloadId); })
                             .value_or(0);
    for (const auto& [extension, stored] : diis->second) {
      ControlModel control{pid, u32(extension), {}};
      auto seen = store.notes.dii_transactions.find({programme, pid, downloadId, extension});
      if (seen != store.notes.dii_transactions.end()) control.transactions = seen->second;
      download.diis.push_back(std::move(control));
      const CDownloadInfoIndication* dii = stored.dii();
      if (!dii) continue;
      for (const Module& entry : dii->modules)
        modules[entry.moduleId].announced.push_back({pid, u32(extension), dii->blockSize, &entry});
    }
  }
  auto copies = program.copies_by_download.find(downloadId);
  auto sections = program.ddb_by_download.find(downloadId);
  if (copies != program.copies_by_download.end()) {
    for (const auto& [moduleId, blocks] : copies->second) {
      ModuleModel& module = modules[u32(moduleId)];
      const auto module_key = moduleId;  // clang 14 cannot capture a structured binding
      module.pid = last_pid_with(record, [&](const PidRecord& r) {
        auto d = r.block_copies.find(downloadId);
        return d != r.block_copies.end() && d->second.contains(module_key);
      });
      module.moduleId = u32(moduleId);
      const ModuleBlockMap* map = nullptr;
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

uint64_t digest(ByteView bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  return hash;
}

CaptureModel read_capture_model(const CarouselStore& store, const CarouselModel& carousels) {
  static const ProgrammeModel kNoIndex;
  auto index_of = [&](int32_t programme) -> const ProgrammeModel& {
    auto found = carousels.programs.find(programme);
    return found == carousels.programs.end() ? kNoIndex : found->second;
  };
  CaptureModel model;
  model.pairs.assign(store.capture_pairs.begin(), store.capture_pairs.end());
  model.store_limit_reached = store.notes.store_limit_reached;
  for (const auto& [key, seen] : store.notes.invalid_control)
    model.invalid_control[{u32(key.first), key.second}] = seen;

  for (const auto& [programme, record_of_programme] : store.programs) {
    const ProgrammeModel& program = index_of(programme);
    std::set<int32_t> downloads;
    for (const auto& [downloadId, diis] : program.dii_by_download) downloads.insert(downloadId);
    for (const auto& [downloadId, modules] : program.copies_by_download) downloads.insert(downloadId);
    for (int32_t downloadId : downloads)
      model.downloads.push_back(read_download(store, programme, record_of_programme, program, downloadId));

    for (const auto& [pid, record] : record_of_programme.pids) {
      if (!record) continue;
      const ProgramPid pair{u32(programme), u32(pid)};
      model.stored[pair] = messages_of(*record);
      for (const auto& [extension, stored] : record->dsi) {
        ControlModel control{u32(pid), u32(extension), {}};
        auto seen = store.notes.dsi_transactions.find({programme, u32(pid), extension});
        if (seen != store.notes.dsi_transactions.end()) control.transactions = seen->second;
        model.dsis[pair].push_back(std::move(control));
      }
    }
  }

  for (const auto& [programme, record_of_programme] : store.programs) {
    const ProgrammeModel& program = index_of(programme);
    for (const auto& [carouselId, stored] : program.gateway_dsis) {
      const CDownloadServerInitiate* dsi = stored.dsi();
      if (!dsi || dsi->gateway.profiles.empty() || !stored.section) continue;
      GatewayModel gateway;
      gateway.programme = u32(programme);
      gateway.carouselId = u32(carouselId);
      const int32_t extension = static_cast<int32_t>(stored.section->get_table_extension());
      gateway.control.extension = u32(extension);
      const auto* section = stored.section;  // clang 14 cannot capture a structured binding
      gateway.control.pid = last_pid_with(record_of_programme, [&](const PidRecord& r) {
                              auto d = r.dsi.find(extension);
                              return d != r.dsi.end() && d->second.section == section;
                            }).value_or(0);
      auto kept = model.dsis.find({u32(programme), gateway.control.pid});
      if (kept != model.dsis.end())
        for (const ControlModel& control : kept->second)
          if (control.extension == gateway.control.extension) gateway.control.transactions = control.transactions;
      const BiopProfileBody& profile = dsi->gateway.profiles.front();
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
