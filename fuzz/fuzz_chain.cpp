// The whole chain on arbitrary stream bytes: framing, demultiplexing, the plug-in's section filter,
// the section callback and intake, then the three pages rebuilt on the headless window layer in the
// order the analysis window uses (Section, Data Carousel, Object Carousel).
//
// Two programmes are captured: programme 1 on the carousel PIDs of the shared streams, programme 2
// sharing one of them, so that a section routed to two programmes is decoded twice.
//
// Beyond "no crash": the store holds only what the filing rules allow (whole sections with a CRC
// that holds when one is carried, control sections of version, section and last section 0, message
// views inside their own section), the counters agree with the store, and the pages stay within
// their node limits.
#include <cstddef>
#include <cstdint>
#include <span>

#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "fuzz/capture_chain.h"
#include "fuzz/fuzz_support.h"
#include "inspector/section_dlg.h"
#include "resources/resources.h"
#include "ui/dialog.h"

namespace {

constexpr size_t kPageNodeLimit = 20000;

const robustness::CapturePairs kPairs = {{1, 0x00C8}, {1, 0x07D3}, {1, 0x0BB9}, {1, 0x138E},
                                         {2, 0x138E}, {2, 0x0BBA}};

void check_section(const StoredMessage& stored, bool control) {
  FUZZ_CHECK(stored.section && stored.message);
  const auto& bytes = stored.section->section_bytes();
  if (stored.section->section_syntax_indicator == 1) FUZZ_CHECK(sitables::crc32_mpeg2(bytes) == 0);
  if (control) {
    FUZZ_CHECK(stored.section->get_table_id() == 0x3B);
    FUZZ_CHECK(stored.section->version_number == 0 && stored.section->section_number == 0 &&
               stored.section->last_section_number == 0);
  } else {
    FUZZ_CHECK(stored.section->get_table_id() == 0x3C);
  }
  FUZZ_CHECK(fuzz::view_inside(stored.message->header.adaptation, bytes));
}

void check_store(const CarouselStore& store, const CaptureCounters& counters) {
  int32_t dsi = 0, dii = 0, ddb = 0;
  for (const auto& [programme, record] : store.programs) {
    FUZZ_CHECK(store.pid_map.count(programme) == 1);
    for (const auto& [pid, pid_record] : record.pids) {
      FUZZ_CHECK(store.pid_map.at(programme).count(static_cast<uint32_t>(pid)) == 1);
      for (const auto& [extension, stored] : pid_record->dsi) {
        check_section(stored, true);
        FUZZ_CHECK(fuzz::view_inside(stored.dsi()->privateData, stored.section->section_bytes()));
        ++dsi;
      }
      for (const auto& [downloadId, by_extension] : pid_record->dii) {
        FUZZ_CHECK(!by_extension.empty());
        ++dii;  // counted once per downloadId and PID
        for (const auto& [extension, stored] : by_extension) {
          check_section(stored, true);
          FUZZ_CHECK(static_cast<int32_t>(stored.dii()->downloadId) == downloadId);
          for (const auto& module : stored.dii()->modules)
            FUZZ_CHECK(fuzz::view_inside(module.moduleInfo, stored.section->section_bytes()));
        }
      }
      for (const auto& [downloadId, modules] : pid_record->ddb) {
        for (const auto& [moduleId, blocks] : modules) {
          for (const auto& [number, stored] : blocks) {
            check_section(stored, false);
            FUZZ_CHECK(static_cast<int32_t>(stored.section->section_number) == number);
            FUZZ_CHECK(static_cast<int32_t>(stored.ddb()->moduleId) == moduleId);
            FUZZ_CHECK(fuzz::view_inside(stored.ddb()->blockData, stored.section->section_bytes()));
            ++ddb;
          }
        }
      }
      // Every block copy is its own block number's, and every block the pages hold is one of them.
      size_t filed = 0;
      for (const auto& [downloadId, modules] : pid_record->block_copies)
        for (const auto& [moduleId, blocks] : modules)
          for (const auto& [number, block] : blocks)
            for (const BlockCopy& copy : block.copies) {
              FUZZ_CHECK(copy.stored.ddb()->blockNumber == number && copy.moduleVersion == copy.stored.ddb()->moduleVersion);
              filed += copy.filed_by_section;
            }
      size_t entries = 0;
      for (const auto& [downloadId, modules] : pid_record->ddb)
        for (const auto& [moduleId, blocks] : modules) entries += blocks.size();
      FUZZ_CHECK(filed == entries);
    }
  }
  FUZZ_CHECK(counters.dsi_count.load() == dsi);
  FUZZ_CHECK(counters.dii_count.load() == dii);
  FUZZ_CHECK(counters.ddb_count.load() == ddb);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  robustness::CaptureChain chain(kPairs);
  chain.feed_stream(std::span<const uint8_t>(data, size));
  check_store(chain.store, chain.counters);

  ui::Dialog window{resources::DIALOG_ANALYSIS};
  CSectionDlg section_page(&chain.store, &window);
  CDataCarouselDlg data_page(&window);
  CObjectCarouselDlg object_page(&window);
  data_page.create(window);
  object_page.create(window);
  section_page.create(window);

  section_page.clear();
  data_page.clear();
  object_page.clear();
  section_page.rebuild();
  CarouselLimits limits;
  limits.node_limit = kPageNodeLimit;
  const CarouselModel model = rebuild_carousels(chain.store, limits);
  data_page.rebuild(model);
  object_page.rebuild(model);

  FUZZ_CHECK(section_page.root() != nullptr);
  FUZZ_CHECK(data_page.tree_view()->node_count() <= kPageNodeLimit);
  FUZZ_CHECK(object_page.tree_view()->node_count() <= kPageNodeLimit);
  // The pages only read the message store: a second look finds it as the intake left it.
  check_store(chain.store, chain.counters);
  return 0;
}
