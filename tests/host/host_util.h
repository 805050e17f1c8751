// Captures through the host in tests: a filter callback that records what it gets, the end of input
// awaited, a source opened on standard input, and a whole capture of an opened source with one filter.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "contract/host_contract.h"
#include "host/host.h"
#include "tests/support/helpers.h"
#include "tests/support/psi_builder.h"
#include "tests/support/ts_builder.h"

namespace hosttest {

using testsupport::Bytes;
constexpr uint16_t kPid = 0x0BB9;

// What one filter received. A byte count other than the section's own length marks the section, so
// that it can never equal what was sent.
struct SectionLog {
  std::mutex mutex;
  std::vector<Bytes> sections;
  static void callback(void* context, uint32_t size, const uint8_t* section) {
    auto* log = static_cast<SectionLog*>(context);
    Bytes bytes(section, section + size);
    if (size < 3 || 3u + (((section[1] & 0x0F) << 8) | section[2]) != size) bytes.push_back(0xEE);
    std::lock_guard lock(log->mutex);
    log->sections.push_back(std::move(bytes));
  }
  std::vector<Bytes> snapshot() {
    std::lock_guard lock(mutex);
    return sections;
  }
  size_t count() { return snapshot().size(); }
};

// The end of the input, told by the host's delivery thread (to a flag that lives as long as it).
struct EndOfInput {
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
  explicit EndOfInput(host::Host& host) {
    host.set_end_of_input_handler([e = ended] { *e = true; });
  }
  bool wait() const {
    for (int waited = 0; !*ended && waited < 60000; waited += 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return *ended;
  }
};

// The host's section filter service (ISectionFilter) or PSI/SI section service (ISISection).
template <typename Service>
Service* service(host::Host& host) {
  void* out = nullptr;
  host.filter_manager()->QueryInterface(
      std::is_same_v<Service, ISISection> ? IID_ISISection : IID_ISectionFilter, &out);
  return static_cast<Service*>(out);
}

// The host opened on standard input redirected from `file`; the process's own is put back after.
inline std::string open_on_stdin(host::Host& host, const std::string& file) {
  const int saved = ::dup(STDIN_FILENO), fd = ::open(file.c_str(), O_RDONLY);
  ::dup2(fd, STDIN_FILENO);
  ::close(fd);
  std::string error = host.open("-");
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  return error;
}

struct FilterArgs {
  uint16_t pid;
  Bytes match, mask;
};

// One filter, the whole input delivered into `log`, the filter removed. True when the input ended.
inline bool capture_to_end(host::Host& host, const FilterArgs& f, SectionLog& log) {
  const EndOfInput end(host);
  ISectionFilter* filters = service<ISectionFilter>(host);
  uint32_t handle = 0;
  bool ended = false;
  if (filters->AddSectionFilter(f.pid, f.match.data(), f.mask.data(), static_cast<uint32_t>(f.match.size()),
                                &SectionLog::callback, &log, &handle) == S_OK) {
    host.begin_capture();
    ended = end.wait();
    filters->RemoveSectionFilter(handle);
  }
  filters->Release();
  return ended;
}

// A section of exactly `size` bytes (3 and up) whose bytes tell it apart by `seed`.
inline Bytes section_of(size_t size, uint8_t table_id, uint8_t seed) {
  Bytes body(size < 12 ? size - 3 : size - 12);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(seed * 3 + i * 7);
  if (size < 12) return testsupport::short_section(table_id, true, body);
  testsupport::SectionSpec h;
  h.table_id = table_id;
  h.table_id_extension = seed;
  return testsupport::long_section(h, body);
}

inline std::vector<Bytes> numbered_sections(size_t count, size_t size = 50) {
  std::vector<Bytes> out;
  for (size_t k = 0; k < count; ++k) out.push_back(section_of(size + k % 700, 0x3C, static_cast<uint8_t>(k)));
  return out;
}

// The sections of a reply, copied; the reply released the way a plug-in releases it.
inline std::vector<Bytes> take(SectionReply& reply) {
  std::vector<Bytes> out;
  for (int32_t k = 0; k < reply.count; ++k) {
    out.emplace_back(reply.sections[k], reply.sections[k] + 3 + (((reply.sections[k][1] & 0x0F) << 8) | reply.sections[k][2]));
    task_free(reply.sections[k]);
  }
  if (reply.count > 0) task_free(reply.sections);
  reply = {0, nullptr};
  return out;
}

}  // namespace hosttest
