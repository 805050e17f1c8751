// The whole chain on arbitrary stream bytes: framing, demultiplexing, the plug-in's section filter,
// the section callback and intake, then the three pages rebuilt on the headless window layer in the
// order the analysis window uses. Programme 2 shares a PID of programme 1, so that a section routed
// to two programmes is decoded twice. The store holds only what the filing rules allow, the counters
// agree with it, the pages leave it as it was and stay within their limit.
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "fuzz/capture_chain.h"
#include "fuzz/fuzz_support.h"
#include "inspector/section_dlg.h"
#include "resources/resources.h"
#include "ui/dialog.h"

namespace {

constexpr size_t kPageNodeLimit = 20000;

// Every stored section with a CRC passes it, every control section is of version and section 0,
// and the counters agree with the store.
void check_store(const CarouselStore& store, const CaptureCounters& counters) {
  int32_t dsi = 0, dii = 0, ddb = 0;
  auto check = [](const StoredMessage& m, bool control) {
    const auto& s = *m.section;
    FUZZ_CHECK(s.section_syntax_indicator == 0 || sitables::crc32_mpeg2(s.section_bytes()) == 0);
    FUZZ_CHECK(!control || (s.version_number == 0 && s.section_number == 0 && s.last_section_number == 0));
  };
  for (const auto& [programme, record] : store.programs) {
    for (const auto& [pid, pid_record] : record.pids) {
      for (const auto& [extension, stored] : pid_record->dsi) check(stored, true), ++dsi;
      for (const auto& [downloadId, by_extension] : pid_record->dii) {
        ++dii;  // counted once per downloadId and PID
        for (const auto& [extension, stored] : by_extension) check(stored, true);
      }
      for (const auto& [downloadId, modules] : pid_record->ddb)
        for (const auto& [moduleId, blocks] : modules)
          for (const auto& [number, stored] : blocks) check(stored, false), ++ddb;
    }
  }
  FUZZ_CHECK(counters.dsi_count.load() == dsi && counters.dii_count.load() == dii && counters.ddb_count.load() == ddb);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  robustness::CaptureChain chain({{1, 0x00C8}, {1, 0x07D3}, {1, 0x0BB9}, {1, 0x138E}, {2, 0x138E}, {2, 0x0BBA}});
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
  check_store(chain.store, chain.counters);
  return 0;
}
