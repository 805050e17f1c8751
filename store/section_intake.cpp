#include "store/section_intake.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

#include "log/debug_log.h"

namespace store {

namespace {

constexpr uint32_t kUserNetworkTable = 0x3B;
constexpr uint32_t kDownloadDataTable = 0x3C;
constexpr uint32_t kMessageIdDSI = 0x1006;
constexpr uint32_t kMessageIdDII = 0x1002;

// The section object of one delivery, or null when the library rejects the bytes (logged).
std::unique_ptr<sitables::DsmCC> parse_section(std::span<const uint8_t> bytes) {
  auto section = std::make_unique<sitables::DsmCC>();
  try {
    section->Parse(bytes, false);
  } catch (const sitables::error& e) {
    logio::g_log.log(2, "failed to parse dsm section: %s", e.text());
    return nullptr;
  }
  return section;
}

}  // namespace

void section_callback(void* context, uint32_t section_size, const uint8_t* section) {
  // Nothing may escape into the host's delivery thread.
  try {
    auto* filter = static_cast<FilterContext*>(context);
    if (!filter || !filter->owner) {
      logio::g_log.log(1, "section callback without a filter context");
      return;
    }
    if (!section || section_size == 0) {
      logio::g_log.log(2, "empty section delivered on pid %#x", static_cast<unsigned>(filter->pid));
      return;
    }
    filter->owner->dispatch_section(filter->pid, std::span<const uint8_t>(section, section_size));
  } catch (const std::exception& e) {
    logio::g_log.log(1, "section intake failed: %s", e.what());
  } catch (...) {
    logio::g_log.log(1, "section intake failed");
  }
}

SectionIntake::SectionIntake(CarouselStore& store, CaptureCounters& counters)
    : store_(store), counters_(counters) {}

SectionIntake::~SectionIntake() = default;

void SectionIntake::dispatch_section(uint32_t pid, std::span<const uint8_t> section) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (section.empty()) {
    logio::g_log.log(2, "empty section delivered on pid %#x", static_cast<unsigned>(pid));
    return;
  }
  const uint32_t table_id = section[0];
  if (table_id != kUserNetworkTable && table_id != kDownloadDataTable) {
    logio::g_log.log(4, "unsupported message");
    return;
  }
  if (stored_bytes_ >= byte_limit_) {
    if (!limit_logged_) {
      logio::g_log.log(1, "section store limit of %zu bytes reached; new sections are dropped", byte_limit_);
      limit_logged_ = true;
      store_.notes.store_limit_reached = true;
    }
    return;
  }
  for (const auto& [program_number, record] : store_.programs) {
    const auto pids = store_.pid_map.find(program_number);
    if (pids == store_.pid_map.end()) {
      logio::g_log.log(2, "Unexpected PRG not in PID map (%#x)", static_cast<unsigned>(program_number));
      continue;
    }
    if (!pids->second.contains(pid)) continue;
    const bool trace_off = !logio::g_log.passes(4);
    const int32_t threshold = trace_off ? logio::g_log.threshold() : 4;
    if (trace_off && is_quiet_repeat(program_number, pid, section, threshold)) continue;
    const int32_t lines_before = trace_off ? logio::g_log.line_count() : 0;
    just_stored_ = nullptr;
    if (table_id == kUserNetworkTable)
      _OnUserNetworkMessage(pid, section, program_number);
    else
      _OnDownloadDataMessage(pid, section, program_number);
    if (trace_off && just_stored_ && logio::g_log.line_count() == lines_before)
      quiet_copies_.emplace(repeat_key(program_number, pid, *just_stored_),
                            QuietCopy{just_stored_, threshold});
  }
}

SectionIntake::RepeatKey SectionIntake::repeat_key(int32_t program_number, uint32_t pid,
                                                   std::span<const uint8_t> section) {
  uint32_t last_word = 0;
  if (section.size() >= 4)
    for (size_t i = section.size() - 4; i < section.size(); ++i) last_word = (last_word << 8) | section[i];
  return {program_number, pid, static_cast<uint32_t>(section.size()), last_word};
}

bool SectionIntake::is_quiet_repeat(int32_t program_number, uint32_t pid, std::span<const uint8_t> section,
                                    int32_t threshold) const {
  const auto [first, last] = quiet_copies_.equal_range(repeat_key(program_number, pid, section));
  for (auto it = first; it != last; ++it)
    if (it->second.threshold >= threshold && std::ranges::equal(*it->second.bytes, section)) return true;
  return false;
}

void SectionIntake::_OnUserNetworkMessage(uint32_t pid, std::span<const uint8_t> bytes,
                                          int32_t program_number) {
  logio::g_log.log(4, "CDSMCCDlg::_OnUserNetworkMessage() pid=%#x", static_cast<unsigned>(pid));
  auto section = parse_section(bytes);
  if (!section) return;

  logio::g_log.log(4, "table_id_extension: %#x", static_cast<unsigned>(section->get_table_extension()));
  logio::g_log.log(4, "version_number: %#x", static_cast<unsigned>(section->version_number));
  logio::g_log.log(4, "section_number: %#x", static_cast<unsigned>(section->section_number));
  logio::g_log.log(4, "last_section_number: %#x", static_cast<unsigned>(section->last_section_number));
  logio::g_log.log(4, "current_next_indicator: %#x", static_cast<unsigned>(section->current_next_indicator));

  if (section->section_number != 0 || section->version_number != 0 || section->last_section_number != 0) {
    logio::g_log.log(2, "invalid dsm section, section=%d version=%d last_section=%d",
              static_cast<int>(section->section_number), static_cast<int>(section->version_number),
              static_cast<int>(section->last_section_number));
    store_.notes.invalid_control[{program_number, pid}].insert(
        {section->section_number, section->version_number, section->last_section_number});
    return;
  }

  const std::span<const uint8_t> message = section->get_data();
  if (message.size() < 4) {
    logio::g_log.log(2, "Unknown msg: message part of %zu bytes holds no messageId, pid=%#x", message.size(),
              static_cast<unsigned>(pid));
    return;
  }
  const uint32_t messageId = (static_cast<uint32_t>(message[2]) << 8) + message[3];

  if (messageId == kMessageIdDSI) {
    auto dsi = std::make_unique<dsmcc::CDownloadServerInitiate>();
    if (!dsi->Parse(message)) {
      logio::g_log.log(1, "Failed to parse DSI");
      return;
    }
    file_dsi(program_number, pid, std::move(section), std::move(dsi));
  } else if (messageId == kMessageIdDII) {
    auto dii = std::make_unique<dsmcc::CDownloadInfoIndication>();
    if (!dii->Parse(message)) {
      logio::g_log.log(1, "Failed to parse DII");
      return;
    }
    file_dii(program_number, pid, std::move(section), std::move(dii));
  } else {
    logio::g_log.log(4, "Unknown msg: %#x", static_cast<unsigned>(messageId));
  }
}

void SectionIntake::_OnDownloadDataMessage(uint32_t pid, std::span<const uint8_t> bytes,
                                           int32_t program_number) {
  auto section = parse_section(bytes);
  if (!section) return;
  // No validity check here: a block's section_number is its position in the module.
  auto ddb = std::make_unique<dsmcc::DownloadDataBlock>();
  if (!ddb->Parse(section->get_data())) {
    logio::g_log.log(1, "Failed to parse DDD");
    return;
  }
  file_ddb(program_number, pid, std::move(section), std::move(ddb));
}

PidRecord& SectionIntake::pid_record(int32_t program_number, uint32_t pid) {
  auto& slot = store_.programs[program_number].pids[static_cast<int32_t>(pid)];
  if (!slot) slot = std::make_unique<PidRecord>();
  return *slot;
}

void SectionIntake::file_dsi(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                             std::unique_ptr<dsmcc::CDownloadServerInitiate> dsi) {
  const auto key = static_cast<int32_t>(section->get_table_extension());
  store_.notes.dsi_transactions[{program_number, pid, key}].insert(dsi->header.transactionId);
  PidRecord& record = pid_record(program_number, pid);
  auto& dsis = record.dsi;
  if (dsis.contains(key)) return;  // the first copy stays; repeats are the carousel's normal cycle
  stored_bytes_ += section->section_bytes().size();
  just_stored_ = &section->section_bytes();
  dsis.emplace(key, record.keep(std::move(section), std::move(dsi)));
  counters_.dsi_count.fetch_add(1);
}

void SectionIntake::file_dii(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                             std::unique_ptr<dsmcc::CDownloadInfoIndication> dii) {
  const auto download = static_cast<int32_t>(dii->downloadId);
  const auto key = static_cast<int32_t>(section->get_table_extension());
  store_.notes.dii_transactions[{program_number, pid, download, key}].insert(dii->header.transactionId);
  PidRecord& record = pid_record(program_number, pid);
  auto& diis = record.dii;
  const bool new_download = !diis.contains(download);
  auto& by_extension = diis[download];
  if (by_extension.contains(key)) {
    logio::g_log.log(4, "DII already in tree");
    return;
  }
  stored_bytes_ += section->section_bytes().size();
  just_stored_ = &section->section_bytes();
  by_extension.emplace(key, record.keep(std::move(section), std::move(dii)));
  if (new_download) counters_.dii_count.fetch_add(1);
}

namespace {

// Whether a copy of a block adds anything to what is kept for its block number: a moduleVersion not
// seen yet, or the first verified copy of a version seen so far only unverified. Two verified copies
// of one version with different data mark the block as conflicting.
bool block_copy_wanted(BlockCopies& block, const dsmcc::DownloadDataBlock& ddb, bool verified) {
  bool seen = false;
  for (const BlockCopy& copy : block.copies) {
    if (copy.moduleVersion != ddb.moduleVersion) continue;
    seen = true;
    if (!copy.crc_verified) continue;
    if (verified && !std::ranges::equal(copy.stored.ddb()->blockData, ddb.blockData)) block.conflict = true;
    return false;
  }
  return !seen || verified;
}

}  // namespace

void SectionIntake::file_ddb(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                             std::unique_ptr<dsmcc::DownloadDataBlock> ddb) {
  const auto download = static_cast<int32_t>(ddb->header.transactionId);
  const auto module = static_cast<int32_t>(ddb->moduleId);
  const auto number = static_cast<int32_t>(section->section_number);
  PidRecord& record = pid_record(program_number, pid);
  auto& blocks = record.ddb[download][module];
  BlockCopies& block = record.block_copies[download][module][ddb->blockNumber];
  const bool verified = section->section_syntax_indicator == 1;
  // The pages keep the block first received under each section_number; the save keeps its own copies.
  const bool filed = !blocks.contains(number);
  if (!block_copy_wanted(block, *ddb, verified) && !filed) return;
  stored_bytes_ += section->section_bytes().size();
  just_stored_ = &section->section_bytes();
  const uint32_t moduleVersion = ddb->moduleVersion;
  const StoredMessage stored = record.keep(std::move(section), std::move(ddb));
  block.copies.push_back(BlockCopy{stored, moduleVersion, verified, filed, ++block_arrivals_});
  if (!filed) return;
  blocks.emplace(number, stored);
  counters_.ddb_count.fetch_add(1);
}

void SectionIntake::clear_store() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Each PidRecord owns its sections and messages.
  store_.programs.clear();
  quiet_copies_.clear();
  store_.notes = IntakeNotes{};
  stored_bytes_ = 0;
  block_arrivals_ = 0;
  limit_logged_ = false;
}

void SectionIntake::start_programs() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [program_number, pids] : store_.pid_map) {
    logio::g_log.log(4, "Adding PRG (%d)", static_cast<int>(program_number));
    store_.programs[program_number] = ProgramRecord{};
    const int32_t programme = program_number;  // clang 14 cannot capture a structured binding
    std::erase_if(quiet_copies_,
                  [programme](const auto& entry) { return entry.first.program_number == programme; });
  }
}

}  // namespace store
