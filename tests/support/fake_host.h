// Hosts for the tests above the contract. FakeHost, for the dialog, scan and window tests, is one
// object that is the filter manager, the section filter service and the PSI/SI section service, with
// answers that a test sets and a record of what it was asked. FakeFilterManager and FakeDriver, for the
// plug-in's entry points, only answer what a test sets.
//
// PSI requests are answered from tables the test registers by (PID, table_id, table_id_extension);
// reply sections come from the task allocator, as the contract says, so a plug-in that forgets to
// free them leaks under the sanitizer build. Section filters are recorded; deliver() hands a section
// to the callbacks of every installed filter on its PID whose match/mask lets it through.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "contract/host_contract.h"

namespace fakehost {

using Bytes = std::vector<uint8_t>;

struct InstalledFilter {
  uint32_t pid = 0;
  Bytes match, mask;
  SectionCallback callback = nullptr;
  void* context = nullptr;
  uint32_t handle = 0;
};

class FakeHost : public OrvexFltMgr, public ISectionFilter, public ISISection {
 public:
  // ---- what the test sets
  bool offer_sisection = true;
  // RequestSections answers this status on the call with this index (0 the first call); -1: never.
  int fail_call = -1;
  // RequestSections blocks until CancelRequest, then fails.
  bool block_until_cancel = false;

  // Answers requests for (pid, table_id[, table_id_extension]) with these sections, in this order.
  void add_table(uint32_t pid, uint8_t table_id, std::vector<Bytes> sections, int table_id_extension = -1) {
    tables_[{pid, table_id, table_id_extension}] = std::move(sections);
  }

  // ---- what the test reads
  std::vector<std::vector<SectionRequest>> calls() const { return locked(calls_); }
  int cancels() const { return cancels_.load(); }
  std::vector<InstalledFilter> added() const { return locked(added_); }
  std::vector<uint32_t> removed() const { return locked(removed_); }
  size_t installed_count() const { return locked(installed_).size(); }
  // References handed out and not yet given back.
  int32_t outstanding_refs() const { return refs_.load(); }

  // Hands one section to every installed filter of pid that lets it through; returns how many.
  int deliver(uint32_t pid, std::span<const uint8_t> section) {
    std::vector<InstalledFilter> targets;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& [handle, f] : installed_) {
        bool pass = f.pid == pid && section.size() >= f.match.size();
        for (size_t i = 0; pass && i < f.match.size(); ++i)
          pass = ((section[i] ^ f.match[i]) & f.mask[i]) == 0;
        if (pass) targets.push_back(f);
      }
    }
    for (const InstalledFilter& f : targets)
      f.callback(f.context, static_cast<uint32_t>(section.size()), section.data());
    return static_cast<int>(targets.size());
  }

  // ---- IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_OrvexFltMgr || iid == IID_IUnknown)
      *out = static_cast<OrvexFltMgr*>(this);
    else if (iid == IID_ISectionFilter)
      *out = static_cast<ISectionFilter*>(this);
    else if (iid == IID_ISISection && offer_sisection)
      *out = static_cast<ISISection*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return static_cast<uint32_t>(++refs_); }
  uint32_t Release() override { return static_cast<uint32_t>(--refs_); }

  // ---- ISectionFilter
  HRESULT AddSectionFilter(uint32_t pid, const uint8_t* match, const uint8_t* mask, uint32_t length,
                           SectionCallback callback, void* context, uint32_t* handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    InstalledFilter f;
    f.pid = pid;
    f.match.assign(match, match + length);
    f.mask.assign(mask, mask + length);
    f.callback = callback;
    f.context = context;
    f.handle = next_handle_++;
    *handle = f.handle;
    added_.push_back(f);
    installed_[f.handle] = f;
    return S_OK;
  }
  HRESULT RemoveSectionFilter(uint32_t handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    removed_.push_back(handle);
    return installed_.erase(handle) ? S_OK : E_FAIL;
  }

  // ---- ISISection
  HRESULT Reserved1() override { return S_OK; }
  HRESULT Reserved3() override { return S_OK; }
  HRESULT RequestSections(uint32_t count, const SectionRequest* requests, uint32_t /*timeout_seconds*/,
                          SectionReply* replies) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const int index = static_cast<int>(calls_.size());
    calls_.emplace_back(requests, requests + count);
    if (block_until_cancel) {
      cancelled_cv_.wait(lock, [this] { return cancel_pending_; });
      cancel_pending_ = false;
      return E_FAIL;
    }
    if (index == fail_call) return E_FAIL;
    for (uint32_t i = 0; i < count; ++i) {
      const SectionRequest& r = requests[i];
      auto it = tables_.find({r.pid(), r.table_id(), r.select_by_extension() ? r.table_id_extension() : -1});
      if (it == tables_.end() || it->second.empty()) {
        replies[i] = {0, nullptr};
        continue;
      }
      const std::vector<Bytes>& sections = it->second;
      auto** array = static_cast<uint8_t**>(task_alloc(sections.size() * sizeof(uint8_t*)));
      for (size_t k = 0; k < sections.size(); ++k) {
        array[k] = static_cast<uint8_t*>(task_alloc(sections[k].size()));
        std::memcpy(array[k], sections[k].data(), sections[k].size());
      }
      replies[i] = {static_cast<int32_t>(sections.size()), array};
    }
    return S_OK;
  }
  HRESULT CancelRequest() override {
    ++cancels_;
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_pending_ = true;
    cancelled_cv_.notify_all();
    return S_OK;
  }

 private:
  template <typename T>
  T locked(const T& member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return member;
  }

  mutable std::mutex mutex_;
  std::condition_variable cancelled_cv_;
  bool cancel_pending_ = false;
  std::map<std::tuple<uint32_t, uint8_t, int>, std::vector<Bytes>> tables_;
  std::vector<std::vector<SectionRequest>> calls_;
  std::atomic<int> cancels_{0};
  std::atomic<int32_t> refs_{0};
  std::vector<InstalledFilter> added_;
  std::map<uint32_t, InstalledFilter> installed_;
  std::vector<uint32_t> removed_;
  uint32_t next_handle_ = 0x100;
};

// One interface of the plug-in's entry points: answers its own IIDs and IUnknown and counts references.
template <typename Interface>
class Counted : public Interface {
 public:
  explicit Counted(std::vector<IID> iids) : iids_(std::move(iids)) {}
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!(iid == IID_IUnknown) && std::ranges::find(iids_, iid) == iids_.end()) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override { return --refs; }
  std::atomic<uint32_t> refs{1};

 private:
  std::vector<IID> iids_;
};

struct FakeFilterManager : Counted<OrvexFltMgr> {
  FakeFilterManager() : Counted({IID_OrvexFltMgr}) {}
};

struct FakeDriver : Counted<InitDriver> {
  FakeDriver() : Counted({IID_InitDriver, IID_HostDriver}) {}
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
};

}  // namespace fakehost
