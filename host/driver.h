// The driver object that the host hands to a plug-in: it answers for the tuner. By default it reports
// a DVB tuner; the embedding program may set another type, or make the query fail, to try how a
// plug-in copes with a tuner it does not support.
#pragma once

#include <atomic>
#include <cstdint>

#include "contract/host_contract.h"

namespace host {

class HostDriver final : public InitDriver {
 public:
  // A new object holding one reference, which the caller owns.
  static HostDriver* create() { return new HostDriver(); }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT Reserved1() override { return E_FAIL; }
  HRESULT Reserved2() override { return E_FAIL; }
  HRESULT GetTunerType(uint16_t* tuner_type) override;

  void set_tuner_type(uint16_t type) noexcept { tuner_type_.store(type); }
  void set_fail(bool fail) noexcept { fail_.store(fail); }

 private:
  HostDriver() = default;
  ~HostDriver() override = default;
  std::atomic<uint32_t> refs_{1};
  std::atomic<uint16_t> tuner_type_{TUNER_DVB_T};
  std::atomic<bool> fail_{false};
};

}  // namespace host
