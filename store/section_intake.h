// The section intake: the callback through which the host delivers DSM-CC sections during a capture,
// the routing of each section to the captured programmes of its PID, its decoding and its filing in
// the carousel store.
//
// The analysis dialog holds one SectionIntake; a FilterContext names it as the receiver of one
// installed section filter. The host may deliver from a thread of its own, so one lock serialises the
// whole intake; the counters are atomics because the progress window reads them meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>
#include <span>

#include "store/carousel_store.h"

namespace store {

class SectionIntake;

// The section bytes a capture may store. A live source whose content keeps changing would otherwise
// grow the store without end; past this, new sections are dropped with one log line and the capture
// goes on with what it has.
inline constexpr size_t kMaxStoredSectionBytes = size_t{1} << 30;

// One per installed section filter; handed to the host as the callback's context.
struct FilterContext {
  uint32_t pid = 0;
  uint32_t handle = 0;  // the host's handle of the installed filter
  SectionIntake* owner = nullptr;
};

// The section callback registered with every filter (SectionCallback of the host contract): `context`
// is a FilterContext; `section_size` bounds the bytes at `section`, which begin with table_id.
void section_callback(void* context, uint32_t section_size, const uint8_t* section);

class SectionIntake {
 public:
  SectionIntake(CarouselStore& store, CaptureCounters& counters);
  ~SectionIntake();
  SectionIntake(const SectionIntake&) = delete;
  SectionIntake& operator=(const SectionIntake&) = delete;

  // Dispatch by table_id: 0x3B to the control message handler, 0x3C to the download data handler,
  // each once per captured programme whose PIDs include `pid`. Takes the intake lock.
  void dispatch_section(uint32_t pid, std::span<const uint8_t> section);

  // Drops every stored section and message and empties `programs`; the capture list stays.
  void clear_store();

  // Start's step: an empty ProgramRecord for every programme of the PID map, in ascending order.
  void start_programs();

  // Caps the section bytes the store keeps (kMaxStoredSectionBytes unless a test needs less).
  void set_store_byte_limit(size_t limit) { byte_limit_ = limit; }
  // Bytes of every section object the store holds (a section filed under two programmes counts twice).
  // Read it once the capture has ended: it takes no lock.
  size_t stored_section_bytes() const { return stored_bytes_; }

  CarouselStore& store() { return store_; }
  CaptureCounters& counters() { return counters_; }

 protected:
  // DSI and DII (table 0x3B) and DDB (table 0x3C) of one section for one programme. The caller holds
  // the intake lock.
  void _OnUserNetworkMessage(uint32_t pid, std::span<const uint8_t> section, int32_t program_number);
  void _OnDownloadDataMessage(uint32_t pid, std::span<const uint8_t> section, int32_t program_number);

 private:
  PidRecord& pid_record(int32_t program_number, uint32_t pid);
  void file_dsi(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                std::unique_ptr<dsmcc::CDownloadServerInitiate> dsi);
  void file_dii(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                std::unique_ptr<dsmcc::CDownloadInfoIndication> dii);
  void file_ddb(int32_t program_number, uint32_t pid, std::unique_ptr<sitables::DsmCC> section,
                std::unique_ptr<dsmcc::DownloadDataBlock> ddb);

  // A carousel repeats each section hundreds of times, and a section byte-identical to one already
  // stored changes nothing in the store: its filing finds the copy there. What can still differ is the
  // log, so a repeat is skipped only while the trace of level 4 is off, and only when the stored copy's
  // own intake wrote no line at a threshold at least as high as the current one.
  struct RepeatKey {
    int32_t program_number;
    uint32_t pid;
    uint32_t size;
    uint32_t last_word;  // the CRC_32 field of a section that carries one
    bool operator==(const RepeatKey&) const = default;
  };
  struct RepeatKeyHash {
    size_t operator()(const RepeatKey& k) const {
      return (size_t{k.last_word} * 0x9E3779B97F4A7C15ull) ^ (size_t{k.pid} << 40) ^ (size_t{k.size} << 20) ^
             static_cast<uint32_t>(k.program_number);
    }
  };
  struct QuietCopy {
    const std::vector<uint8_t>* bytes;  // the stored section's, owned by the store
    int32_t threshold;                  // the log's threshold when it was filed without a line
  };
  static RepeatKey repeat_key(int32_t program_number, uint32_t pid, std::span<const uint8_t> section);
  // A stored copy with these bytes whose intake wrote no line at `threshold` or a higher one.
  bool is_quiet_repeat(int32_t program_number, uint32_t pid, std::span<const uint8_t> section,
                       int32_t threshold) const;

  CarouselStore& store_;
  CaptureCounters& counters_;
  std::unordered_multimap<RepeatKey, QuietCopy, RepeatKeyHash> quiet_copies_;
  const std::vector<uint8_t>* just_stored_ = nullptr;  // set by file_* when a call stores its section
  std::mutex mutex_;
  size_t stored_bytes_ = 0;
  uint64_t block_arrivals_ = 0;  // BlockCopy::arrival of the last copy kept
  size_t byte_limit_ = kMaxStoredSectionBytes;
  bool limit_logged_ = false;
};

}  // namespace store
