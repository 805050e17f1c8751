// One run of the analyzer as the command line asks: our host opens the source, the plug-in object is
// started and given the host's interfaces, and its analysis command runs the analysis window on the
// headless window layer. The program then acts through the window layer's automation hook as a user
// would: it reads the "MUX DSMCC streams" list, types pairs and clicks Add, MUX Add and Start, ends the
// capture with Cancel in the progress window, and reads the pages' trees.
#pragma once

#include <string>
#include <vector>

#include "app/cli.h"

namespace ui {
class Dialog;
}

namespace app {

// Runs a scan or a capture; writes the result to stdout and messages to stderr. Returns the exit
// status: 0 when the scan or capture ran, 2 for an input error (the source cannot be opened, the
// analyzer refuses the tuner).
int run_session(const Options& options);

// The pages of a finished capture, in tab order, as text trees (a blank line between two pages) or as
// one JSON object keyed by the tab texts.
std::string render_pages(const ui::Dialog& dialog, const std::vector<Page>& pages, bool json);

}  // namespace app
