#include "psiscan/psi_scan_dlg.h"

#include <sys/utsname.h>

#include <array>
#include <cstdio>
#include <span>

#include "log/debug_log.h"
#include "bytes/byte_reader.h"

namespace psiscan {

namespace {

// Whether a reply holds a first section to parse.
bool has_first_section(const SectionReply& reply) {
  return reply.count > 0 && reply.sections && reply.sections[0];
}

// A reply section as the host hands it over: a pointer to whole section bytes from table_id on, whose
// extent its own section_length gives.
std::span<const uint8_t> reply_section(const uint8_t* section) {
  bytes::ByteReader header(section, 3);
  header.skip(1);
  const size_t section_length = header.be16() & 0x0FFFu;
  return {section, 3 + section_length};
}

// The sections of one reply and their pointer array came from the host's task allocator.
void release_reply(SectionReply& reply) {
  if (reply.count <= 0 || !reply.sections) return;
  std::span<uint8_t*> sections(reply.sections, static_cast<size_t>(reply.count));
  for (uint8_t* section : sections) task_free(section);
  task_free(reply.sections);
  reply.sections = nullptr;
  reply.count = 0;
}

}  // namespace

CPSIScanDlg::CPSIScanDlg(OrvexFltMgr* filter_manager, ui::Dialog* parent, bool scan_cat)
    : ui::Dialog(resources::DIALOG_PSI_SCAN, parent), m_scan_cat(scan_cat ? 1u : 0u) {
  if (!filter_manager) return;
  void* out = nullptr;
  if (FAILED(filter_manager->QueryInterface(IID_OrvexFltMgr, &out)) || !out) return;
  m_filter_manager = static_cast<OrvexFltMgr*>(out);
  out = nullptr;
  const HRESULT hr = m_filter_manager->QueryInterface(IID_ISISection, &out);
  if (FAILED(hr) || !out) {
    logio::g_log.log(1, "Failed QueryInterface(IID_ISISection) (%#x)", static_cast<unsigned>(hr));
    return;
  }
  m_sisection = static_cast<ISISection*>(out);
}

CPSIScanDlg::~CPSIScanDlg() {
  // The window normally ends only through OnEndStreamThread, which has joined the worker. A window
  // ended from outside (a program driving it) must not leave a worker writing into a freed object.
  if (m_worker) {
    if (m_sisection) m_sisection->CancelRequest();
    m_worker->join();
    delete m_worker;
    m_worker = nullptr;
  }
  safe_release(m_sisection);
  safe_release(m_filter_manager);
}

std::pair<int, int> CPSIScanDlg::system_version() const {
  utsname name{};
  if (::uname(&name) != 0) return {0, 0};
  int major = 0, minor = 0;
  if (std::sscanf(name.release, "%d.%d", &major, &minor) != 2) return {0, 0};
  return {major, minor};
}

bool CPSIScanDlg::OnInitDialog() {
  const auto [major, minor] = system_version();
  m_marquee = major == 5 && minor > 0;

  m_cancel = button(resources::ID_CANCEL);
  const int W = width(), H = height();
  const int w = W * 172 / 186;
  const ui::Rect bar{(W - w) / 2, H * 7 / 49, w, H * 14 / 49};
  m_progress = dynamic_cast<ui::ProgressBar*>(&create_control(
      resources::ControlKind::progress_bar, resources::PSI_SCAN_PROGRESS, bar, {},
      m_marquee ? static_cast<uint32_t>(resources::PROGRESS_MARQUEE) : 0u));
  if (m_marquee) {
    m_progress->set_marquee(true, 40);
  } else {
    m_progress->set_range(0, 100);
    m_progress->set_pos(0);
    set_timer(resources::PSI_SCAN_TIMER, 5);
  }

  if (!m_sisection) {
    end_dialog(ui::RESULT_CANCEL);
    return true;
  }
  // The thread object outlives the thread: OnEndStreamThread takes its exit code and deletes it.
  m_worker = new ui::Thread([this] { return threadproc(); }, true);
  m_worker->resume();
  return true;
}

void CPSIScanDlg::OnCancel() {
  if (!m_sisection) return;
  m_sisection->CancelRequest();
  if (m_cancel) m_cancel->enable(false);
}

void CPSIScanDlg::on_timer(uint32_t id) {
  if (id != resources::PSI_SCAN_TIMER || !m_progress) return;
  m_position = (m_position + 1) % 100;
  m_progress->set_pos(m_position);
}

// There is no COM apartment on this platform; joining one cannot fail. The calls stay so that the
// worker keeps its shape: join, scan, leave.
bool CPSIScanDlg::join_apartment() { return true; }
void CPSIScanDlg::leave_apartment() {}

uint32_t CPSIScanDlg::threadproc() {
  logio::g_log.log(4, "CPSIScanDlg::threadproc()");
  uint32_t result = 2;
  if (join_apartment()) {
    result = scansi();
    logio::g_log.log(4, "PSI scanning thread completed");
    leave_apartment();
  }
  post([this] { OnEndStreamThread(); });
  return result;
}

void CPSIScanDlg::OnEndStreamThread() {
  logio::g_log.log(4, "CPSIScanDlg::OnEndStreamThread()");
  if (!m_worker) return;
  m_worker->join();
  const uint32_t exit_code = m_worker->exit_code();
  delete m_worker;
  m_worker = nullptr;
  if (!m_marquee) kill_timer(resources::PSI_SCAN_TIMER);
  end_dialog(static_cast<int>(exit_code));
}

uint32_t CPSIScanDlg::scansi() {
  logio::g_log.log(4, "CPSIScanDlg::scansi()");
  PsiScanResult result;
  std::array<SectionRequest, MAX_SECTION_REQUESTS> requests{};
  std::array<SectionReply, MAX_SECTION_REQUESTS> replies{};

  uint32_t count = 0;
  requests[count++] = SectionRequest::make(0x0000, 0x00);
  if (m_scan_cat) {
    logio::g_log.log(4, "CAT scanning enabled");
    requests[count++] = SectionRequest::make(0x0001, 0x01);
  }
  if (m_sisection->RequestSections(count, requests.data(), 30, replies.data()) != 0) return 1;

  logio::g_log.log(4, "Got %d PAT sections", static_cast<int>(replies[0].count));
  if (has_first_section(replies[0])) {
    try {
      result.pat.Parse(reply_section(replies[0].sections[0]), false);
    } catch (const sitables::error& e) {
      logio::g_log.log(1, "Error parsing PAT section: %s", e.what());
      release_reply(replies[0]);
      if (m_scan_cat) release_reply(replies[1]);
      return 2;
    }
  }
  release_reply(replies[0]);

  if (m_scan_cat) {
    logio::g_log.log(4, "Got %d CAT sections", static_cast<int>(replies[1].count));
    if (has_first_section(replies[1])) {
      try {
        result.cat.Parse(reply_section(replies[1].sections[0]), false);
      } catch (const sitables::error& e) {
        logio::g_log.log(1, "Error parsing CAT section: %s", e.what());
      }
    }
    release_reply(replies[1]);
  }

  // A PAT section has room for 253 programmes, so the PMT requests always fit.
  count = 0;
  for (size_t i = 0; i < result.pat.get_program_info_size() && count < MAX_SECTION_REQUESTS; ++i) {
    const sitables::program_info& entry = result.pat.get_program_info(i);
    if (entry.program_number == 0) continue;
    requests[count++] =
        SectionRequest::make(entry.PID, 0x02, true, static_cast<uint16_t>(entry.program_number));
  }
  replies = {};
  if (m_sisection->RequestSections(count, requests.data(), 30, replies.data()) != 0) return 1;

  for (uint32_t k = 0; k < count; ++k) {
    if (!has_first_section(replies[k])) {
      release_reply(replies[k]);
      continue;
    }
    sitables::PmtDVB pmt(-1);
    try {
      pmt.Parse(reply_section(replies[k].sections[0]), false);
      result.pmts.insert_or_assign(static_cast<int32_t>(pmt.program_number()), pmt);
    } catch (const sitables::error& e) {
      logio::g_log.log(1, "Error parsing PMT section: %s", e.what());
    }
    release_reply(replies[k]);
  }

  m_result = result;
  return 1;
}

}  // namespace psiscan
