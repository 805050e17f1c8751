#include "capture/dsmcc_dlg.h"

#include <boost/regex.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/dsmcc_scanning.h"
#include "capture/page_save.h"
#include "carousel/data_carousel_dlg.h"
#include "carousel/object_carousel_dlg.h"
#include "inspector/section_dlg.h"
#include "log/debug_log.h"
#include "psiscan/dsmcc_streams.h"
#include "psiscan/psi_scan_dlg.h"

namespace capture {

namespace {

// Compiled on first use and kept for the life of the module.
const boost::regex& pair_pattern() {
  static const boost::regex pattern("Prg (0x[a-f0-9]{4,4}) PID (0x[a-f0-9]{4,4})");
  return pattern;
}

// The filter that lets tables 0x38 to 0x3F through: the table_id masked with 0x38 equals 0x38.
constexpr uint8_t FILTER_MATCH = 0x38;
constexpr uint8_t FILTER_MASK = 0x38;
constexpr uint32_t FILTER_LENGTH = 1;

}  // namespace

std::string pair_text(uint32_t program_number, uint32_t pid) {
  char text[64];
  std::snprintf(text, sizeof text, "Prg 0x%04x PID 0x%04x", static_cast<unsigned>(program_number),
                static_cast<unsigned>(pid));
  return text;
}

uint64_t auto_base_value(const std::string& text) {
  return std::strtoull(text.c_str(), nullptr, 0);
}

bool parse_pair_text(std::string_view text, uint32_t& program_number, uint32_t& pid) {
  boost::match_results<std::string_view::const_iterator> groups;
  if (!boost::regex_match(text.begin(), text.end(), groups, pair_pattern())) return false;
  // Four hexadecimal digits each: the values fit.
  program_number = static_cast<uint32_t>(auto_base_value(groups[1].str()));
  pid = static_cast<uint32_t>(auto_base_value(groups[2].str()));
  return true;
}

CDSMCCDlg::CDSMCCDlg(IUnknown* filter_manager_host_object, ui::Dialog* parent)
    : ui::Dialog(resources::DIALOG_ANALYSIS, parent) {
  bind_controls();
  if (filter_manager_host_object) {
    void* out = nullptr;
    if (SUCCEEDED(filter_manager_host_object->QueryInterface(IID_OrvexFltMgr, &out)) && out) {
      m_filter_manager = static_cast<OrvexFltMgr*>(out);
      out = nullptr;
      if (SUCCEEDED(m_filter_manager->QueryInterface(IID_ISectionFilter, &out)) && out)
        m_section_filter = static_cast<ISectionFilter*>(out);
    }
  }
  m_data_page = std::make_unique<carousel::CDataCarouselDlg>(this);
  m_object_page = std::make_unique<carousel::CObjectCarouselDlg>(this);
  m_section_page = std::make_unique<inspector::CSectionDlg>(&m_store, this);

  on_command(resources::ANALYSIS_START, [this] { Start(); });
  on_command(resources::ANALYSIS_ADD, [this] { add_from_edits(); });
  on_command(resources::ANALYSIS_REMOVE, [this] { remove_selected(); });
  on_command(resources::ANALYSIS_MUX_ADD, [this] { add_selected_mux_entries(); });
  // "Rescan..." adds the selected MUX entries, like MUX Add; a double click in the MUX list rescans.
  on_command(resources::ANALYSIS_RESCAN, [this] { add_selected_mux_entries(); });
  on_notify(resources::ANALYSIS_MUX_LIST, ui::Notify::double_clicked, [this] { rescan(); });
}

CDSMCCDlg::~CDSMCCDlg() {
  remove_filters();
  m_model = carousel::CarouselModel{};
  m_intake.clear_store();
  m_section_page.reset();
  m_object_page.reset();
  m_data_page.reset();
  safe_release(m_section_filter);
  safe_release(m_filter_manager);
}

// The controls exist from construction on, so the lists can be used before the window shows.
void CDSMCCDlg::bind_controls() {
  m_start = button(resources::ANALYSIS_START);
  m_pid_edit = edit(resources::ANALYSIS_PID_EDIT);
  m_ok = button(resources::ID_OK);
  m_tabs = tabs(resources::ANALYSIS_TABS);
  m_capture_list = list_box(resources::ANALYSIS_CAPTURE_LIST);
  m_add = button(resources::ANALYSIS_ADD);
  m_remove = button(resources::ANALYSIS_REMOVE);
  m_mux_list = list_box(resources::ANALYSIS_MUX_LIST);
  m_rescan = button(resources::ANALYSIS_RESCAN);
  m_mux_add = button(resources::ANALYSIS_MUX_ADD);
  m_prg_edit = edit(resources::ANALYSIS_PRG_EDIT);
}

bool CDSMCCDlg::OnInitDialog() {
  bind_controls();
  m_data_page->create(*this, m_tabs);
  m_object_page->create(*this, m_tabs);
  m_section_page->create(*this, m_tabs);
  if (m_tabs) {
    m_tabs->insert_tab("Section", m_section_page.get());
    m_tabs->insert_tab("Data Carousel", m_data_page.get());
    m_tabs->insert_tab("Object Carousel", m_object_page.get());
    const int y = 28 * m_tabs->row_count();
    m_section_page->move_to(4, y);
    m_data_page->move_to(4, y);
    m_object_page->move_to(4, y);
  }
  wire_save_buttons(*this);
  run_psi_scan();
  return true;
}

void CDSMCCDlg::run_psi_scan() {
  psiscan::CPSIScanDlg scan(m_filter_manager, this, false);
  if (scan.run_modal() == ui::RESULT_OK) init_psi_list(scan.result());
}

void CDSMCCDlg::init_psi_list(const psiscan::PsiScanResult& result) {
  logio::g_log.log(4, "CDSMCCDlg::init_psi_list()");
  if (!m_mux_list) return;
  for (const psiscan::DsmccStream& stream : psiscan::select_dsmcc_streams(result))
    m_mux_list->insert_string(-1, pair_text(stream.program_number, stream.pid));
}

void CDSMCCDlg::rescan() {
  if (m_mux_list) m_mux_list->reset();
  run_psi_scan();
}

bool CDSMCCDlg::add_pair(uint32_t program_number, uint32_t pid) {
  // A number above 0xFFFF would give a text that the pattern cannot read back, so Remove could never
  // take the pair out of the store again.
  if (program_number > 0xFFFF || pid > 0xFFFF) {
    logio::g_log.log(2, "pair not added: Prg %#x PID %#x do not fit the list",
                     static_cast<unsigned>(program_number), static_cast<unsigned>(pid));
    return false;
  }
  const store::ProgramPid pair{program_number, pid};
  if (m_store.capture_pairs.insert(pair).second && m_capture_list) {
    // Entries stand in the order of adding, whatever the list's sorted style.
    m_capture_list->insert_string(-1, pair_text(program_number, pid));
  }
  m_store.pid_map[static_cast<int32_t>(program_number)].insert(pid);
  return true;
}

void CDSMCCDlg::add_from_edits() {
  const std::string pid_text = m_pid_edit ? m_pid_edit->text() : std::string();
  const std::string program_text = m_prg_edit ? m_prg_edit->text() : std::string();
  const uint64_t pid = auto_base_value(pid_text);
  const uint64_t program_number = auto_base_value(program_text);
  // A PID has 13 bits and a programme number 16: a larger value names nothing in a stream, and cut
  // down it would name another PID.
  if (pid > 0x1FFF || program_number > 0xFFFF) {
    const std::string why =
        pid > 0x1FFF ? "PID " + pid_text + " is above 0x1fff" : "Prg No " + program_text + " is above 0xffff";
    logio::g_log.log(2, "pair not added: %s", why.c_str());
    ui::message_box(this, (why + ": the pair is not added").c_str(), "DSMCC",
                    ui::BOX_OK | ui::BOX_ICON_WARNING);
    return;
  }
  add_pair(static_cast<uint32_t>(program_number), static_cast<uint32_t>(pid));
}

void CDSMCCDlg::add_selected_mux_entries() {
  if (!m_mux_list) return;
  for (int pos : m_mux_list->selected_items()) {
    uint32_t program_number = 0, pid = 0;
    if (parse_pair_text(m_mux_list->text_at(pos), program_number, pid)) add_pair(program_number, pid);
  }
  m_mux_list->clear_selection();
}

void CDSMCCDlg::remove_selected() {
  if (!m_capture_list) return;
  const std::vector<int> selected = m_capture_list->selected_items();
  // From the highest position down, so that the positions still to do stay valid.
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    uint32_t program_number = 0, pid = 0;
    if (parse_pair_text(m_capture_list->text_at(*it), program_number, pid)) {
      m_store.capture_pairs.erase(store::ProgramPid{program_number, pid});
      auto entry = m_store.pid_map.find(static_cast<int32_t>(program_number));
      if (entry != m_store.pid_map.end()) {
        entry->second.erase(pid);
        if (entry->second.empty()) m_store.pid_map.erase(entry);
      }
    }
    m_capture_list->delete_string(*it);
  }
}

void CDSMCCDlg::install_filters() {
  std::set<uint32_t> pids;
  for (const store::ProgramPid& pair : m_store.capture_pairs) pids.insert(pair.second);
  if (!pids.empty() && !m_section_filter)
    logio::g_log.log(1, "no ISectionFilter: the capture runs without section filters");
  for (uint32_t pid : pids) {
    auto context = std::make_unique<store::FilterContext>(store::FilterContext{pid, 0, &m_intake});
    logio::g_log.log(4, "Adding PID filter (%d)", static_cast<int>(pid));
    const HRESULT hr = m_section_filter ? m_section_filter->AddSectionFilter(
                                              pid, &FILTER_MATCH, &FILTER_MASK, FILTER_LENGTH,
                                              store::section_callback, context.get(), &context->handle)
                                        : E_FAIL;
    // A filter that the host refuses is left out; the capture runs with the others.
    if (hr >= 0) m_filters.push_back(std::move(context));
  }
}

void CDSMCCDlg::remove_filters() {
  for (const auto& context : m_filters) {
    // Once this returns the filter's callback is not running and never runs again.
    if (m_section_filter) m_section_filter->RemoveSectionFilter(context->handle);
  }
  m_filters.clear();
}

void CDSMCCDlg::Start() {
  // The model borrows the store's messages: it goes before them.
  m_model = carousel::CarouselModel{};
  m_intake.clear_store();
  m_section_page->clear();
  m_data_page->clear();
  m_object_page->clear();
  m_intake.start_programs();
  install_filters();
  m_counters.dsi_count = 0;
  m_counters.dii_count = 0;
  m_counters.ddb_count = 0;
  {
    DSMCCScanning progress(&m_counters);
    progress.run_modal();
  }
  remove_filters();
  m_section_page->rebuild();
  m_model = carousel::rebuild_carousels(m_store);
  m_data_page->rebuild(m_model);
  m_object_page->rebuild(m_model);
}

}  // namespace capture
