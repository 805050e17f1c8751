// The inflation of module images on arbitrary bytes, with a small output limit so that a zlib bomb
// is cut quickly.
#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

using namespace carousel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  bytes::Bytes image(data, data + size);
  inflate_module_image(image, 7, size_t{256} << 10);
  return 0;
}
