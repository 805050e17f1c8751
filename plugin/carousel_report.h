// A further interface of the plug-in object: the health check and description of the carousels that
// the running analysis window captured, for `dsmcc check` and `dsmcc diff`.
//
// The program asks for it by id (QueryInterface) while the analysis window is open and a capture has
// ended, on the window's thread (from the window layer's automation hook). Asking changes nothing the
// window shows or logs.
#pragma once

#include "health/capture_report.h"
#include "contract/host_contract.h"

#include <string>

inline constexpr IID IID_ICarouselReport = {0x3c5e9a13, 0x7b2d, 0x4f61, {0xa8, 0x44, 0x1d, 0x90, 0x6e, 0x52, 0xb3, 0x01}};

class ICarouselReport : public IUnknown {
 public:
  // The report of the last capture of the running analysis window. The caller owns it and frees it
  // with delete (as a HostMenu). E_FAIL when no analysis window runs.
  virtual HRESULT DescribeCapture(health::CaptureReport** report) = 0;
  // Saves everything the running window's last capture rebuilt below `dir` (replacing what exists
  // when `force`), with one summary of the whole save in `summary`. S_OK when it was written whole,
  // S_FALSE when it stopped (the summary says why), E_FAIL when no analysis window runs.
  virtual HRESULT SaveCapture(const char* dir, bool force, std::string* summary) = 0;
  // The DSI, DII and DDB counts the running window's capture stored, as its progress window counts
  // them; any thread, at any time. E_FAIL when no analysis window runs.
  virtual HRESULT GetCaptureCounts(int32_t* dsi, int32_t* dii, int32_t* ddb) = 0;
};

