// The inflation of module images on arbitrary bytes, with a small output limit so that a zlib bomb
// is cut quickly. An image is replaced only by what zlib's own one-shot inflation gives within the
// limit, and otherwise left exactly as it was.
#define ZLIB_CONST
#include <zlib.h>

#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxOutput = size_t{256} << 10;

// zlib's own answer, in one call into a buffer one byte larger than the limit.
bool reference_inflate(const Bytes& in, Bytes& out) {
  out.assign(kMaxOutput + 1, 0);
  uLongf length = static_cast<uLongf>(out.size());
  const bool whole = uncompress(out.data(), &length, in.data(), static_cast<uLong>(in.size())) == Z_OK;
  out.resize(length);
  return whole && length <= kMaxOutput;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const Bytes original(data, data + size);
  Bytes image = original, expected;
  const bool replaced = inflate_module_image(image, 7, kMaxOutput);
  const bool zlib_header = size >= 2 && (data[0] * 256 + data[1]) % 31 == 0;
  FUZZ_CHECK((zlib_header && reference_inflate(original, expected)) == replaced);
  FUZZ_CHECK(image == (replaced ? expected : original));
  return 0;
}
