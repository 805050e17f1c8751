// Module images and their inflation.
#define ZLIB_CONST
#include <zlib.h>

#include <limits>

#include "carousel/module_assembly.h"
#include "carousel/object_carousel.h"
#include "log/debug_log.h"

void save_modules_to_memory(CarouselStore& store) {
  for (auto& [programme_number, program] : store.programs) {
    g_log.log(4, "saving module on prg %#x to mem", static_cast<uint32_t>(programme_number));
    // The carousels are derived from the blocks alone. Starting over keeps a second rebuild from
    // leaving file records that view images it has just replaced.
    program.object_carousels.clear();
    for (const auto& [downloadId, modules] : program.ddb_by_download) {
      for (const auto& [moduleId, blocks] : modules) {
        if (!module_complete(&blocks)) {
          g_log.log(2, "module not complete");
          continue;
        }
        program.object_carousels[downloadId].modules[static_cast<uint32_t>(moduleId)] = module_image(blocks);
      }
    }
  }
}

bool inflate_module_image(Bytes& image, uint32_t moduleId, size_t max_output) {
  if (image.size() < 2 || (image[0] * 256 + image[1]) % 31 != 0) return false;
  if (image.size() > std::numeric_limits<uInt>::max()) {
    g_log.log(1, "module %#x of %zu bytes is too large to inflate", moduleId, image.size());
    return false;
  }

  z_stream strm{};
  strm.next_in = image.data();
  strm.avail_in = static_cast<uInt>(image.size());
  strm.zalloc = Z_NULL;
  strm.zfree = Z_NULL;
  strm.opaque = Z_NULL;
  int err = inflateInit_(&strm, "1.2.1", sizeof strm);
  if (err != Z_OK) {
    g_log.log(4, "failed inflateInit, err=%d", err);
    return false;
  }

  constexpr uInt kStep = 8192;
  Bytes buffer(kStep);
  Bytes result;
  bool replaced = false;
  for (;;) {
    strm.next_out = buffer.data();
    strm.avail_out = kStep;
    err = inflate(&strm, 0);
    if (err != Z_OK && err != Z_STREAM_END) {
      g_log.log(4, "unexpected inflate error, err=%d", err);
      break;
    }
    size_t produced = kStep - strm.avail_out;
    if (produced > max_output - result.size()) {
      g_log.log(1, "module %#x inflates past the limit of %zu MiB; left compressed", moduleId,
                max_output >> 20);
      g_log.log(4, "unexpected inflate error, err=%d", Z_MEM_ERROR);
      break;
    }
    result.insert(result.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(produced));
    if (err == Z_STREAM_END) {
      image = std::move(result);
      replaced = true;
      break;
    }
  }
  inflateEnd(&strm);
  return replaced;
}

void uncompress_mem_modules(CarouselStore& store) {
  g_log.log(4, "CObjectCarouselDlg::uncompress_mem_modules()");
  for (auto& [programme_number, program] : store.programs) {
    for (auto& [key, carousel] : program.object_carousels) {
      g_log.log(4, "decompressing files from pid %#x", static_cast<uint32_t>(key));
      for (auto& [moduleId, image] : carousel.modules) inflate_module_image(image, moduleId);
    }
  }
}
