// The analysis window "DSMCC": the capture list of programme/PID pairs, the "MUX DSMCC streams" list
// that a PSI scan fills, Start, and the three pages (Section, Data Carousel, Object Carousel) that show
// the carousel store and the carousel model built from it when a capture ends.
//
// The dialog owns the store, the counters, the section intake that fills the store (every installed
// filter's FilterContext names the intake), the carousel model built from the store, and the pages.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "carousel/carousel_model.h"
#include "store/carousel_store.h"
#include "store/section_intake.h"
#include "contract/host_contract.h"
#include "psiscan/psi_scan_result.h"
#include "ui/ui.h"

namespace carousel {
class CDataCarouselDlg;
class CObjectCarouselDlg;
}  // namespace carousel
namespace inspector {
class CSectionDlg;
}  // namespace inspector

namespace capture {

// "Prg 0x%04x PID 0x%04x": the text of a pair in both lists.
std::string pair_text(uint32_t program_number, uint32_t pid);
// Reads a list text back with the pattern "Prg (0x[a-f0-9]{4,4}) PID (0x[a-f0-9]{4,4})"; false when the
// whole text does not match.
bool parse_pair_text(std::string_view text, uint32_t& program_number, uint32_t& pid);
// A number typed into an edit field: a "0x" prefix means hexadecimal, a leading "0" octal, else decimal;
// conversion stops at the first character that does not fit, and a text with no digits gives 0. A
// number past 64 bits gives UINT64_MAX: nothing typed wraps round to a small number.
uint64_t auto_base_value(const std::string& text);

class CDSMCCDlg : public ui::Dialog {
 public:
  // Queries the host object for the filter manager and that for ISectionFilter; either may stay null.
  CDSMCCDlg(IUnknown* filter_manager_host_object, ui::Dialog* parent = nullptr);
  ~CDSMCCDlg() override;

  // Fills the MUX list from a finished PSI scan (appends; a rescan empties the list first).
  void init_psi_list(const psiscan::PsiScanResult& result);
  // Empties the MUX list and runs a new PSI scan.
  void rescan();
  // Add: the pair typed into the PID and Prg No edits.
  void add_from_edits();
  // Remove: the selected capture entries, from the highest position down.
  void remove_selected();
  // MUX Add: the selected MUX entries, in ascending position; then the MUX selection is cleared.
  void add_selected_mux_entries();
  // Start: a whole capture, from emptying the store to building the model and showing the pages.
  void Start();

  // Adds one pair to the capture list, capture_pairs and the PID map; a pair already there changes
  // nothing. False when a number does not fit the list's text form (above 0xFFFF).
  bool add_pair(uint32_t program_number, uint32_t pid);

  OrvexFltMgr* filter_manager() const { return m_filter_manager; }
  ISectionFilter* section_filter() const { return m_section_filter; }
  inspector::CSectionDlg* section_page() const { return m_section_page.get(); }
  carousel::CDataCarouselDlg* data_page() const { return m_data_page.get(); }
  carousel::CObjectCarouselDlg* object_page() const { return m_object_page.get(); }
  const store::CarouselStore& store() const { return m_store; }
  const store::CaptureCounters& counters() const { return m_counters; }
  store::SectionIntake& intake() { return m_intake; }
  // What the last capture's carousels are; empty before the first capture ends.
  const carousel::CarouselModel& model() const { return m_model; }
  // The installed filters of the running capture (empty outside Start).
  const std::vector<std::unique_ptr<store::FilterContext>>& installed_filters() const { return m_filters; }

 protected:
  bool OnInitDialog() override;

 private:
  void bind_controls();
  void run_psi_scan();
  void install_filters();
  void remove_filters();

  ui::Button* m_start = nullptr;
  ui::Edit* m_pid_edit = nullptr;
  ui::Button* m_ok = nullptr;
  ui::TabControl* m_tabs = nullptr;
  OrvexFltMgr* m_filter_manager = nullptr;
  ISectionFilter* m_section_filter = nullptr;
  std::unique_ptr<carousel::CDataCarouselDlg> m_data_page;
  std::unique_ptr<carousel::CObjectCarouselDlg> m_object_page;
  std::unique_ptr<inspector::CSectionDlg> m_section_page;
  store::CarouselStore m_store;
  store::CaptureCounters m_counters;
  store::SectionIntake m_intake{m_store, m_counters};  // after what it references
  std::vector<std::unique_ptr<store::FilterContext>> m_filters;
  carousel::CarouselModel m_model;
  ui::ListBox* m_capture_list = nullptr;
  ui::Button* m_add = nullptr;
  ui::Button* m_remove = nullptr;
  ui::ListBox* m_mux_list = nullptr;
  ui::Button* m_rescan = nullptr;
  ui::Button* m_mux_add = nullptr;
  ui::Edit* m_prg_edit = nullptr;
};

}  // namespace capture
