// The health check of a finished capture: what a receiver would stumble over in each carousel
// (sizes, blocks, versions, compression, BIOP messages, names), and the description of every carousel
// that a comparison with another capture needs.
#pragma once

#include "store/carousel_store.h"
#include "health/capture_report.h"
#include "health/carousel_model.h"

namespace health {

// Findings in a fixed order: the capture list, then every download group (its DIIs, modules,
// compression and BIOP messages), then every object carousel's names from its service gateway down.
CaptureReport check_capture(const CaptureModel& model);

// check_capture over a finished capture: its store and the carousel model built from it.
CaptureReport describe_capture(const CarouselStore& store, const CarouselModel& carousels);

}  // namespace health
