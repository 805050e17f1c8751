// The inflation of module images on arbitrary bytes, with a small output limit so that a short input
// that inflates without end (a zlib bomb) is cut quickly.
//
// Beyond "no crash": an image is replaced only by a result within the limit, and an image that is
// not replaced is left exactly as it was; an image that does not pass the zlib header test is never
// touched. Whatever was replaced must agree with an independent one-shot inflation.
#define ZLIB_CONST
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carousel/object_carousel.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxOutput = size_t{256} << 10;

// zlib's own answer, by another route: one inflate call with Z_FINISH into a buffer of the limit.
bool reference_inflate(const Bytes& in, Bytes& out) {
  out.assign(kMaxOutput + 1, 0);
  z_stream s{};
  s.next_in = in.data();
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  if (inflateInit(&s) != Z_OK) return false;
  const int err = inflate(&s, Z_FINISH);
  out.resize(out.size() - s.avail_out);
  inflateEnd(&s);
  return err == Z_STREAM_END && out.size() <= kMaxOutput;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::open_log_once();
  const Bytes original(data, data + size);
  Bytes image = original;
  const bool replaced = inflate_module_image(image, 7, kMaxOutput);
  const bool zlib_header = size >= 2 && (data[0] * 256 + data[1]) % 31 == 0;
  if (!replaced) {
    FUZZ_CHECK(image == original);
    if (zlib_header) {
      Bytes expected;
      FUZZ_CHECK(!reference_inflate(original, expected));
    }
    return 0;
  }
  FUZZ_CHECK(zlib_header);
  FUZZ_CHECK(image.size() <= kMaxOutput);
  Bytes expected;
  FUZZ_CHECK(reference_inflate(original, expected));
  FUZZ_CHECK(image == expected);
  return 0;
}
