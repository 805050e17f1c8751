// The host's section filters: each by its handle, with its match and mask, and the demultiplexer
// whose section assemblers serve them. Who asks for a PID is the demultiplexer's table to say; this
// table only knows the filters.
//
// Removal. remove() with `wait` returns only when the filter's callback is not running and will not
// be called again: a filter is checked under the lock just before each call, and a removal waits
// while that filter's callback runs. From inside a callback the caller must not wait, since the only
// callback that could be running is its own.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

#include "host/demux.h"
#include "contract/host_contract.h"

namespace host {

// The longest match/mask a filter may have.
inline constexpr uint32_t MAX_FILTER_LENGTH = 16;

class FilterTable {
 public:
  // The demultiplexer hands its sections to `router`, which passes them on to deliver().
  explicit FilterTable(SectionSink& router) : demux_(router) {}
  FilterTable(const FilterTable&) = delete;
  FilterTable& operator=(const FilterTable&) = delete;

  // The checks and results of AddSectionFilter; the new handle (never 0) goes to `handle`.
  HRESULT add(uint32_t pid, const uint8_t* match, const uint8_t* mask, uint32_t length, SectionCallback callback,
              void* context, uint32_t& handle);
  HRESULT remove(uint32_t handle, bool wait);
  size_t size() const;
  // Calls every filter of `pid` whose bytes match, on the thread that feeds the demultiplexer.
  void deliver(uint16_t pid, std::span<const uint8_t> section);
  uint64_t delivered() const noexcept { return delivered_.load(std::memory_order_relaxed); }

  Demux& demux() noexcept { return demux_; }
  const Demux& demux() const noexcept { return demux_; }

 private:
  struct Filter {
    uint16_t pid;
    uint32_t length;
    std::array<uint8_t, MAX_FILTER_LENGTH> match;
    std::array<uint8_t, MAX_FILTER_LENGTH> mask;
    SectionCallback callback;
    void* context;
  };
  static bool matches(const Filter& f, std::span<const uint8_t> section) noexcept;

  mutable std::mutex mutex_;
  std::condition_variable callback_done_;
  std::unordered_map<uint32_t, Filter> filters_;
  uint32_t next_handle_ = 1;
  uint32_t running_handle_ = 0;
  std::vector<uint32_t> matching_;  // the delivering thread's scratch list
  std::atomic<uint64_t> delivered_{0};
  Demux demux_;  // the capture's; for a live source also the PSI requests'
};

}  // namespace host
