// A host object for plug-in tests: a filter manager and a driver whose answers a test sets, and which
// record the order in which they are released.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "contract/host_contract.h"

namespace testhost {

class FakeFilterManager : public OrvexFltMgr {
 public:
  explicit FakeFilterManager(std::vector<std::string>* releases = nullptr) : releases_(releases) {}
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (refuse_query || !(iid == IID_OrvexFltMgr || iid == IID_IUnknown)) return E_NOINTERFACE;
    *out = static_cast<OrvexFltMgr*>(this);
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override {
    if (releases_) releases_->push_back("filter manager");
    return --refs;
  }
  bool refuse_query = false;
  std::atomic<uint32_t> refs{1};

 private:
  std::vector<std::string>* releases_;
};

class FakeDriver : public InitDriver {
 public:
  explicit FakeDriver(std::vector<std::string>* releases = nullptr) : releases_(releases) {}
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!(iid == IID_InitDriver || iid == IID_HostDriver || iid == IID_IUnknown)) return E_NOINTERFACE;
    *out = static_cast<InitDriver*>(this);
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override {
    if (releases_) releases_->push_back("driver");
    return --refs;
  }
  HRESULT Reserved1() override { return S_OK; }
  HRESULT Reserved2() override { return S_OK; }
  HRESULT GetTunerType(uint16_t* type) override {
    ++queries;
    *type = tuner_type;
    return result;
  }
  uint16_t tuner_type = TUNER_DVB_T;
  HRESULT result = S_OK;
  int queries = 0;
  std::atomic<uint32_t> refs{1};

 private:
  std::vector<std::string>* releases_;
};

}  // namespace testhost
