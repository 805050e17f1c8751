// `dsmcc check` and `dsmcc diff`: the analyzer's report of a capture (plugin/carousel_report.h) as the
// program prints it, and the comparison of two such reports.
#pragma once

#include <string>

#include "health/capture_report.h"

namespace app {

std::string check_help_text();
std::string diff_help_text();

// One finding a line ("error: prg 0x0001 pid 0x0100 ...: what (expected X, found Y)") and a summary
// line; or one JSON object {"findings": [...], "summary": {...}}.
std::string format_check(const health::CaptureReport& report, bool json);
// 0 when no finding is an error, else 3.
int check_status(const health::CaptureReport& report);

// What changed from A to B, carousel by carousel (nothing when they are the same), or one JSON object
// {"same": bool, "carousels": [...]}. `same` is set to whether anything changed.
std::string format_diff(const health::CaptureReport& a, const health::CaptureReport& b, bool json, bool& same);

}  // namespace app
