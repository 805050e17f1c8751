// The health check of a finished capture: what a receiver would stumble over in each carousel
// (sizes, blocks, versions, compression, BIOP messages, names), and the description of every carousel
// that a comparison with another capture needs.
#pragma once

#include "health/capture_report.h"
#include "health/carousel_model.h"

namespace health {

// Findings in a fixed order: the capture list, then every download group (its DIIs, modules,
// compression and BIOP messages), then every object carousel's names from its service gateway down.
CaptureReport check_capture(const CaptureModel& model);

// check_capture over the carousel model of a finished capture.
CaptureReport describe_capture(const carousel::CarouselModel& carousels);

}  // namespace health
