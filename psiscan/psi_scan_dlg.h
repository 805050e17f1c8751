// The "Scanning MUX PSI/SI" window: a busy bar and a Cancel button while a worker thread fetches the
// PAT and then every PMT through the host's ISISection and parses them into a PsiScanResult.
//
// run_modal() answers 1 when the worker finished (also when a host request failed, which leaves the
// result empty) and 2 when the PAT was rejected or the host offers no ISISection.
#pragma once

#include <cstdint>
#include <utility>

#include "contract/host_contract.h"
#include "psiscan/psi_scan_result.h"
#include "ui/ui.h"

namespace psiscan {

class CPSIScanDlg : public ui::Dialog {
 public:
  // The analysis dialog's filter manager (may be null), the owner window and whether the CAT is
  // fetched as well.
  CPSIScanDlg(OrvexFltMgr* filter_manager, ui::Dialog* parent, bool scan_cat);
  ~CPSIScanDlg() override;

  // Read this after run_modal() returned 1.
  const PsiScanResult& result() const { return m_result; }

  bool has_sisection() const { return m_sisection != nullptr; }
  bool marquee() const { return m_marquee; }
  int32_t bar_position() const { return m_position; }

 protected:
  bool OnInitDialog() override;
  // Cancel asks the host to give up the pending request; the window closes when the worker ends.
  void OnCancel() override;
  void on_timer(uint32_t id) override;

  // The system's version as (major, minor); the animated bar needs 5.1 or a later 5.x.
  virtual std::pair<int, int> system_version() const;

 private:
  uint32_t threadproc();
  uint32_t scansi();
  void OnEndStreamThread();
  bool join_apartment();
  void leave_apartment();

  OrvexFltMgr* m_filter_manager = nullptr;
  ISISection* m_sisection = nullptr;
  ui::Thread* m_worker = nullptr;
  ui::Button* m_cancel = nullptr;
  PsiScanResult m_result;
  ui::ProgressBar* m_progress = nullptr;
  uint32_t m_scan_cat = 0;
  bool m_marquee = false;
  int32_t m_position = 0;
};

}  // namespace psiscan
