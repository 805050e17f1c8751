#include "host/driver.h"

namespace host {

HRESULT HostDriver::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  // The driver is handed over under one id and asked for under the other; both lead here.
  if (iid == IID_IUnknown || iid == IID_HostDriver || iid == IID_InitDriver) {
    *out = static_cast<InitDriver*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

uint32_t HostDriver::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t HostDriver::Release() {
  const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT HostDriver::GetTunerType(uint16_t* tuner_type) {
  if (!tuner_type) return E_POINTER;
  if (fail_.load()) return E_FAIL;
  *tuner_type = tuner_type_.load();
  return S_OK;
}

}  // namespace host
