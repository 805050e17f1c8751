// The contract between the analyzer host and its plug-ins.
//
// Interfaces are abstract classes on a reference-counted, query-by-id base, so that a host and a
// plug-in built apart (the plug-in is a loadable module) meet only through these vtables. Results are
// 0 for success and 0x80004005 for failure; interface methods never throw. Slots that the plug-in never
// calls are kept as reserved methods so that every interface keeps its slot order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

struct IID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const IID& a, const IID& b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }
};
using REFIID = const IID&;
using CLSID = IID;

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", upper case, as registries write them.
std::string iid_to_string(const IID& id);

// Interface ids of the host contract.
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_OrvexFltMgr = {0x6d1f3a20, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
inline constexpr IID IID_ISectionFilter = {0x6d1f3a21, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
inline constexpr IID IID_ISISection = {0x6d1f3a22, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
// The driver is offered under one id and queried under a second one.
inline constexpr IID IID_HostDriver = {0x6d1f3a23, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
inline constexpr IID IID_InitDriver = {0x6d1f3a24, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
inline constexpr IID IID_IHostPlugin = {0x6d1f3a25, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};
inline constexpr IID IID_IHostPluginSink = {0x6d1f3a26, 0x5c1e, 0x4b7a, {0x9e, 0x21, 0x3a, 0x51, 0x0c, 0x7d, 0x40, 0x01}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Releases an interface pointer and nulls it.
template <typename T>
inline void safe_release(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

// The filter manager: the object through which a plug-in reaches ISectionFilter and ISISection.
class OrvexFltMgr : public IUnknown {};

// Called once per delivered section on the host's delivery thread: (context, the section's byte count,
// the section from table_id on). The bytes are valid only during the call. The byte count is ours: a
// plug-in may use it only as a bound.
using SectionCallback = void (*)(void* context, uint32_t section_size, const uint8_t* section);

class ISectionFilter : public IUnknown {
 public:
  // 1. Installs a filter on pid: a section passes when, for each of its first `length` bytes,
  //    (byte & mask[i]) == (match[i] & mask[i]). Negative on failure, else *handle is written.
  virtual HRESULT AddSectionFilter(uint32_t pid, const uint8_t* match, const uint8_t* mask, uint32_t length,
                                   SectionCallback callback, void* context, uint32_t* handle) = 0;
  // 2. Once this returns, the filter's callback is not running and will never be called again.
  virtual HRESULT RemoveSectionFilter(uint32_t handle) = 0;
};

class InitDriver : public IUnknown {
 public:
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  // 3. Negative on failure. Types 4 and 8 are ATSC tuners.
  virtual HRESULT GetTunerType(uint16_t* tuner_type) = 0;
};

// Tuner types a driver reports.
enum : uint16_t { TUNER_DVB_S = 1, TUNER_DVB_C = 2, TUNER_DVB_T = 3, TUNER_ATSC = 4, TUNER_ATSC_CABLE = 8 };

// One table to fetch: 100 bytes, little-endian fields at fixed offsets.
struct SectionRequest {
  uint8_t bytes[100];

  static SectionRequest make(uint32_t pid, uint8_t table_id, bool select_by_extension = false,
                             uint16_t table_id_extension = 0) {
    SectionRequest r{};
    r.put32(0, pid);
    r.bytes[4] = table_id;
    r.put32(28, select_by_extension ? 1u : 0u);
    r.bytes[32] = static_cast<uint8_t>(table_id_extension & 0xFF);
    r.bytes[33] = static_cast<uint8_t>(table_id_extension >> 8);
    return r;
  }
  uint32_t pid() const { return get32(0); }
  uint8_t table_id() const { return bytes[4]; }
  bool select_by_extension() const { return get32(28) != 0; }
  uint16_t table_id_extension() const { return static_cast<uint16_t>(bytes[32] | (bytes[33] << 8)); }

 private:
  void put32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  uint32_t get32(size_t at) const {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = (v << 8) | bytes[at + i];
    return v;
  }
};
static_assert(sizeof(SectionRequest) == 100);

// One reply per request: how many sections came, and an array of that many pointers to whole sections
// (from table_id on). The sections and the array come from task_alloc; the receiver frees each section
// and then the array with task_free, and touches neither when count <= 0.
struct SectionReply {
  int32_t count;
  uint8_t** sections;
};

// The task allocator that host and plug-in share for everything handed across.
void* task_alloc(size_t size);
void task_free(void* p);

// At most this many requests (and replies) in one RequestSections call.
constexpr uint32_t MAX_SECTION_REQUESTS = 255;

class ISISection : public IUnknown {
 public:
  virtual HRESULT Reserved1() = 0;
  // 2. Blocks until every request has its sub-table, the timeout (seconds) passes, the source ends, or
  //    CancelRequest is called. A request that got nothing has count 0.
  virtual HRESULT RequestSections(uint32_t count, const SectionRequest* requests, uint32_t timeout_seconds,
                                  SectionReply* replies) = 0;
  virtual HRESULT Reserved3() = 0;
  // 4. Makes a blocking RequestSections return promptly.
  virtual HRESULT CancelRequest() = 0;
};

// A plug-in's menu: the host owns it once GetMenu has handed it over, and frees it with delete.
struct HostMenuItem {
  uint32_t command;
  std::string text;
};
struct HostMenu {
  uint32_t id = 0;
  std::vector<HostMenuItem> items;
};

class IHostPlugin : public IUnknown {
 public:
  virtual HRESULT StartPlugin(uint32_t a, uint32_t b, uint32_t c) = 0;
  virtual HRESULT Reserved() = 0;
  // A new string each call, allocated with task_alloc; the caller frees it with task_free.
  virtual HRESULT GetName(char** name) = 0;
  virtual HRESULT GetMenu(HostMenu** menu) = 0;
  virtual HRESULT OnCommand(uint32_t value, uint32_t command) = 0;
  virtual HRESULT SetInterface(REFIID iid, IUnknown* host_object) = 0;
};

class IHostPluginSink : public IUnknown {
 public:
  virtual HRESULT Notify() = 0;
  virtual HRESULT Notify1(uint32_t a) = 0;
  virtual HRESULT Notify2(uint32_t a) = 0;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;
  virtual HRESULT LockServer(int lock) = 0;
};
