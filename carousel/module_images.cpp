// Module images and their inflation.
#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "carousel/module_assembly.h"
#include "carousel/object_carousel.h"
#include "log/debug_log.h"

namespace carousel {

void save_modules_to_memory(CarouselModel& model) {
  for (auto& [programme_number, program] : model.programs) {
    logio::g_log.log(4, "saving module on prg %#x to mem", static_cast<uint32_t>(programme_number));
    // The carousels are derived from the blocks alone: file records never view an image replaced.
    program.object_carousels.clear();
    for (const auto& [downloadId, modules] : program.ddb_by_download) {
      for (const auto& [moduleId, blocks] : modules) {
        const store::ModuleBlockCopies* copies = module_copies(program, downloadId, moduleId);
        const uint32_t numbered = module_numbered_blocks(
            module_announcements(program, downloadId, static_cast<uint32_t>(moduleId)), copies);
        bytes::Bytes image;
        if (numbered != 0) {
          const std::vector<const dsmcc::DownloadDataBlock*> first = first_copies(*copies, numbered);
          if (first.empty()) {
            logio::g_log.log(2, "module not complete");
            continue;
          }
          image = assemble_blocks(first);
        } else if (module_complete(&blocks)) {
          image = module_image(blocks);
        } else {
          logio::g_log.log(2, "module not complete");
          continue;
        }
        program.object_carousels[downloadId].modules[static_cast<uint32_t>(moduleId)] = std::move(image);
      }
    }
  }
}

bool inflate_module_image(bytes::Bytes& image, uint32_t moduleId, size_t max_output, bool* stopped_at_limit) {
  if (stopped_at_limit) *stopped_at_limit = false;
  if (image.size() < 2 || (image[0] * 256 + image[1]) % 31 != 0) return false;
  if (image.size() > std::numeric_limits<uInt>::max()) {
    logio::g_log.log(1, "module %#x of %zu bytes is too large to inflate", moduleId, image.size());
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
    logio::g_log.log(4, "failed inflateInit, err=%d", err);
    return false;
  }

  constexpr uInt kStep = 8192;
  bytes::Bytes buffer(kStep);
  bytes::Bytes result;
  bool replaced = false;
  for (;;) {
    strm.next_out = buffer.data();
    strm.avail_out = kStep;
    err = inflate(&strm, 0);
    if (err != Z_OK && err != Z_STREAM_END) {
      logio::g_log.log(4, "unexpected inflate error, err=%d", err);
      break;
    }
    size_t produced = kStep - strm.avail_out;
    if (produced > max_output - result.size()) {
      logio::g_log.log(1, "module %#x inflates past the limit of %zu MiB; left compressed", moduleId,
                max_output >> 20);
      logio::g_log.log(4, "unexpected inflate error, err=%d", Z_MEM_ERROR);
      if (stopped_at_limit) *stopped_at_limit = true;
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

bool has_zlib_header(bytes::ByteView image) {
  return image.size() >= 2 && (image[0] * 256 + image[1]) % 31 == 0;
}

void uncompress_mem_modules(CarouselModel& model, size_t budget) {
  logio::g_log.log(4, "CObjectCarouselDlg::uncompress_mem_modules()");
  model.inflated_bytes = 0;
  bool budget_logged = false;
  for (auto& [programme_number, program] : model.programs) {
    for (auto& [key, carousel] : program.object_carousels) {
      logio::g_log.log(4, "decompressing files from pid %#x", static_cast<uint32_t>(key));
      carousel.not_inflated.clear();
      for (auto& [moduleId, image] : carousel.modules) {
        // One budget for the whole capture: a carousel of many modules that each inflate a long way
        // could otherwise take memory without end, whatever each module's own limit.
        const size_t left = budget_logged ? 0 : budget - std::min(budget, model.inflated_bytes);
        if (left == 0 && has_zlib_header(image)) {
          carousel.not_inflated.emplace(moduleId, budget);
          continue;
        }
        bool stopped = false;
        if (inflate_module_image(image, moduleId, std::min(left, kMaxInflatedModuleSize), &stopped)) {
          model.inflated_bytes += image.size();
        } else if (stopped) {
          const bool by_budget = left < kMaxInflatedModuleSize;
          carousel.not_inflated.emplace(moduleId, by_budget ? budget : kMaxInflatedModuleSize);
          if (by_budget && !budget_logged) {
            budget_logged = true;
            logio::g_log.log(
                1,
                "inflated modules of this capture reached the budget of %zu MiB; further compressed "
                "modules are left compressed",
                budget >> 20);
          }
        }
      }
    }
  }
}

}  // namespace carousel
