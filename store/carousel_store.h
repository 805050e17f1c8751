// The carousel store: every DSM-CC message a capture kept, per programme and PID. The intake writes it
// during a capture; after the capture it is only read (carousel/carousel_model.h builds on it).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dsmcc/messages.h"
#include "tables/sitables.h"

namespace store {

// A section object and its decoded message, borrowed: the PidRecord that filed them owns both.
struct StoredMessage {
  const sitables::DsmCC* section = nullptr;
  const dsmcc::DsmccMessage* message = nullptr;

  const dsmcc::CDownloadServerInitiate* dsi() const {
    return static_cast<const dsmcc::CDownloadServerInitiate*>(message);
  }
  const dsmcc::CDownloadInfoIndication* dii() const {
    return static_cast<const dsmcc::CDownloadInfoIndication*>(message);
  }
  const dsmcc::DownloadDataBlock* ddb() const {
    return static_cast<const dsmcc::DownloadDataBlock*>(message);
  }
};

// The blocks of one module by the 8-bit section_number of the sections that carried them: the first
// copy of each section_number, as the pages count and show them. It holds at most 256 blocks.
using ModuleBlockMap = std::map<int32_t, StoredMessage>;
// downloadId -> moduleId -> blocks.
using DownloadBlockMap = std::map<int32_t, std::map<int32_t, ModuleBlockMap>>;

// One received copy of a block, with what is needed to judge whether its bytes may be saved.
struct BlockCopy {
  StoredMessage stored;
  uint32_t moduleVersion = 0;  // the DDB's own moduleVersion
  // The section's CRC-32 was checked and matched (section_syntax_indicator 1). A section sent with the
  // indicator 0 carries a checksum nobody verifies; its bytes are shown but never saved.
  bool crc_verified = false;
  // This copy is also the ModuleBlockMap entry of its section_number.
  bool filed_by_section = false;
  uint64_t arrival = 0;  // the intake's running count of block copies kept: later copies are larger
};

// Every copy of one block number worth keeping, in arrival order: the first copy of each moduleVersion,
// and behind an unverified one the first verified copy of the same version. Further copies of a version
// that already has a verified copy are dropped; one whose block data differs from it sets `conflict`.
struct BlockCopies {
  std::vector<BlockCopy> copies;
  bool conflict = false;  // two verified copies of one moduleVersion carried different bytes

  // The first verified copy of `version`, or null.
  const BlockCopy* verified(uint32_t version) const {
    for (const BlockCopy& copy : copies)
      if (copy.crc_verified && copy.moduleVersion == version) return &copy;
    return nullptr;
  }
};

// The blocks of one module by the DDB's 16-bit blockNumber: modules of more than 256 blocks are
// assembled from these, and the save takes every block it writes from here.
using ModuleBlockCopies = std::map<uint32_t, BlockCopies>;
// downloadId -> moduleId -> block copies (the same keys as DownloadBlockMap).
using DownloadBlockCopies = std::map<int32_t, std::map<int32_t, ModuleBlockCopies>>;

// The message views the section's bytes: it is declared after the section, so it goes first.
struct OwnedMessage {
  std::unique_ptr<const sitables::DsmCC> section;
  std::unique_ptr<const dsmcc::DsmccMessage> message;
};

struct PidRecord {
  DownloadBlockMap ddb;                                      // downloadId, moduleId, section_number
  std::map<int32_t, StoredMessage> dsi;                      // table_id_extension
  std::map<int32_t, std::map<int32_t, StoredMessage>> dii;  // downloadId, table_id_extension
  // downloadId, moduleId, blockNumber. Every DDB in `ddb` is here too, as a copy filed_by_section.
  DownloadBlockCopies block_copies;
  // Every section and message that the maps above borrow.
  std::vector<OwnedMessage> owned;

  // Keeps the pair and returns it borrowed.
  StoredMessage keep(std::unique_ptr<sitables::DsmCC> section, std::unique_ptr<dsmcc::DsmccMessage> message) {
    const StoredMessage stored{section.get(), message.get()};
    owned.push_back({std::move(section), std::move(message)});
    return stored;
  }
};

struct ProgramRecord {
  std::map<int32_t, std::unique_ptr<PidRecord>> pids;
};

// (programme_number, pid)
using ProgramPid = std::pair<uint32_t, uint32_t>;

struct ProgramPidLess {
  bool operator()(const ProgramPid& a, const ProgramPid& b) const {
    auto pa = static_cast<int32_t>(a.first), pb = static_cast<int32_t>(b.first);
    if (pa != pb) return pa < pb;
    return static_cast<int32_t>(a.second) < static_cast<int32_t>(b.second);
  }
};

// What the intake saw beyond the first copies it files: a carousel that changes during a capture, and
// control sections it had to drop, leave no other trace. Only the health check reads these; no page.
struct IntakeNotes {
  // Every transactionId a decoded DSI carried: (programme, PID, table_id_extension).
  std::map<std::tuple<int32_t, uint32_t, int32_t>, std::set<uint32_t>> dsi_transactions;
  // Every transactionId a decoded DII carried: (programme, PID, downloadId, table_id_extension).
  std::map<std::tuple<int32_t, uint32_t, int32_t, int32_t>, std::set<uint32_t>> dii_transactions;
  // (section_number, version_number, last_section_number) of the DSI/DII sections dropped as invalid.
  std::map<std::pair<int32_t, uint32_t>, std::set<std::array<uint32_t, 3>>> invalid_control;
  bool store_limit_reached = false;
};

struct CarouselStore {
  std::map<int32_t, ProgramRecord> programs;
  std::set<ProgramPid, ProgramPidLess> capture_pairs;
  std::map<int32_t, std::set<uint32_t>> pid_map;  // "PID map"
  IntakeNotes notes;  // emptied with the programmes
};

// The three counters the progress window shows: the intake only increments them.
struct CaptureCounters {
  std::atomic<int32_t> dsi_count{0};
  std::atomic<int32_t> dii_count{0};
  std::atomic<int32_t> ddb_count{0};
  void reset() {
    dsi_count = 0;
    dii_count = 0;
    ddb_count = 0;
  }
};

}  // namespace store
