// A further interface of the plug-in object: where the diagnostic log goes and how much it holds, for
// the program's --log and --log-level. A host that never asks for it gets the log as the plug-in's
// start-up makes it: beside the module, level 4.
#pragma once

#include <cstdint>

#include "contract/host_contract.h"

inline constexpr IID IID_ILogSettings = {0x3c5e9a14, 0x7b2d, 0x4f61, {0xa8, 0x44, 0x1d, 0x90, 0x6e, 0x52, 0xb3, 0x01}};

class ILogSettings : public IUnknown {
 public:
  // Before StartPlugin. `path` (null or "": beside the module) is the file the start-up opens; `level`
  // replaces the start-up's level 4 (-1 to 4; kKeepLevel keeps it). E_INVALIDARG for another level.
  static constexpr int32_t kKeepLevel = 0x7fffffff;
  virtual HRESULT SetLogOptions(const char* path, int32_t level) = 0;
  // After StartPlugin: S_OK when the log file is open; otherwise S_FALSE, with the path it tried and
  // why it failed in `reason` (both cut to `size` bytes, NUL-terminated).
  virtual HRESULT GetLogState(char* path, char* reason, uint32_t size) = 0;
};
