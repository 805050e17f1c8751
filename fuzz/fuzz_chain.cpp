// The whole chain on arbitrary stream bytes: framing, demultiplexing, the plug-in's section filter,
// the section callback and intake, then the three pages rebuilt on the headless window layer in the
// order the analysis window uses. Programme 2 shares a PID of programme 1, so that a section routed
// to two programmes is decoded twice.
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "fuzz/capture_chain.h"
#include "fuzz/fuzz_support.h"
#include "inspector/section_dlg.h"
#include "resources/resources.h"
#include "ui/dialog.h"

constexpr size_t kPageNodeLimit = 20000;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  robustness::CaptureChain chain(
      {{1, 0x00C8}, {1, 0x07D3}, {1, 0x0BB9}, {1, 0x138E}, {2, 0x138E}, {2, 0x0BBA}});
  chain.feed_stream(std::span<const uint8_t>(data, size));
  ui::Dialog window{resources::DIALOG_ANALYSIS};
  inspector::CSectionDlg section_page(&chain.store, &window);
  carousel::CDataCarouselDlg data_page(&window);
  carousel::CObjectCarouselDlg object_page(&window);
  data_page.create(window);
  object_page.create(window);
  section_page.create(window);
  section_page.clear();
  data_page.clear();
  object_page.clear();
  section_page.rebuild();
  carousel::CarouselLimits limits;
  limits.node_limit = kPageNodeLimit;
  const carousel::CarouselModel model = carousel::rebuild_carousels(chain.store, limits);
  data_page.rebuild(model);
  object_page.rebuild(model);
  return 0;
}
