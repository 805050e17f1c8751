#include "app/pid_finder.h"

#include <condition_variable>
#include <mutex>
#include <set>

#include "host/host.h"

namespace app {

namespace {

struct Finder {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
  std::set<uint32_t> pids;
};

struct PidContext {
  Finder* finder;
  uint32_t pid;
};

void on_section(void* context, uint32_t size, const uint8_t* section) {
  auto* c = static_cast<PidContext*>(context);
  if (size < 1) return;
  const uint8_t table_id = section[0];
  if (table_id != 0x3B && table_id != 0x3C) return;
  std::lock_guard<std::mutex> lock(c->finder->mutex);
  c->finder->pids.insert(c->pid);
}

}  // namespace

PidFinding find_dsmcc_pids(const std::string& source) {
  PidFinding finding;
  host::Host host;
  if (std::string error = host.open(source); !error.empty()) {
    finding.error = error;
    return finding;
  }
  if (host.is_live()) return finding;

  void* out = nullptr;
  if (FAILED(host.filter_manager()->QueryInterface(IID_ISectionFilter, &out)) || !out) {
    finding.error = "the host offers no section filters";
    return finding;
  }
  auto* filters = static_cast<ISectionFilter*>(out);
  Finder finder;
  host.set_end_of_input_handler([&finder] {
    std::lock_guard<std::mutex> lock(finder.mutex);
    finder.ended = true;
    finder.ended_cv.notify_all();
  });

  constexpr uint32_t first_pid = 0x0020, last_pid = 0x1FFE;
  std::vector<PidContext> contexts;
  contexts.reserve(last_pid - first_pid + 1);
  std::vector<uint32_t> handles;
  const uint8_t match = 0x38, mask = 0x38;
  for (uint32_t pid = first_pid; pid <= last_pid; ++pid) {
    contexts.push_back({&finder, pid});
    uint32_t handle = 0;
    if (SUCCEEDED(filters->AddSectionFilter(pid, &match, &mask, 1, on_section, &contexts.back(), &handle)))
      handles.push_back(handle);
  }
  if (host.begin_capture()) {
    std::unique_lock<std::mutex> lock(finder.mutex);
    finder.ended_cv.wait(lock, [&finder] { return finder.ended; });
  }
  for (uint32_t handle : handles) filters->RemoveSectionFilter(handle);
  filters->Release();
  host.stop();
  finding.searched = true;
  finding.pids.assign(finder.pids.begin(), finder.pids.end());
  return finding;
}

}  // namespace app
