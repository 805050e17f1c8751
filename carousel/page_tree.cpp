#include "carousel/page_tree.h"

#include "log/debug_log.h"

namespace carousel {

bool TreeBudget::take() {
  if (used_ < limit_) {
    ++used_;
    return true;
  }
  if (!exhausted_) {
    exhausted_ = true;
    logio::g_log.log(1, limit_line_, limit_);
  }
  return false;
}

}  // namespace carousel
