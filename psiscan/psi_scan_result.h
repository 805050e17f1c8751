// What one PSI scan of the multiplex leaves behind: the PAT, the CAT and the PMTs by programme number.
#pragma once

#include <cstdint>
#include <map>

#include "tables/sitables.h"

namespace psiscan {

struct PsiScanResult {
  sitables::Pat pat;
  sitables::Cat cat;
  std::map<int32_t, sitables::PmtDVB> pmts;
};

}  // namespace psiscan
