// The --save step: called once a capture has rebuilt its pages, with the store the pages were built
// from. Until the save procedure is wired in, no hook is set and --save writes nothing.
#pragma once

#include <string>

#include "capture/carousel_store.h"

namespace app {

struct SaveRequest {
  std::string dir;
  bool force = false;
};

// Returns the program's exit status for the save: 0 when it succeeded. Messages go to stderr.
using SaveHook = int (*)(CarouselStore& store, const SaveRequest& request);

void set_save_hook(SaveHook hook);
SaveHook save_hook();

}  // namespace app
