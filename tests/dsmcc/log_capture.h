// Kept only for the test folders that still name the old capture; it is the shared one.
#pragma once

#include "tests/support/helpers.h"

namespace testlog {
using testsupport::LogCapture;
using testsupport::LogLine;
}  // namespace testlog
