// The inflation of module images on arbitrary bytes, with a small output limit so that a zlib bomb
// is cut quickly. An image is replaced only by what zlib's own one-shot inflation gives within the
// limit, and otherwise left exactly as it was.
#include <zlib.h>

#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

using namespace carousel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  constexpr size_t kMaxOutput = size_t{256} << 10;
  const bytes::Bytes original(data, data + size);
  bytes::Bytes image = original, expected(kMaxOutput + 1);
  const bool replaced = inflate_module_image(image, 7, kMaxOutput);
  uLongf length = static_cast<uLongf>(expected.size());
  const bool whole = size >= 2 && (data[0] * 256 + data[1]) % 31 == 0 &&
                     uncompress(expected.data(), &length, data, static_cast<uLong>(size)) == Z_OK && length <= kMaxOutput;
  expected.resize(length);
  FUZZ_CHECK(whole == replaced && image == (replaced ? expected : original));
  return 0;
}
