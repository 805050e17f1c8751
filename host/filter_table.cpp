#include "host/filter_table.h"

namespace host {

HRESULT FilterTable::add(uint32_t pid, const uint8_t* match, const uint8_t* mask, uint32_t length,
                         SectionCallback callback, void* context, uint32_t& handle) {
  if (!callback || (length > 0 && (!match || !mask))) return E_POINTER;
  if (pid >= PID_COUNT || length > MAX_FILTER_LENGTH) return E_FAIL;
  Filter f{static_cast<uint16_t>(pid), length, {}, {}, callback, context};
  for (uint32_t i = 0; i < length; ++i) {
    f.match[i] = match[i];
    f.mask[i] = mask[i];
  }
  std::lock_guard lock(mutex_);
  handle = next_handle_++;
  if (next_handle_ == 0) next_handle_ = 1;
  filters_.emplace(handle, f);
  demux_.subscribe(f.pid, handle);
  return S_OK;
}

HRESULT FilterTable::remove(uint32_t handle, bool wait) {
  std::unique_lock lock(mutex_);
  const auto it = filters_.find(handle);
  if (it == filters_.end()) return E_FAIL;
  const uint16_t pid = it->second.pid;
  filters_.erase(it);
  demux_.unsubscribe(pid, handle);
  if (wait) callback_done_.wait(lock, [&] { return running_handle_ != handle; });
  return S_OK;
}

size_t FilterTable::size() const {
  std::lock_guard lock(mutex_);
  return filters_.size();
}

bool FilterTable::matches(const Filter& f, std::span<const uint8_t> section) noexcept {
  if (section.size() < f.length) return false;
  for (uint32_t i = 0; i < f.length; ++i) {
    if (((section[i] ^ f.match[i]) & f.mask[i]) != 0) return false;
  }
  return true;
}

void FilterTable::deliver(uint16_t pid, std::span<const uint8_t> section) {
  std::unique_lock lock(mutex_);
  // PSI requests stand in the demultiplexer's table as nobody's (0), which no filter's handle is.
  demux_.subscribers(pid, matching_);
  std::erase_if(matching_, [&](uint32_t h) {
    const auto f = filters_.find(h);
    return f == filters_.end() || !matches(f->second, section);
  });
  const auto size = static_cast<uint32_t>(section.size());
  for (size_t k = 0; k < matching_.size(); ++k) {
    // Looked up again: an earlier callback of this section may have removed it.
    const auto f = filters_.find(matching_[k]);
    if (f == filters_.end()) continue;
    const SectionCallback callback = f->second.callback;
    void* const context = f->second.context;
    running_handle_ = matching_[k];
    lock.unlock();
    callback(context, size, section.data());
    delivered_.fetch_add(1, std::memory_order_relaxed);
    lock.lock();
    running_handle_ = 0;
    callback_done_.notify_all();
  }
}

}  // namespace host
