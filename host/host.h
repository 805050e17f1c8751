// The analyzer host as a program embeds it: open a stream, hand the plug-in the filter manager and
// the driver, run the capture, read the statistics.
//
//   host::Host host;
//   if (std::string error = host.open(argv[1]); !error.empty()) { fprintf(stderr, "%s\n", error.c_str()); return 2; }
//   host.set_end_of_input_handler([&] { /* end the capture as a user closing the progress window would */ });
//   plugin->SetInterface(IID_OrvexFltMgr, host.filter_manager());
//   plugin->SetInterface(IID_HostDriver, host.driver());
//   ... the plug-in scans the PSI (RequestSections) and installs its filters ...
//   host.begin_capture();   // a file: delivered once from its start, then the end-of-input handler
//   ...
//   host.stop();
//
// A file is delivered only when begin_capture() is called, or, with set_auto_begin(N), once no filter
// has been added or removed for N milliseconds after the first one was added (for interactive use,
// where nobody calls begin_capture). Each capture gets the whole file: once a pass has ended, the next
// begin_capture() (or, automatically, the next filters added) delivers it again from its start, and a
// begin_capture() during a pass (with the automatic begin: filters added during a pass) gives the pass
// under way up for a new one from the start, which alone reports the end of input. Filters installed
// from inside a callback receive the sections from that point on. Live sources (a pipe on standard input, UDP) are read from the moment
// something asks for sections and run until they end or stop() is called.
//
// PSI requests (ISISection) on a file read it from its start on their own, however far a capture has
// got; on a live source they take the sections as they come.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/diagnostics.h"
#include "host/filter_manager.h"
#include "host/source.h"
#include "contract/host_contract.h"

namespace host {

class HostDriver;

class Host {
 public:
  Host();
  // Stops everything and drops the host's references; a plug-in that still holds one keeps a
  // working but idle object.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Opens a transport-stream file, "-" (standard input) or "udp://[group@]host:port". Returns ""
  // on success, else a one-line message for the user. One source per host. A pipe (standard input,
  // a named pipe) is checked from its first bytes, so opening one waits until they arrive.
  std::string open(const std::string& source, const std::function<bool()>& give_up = {});
  bool is_open() const noexcept { return source_ != nullptr; }
  bool is_live() const noexcept { return source_ && source_->live(); }
  const Source* source() const noexcept { return source_.get(); }

  // The filter manager (OrvexFltMgr, answering ISectionFilter and ISISection) and the driver
  // (answering IID_HostDriver and IID_InitDriver). No reference is added: AddRef to keep one.
  OrvexFltMgr* filter_manager() const noexcept { return manager_; }
  IUnknown* driver() const noexcept;

  // What GetTunerType reports (a DVB tuner by default), or that it fails.
  void set_tuner_type(uint16_t type);
  void set_tuner_type_fails(bool fails);

  // Called on the delivery thread once the input has been read to its end (a file, a pipe), after
  // the last section was delivered. It may remove filters; it must not wait for the delivery thread.
  void set_end_of_input_handler(std::function<void()> handler);
  // 0 (the default) turns the automatic begin off.
  void set_auto_begin(std::chrono::milliseconds quiet);
  // Messages about damaged input, called on the host's threads one at a time.
  void set_diagnostic_handler(std::function<void(const std::string&)> handler);

  // Starts delivering: a file from its start, once, at full speed. False when there is no source or
  // a pass over the file is under way.
  bool begin_capture();
  // Ends reading and delivery and joins the host's threads. After it no callback runs.
  void stop();

  Statistics statistics() const;
  // The PIDs on which DSM-CC sections (tables 0x3B/0x3C) began while no filter asked for them: after
  // a PSI scan, the carousels of a stream whose PSI names none, found from the scan's own bytes.
  std::vector<uint32_t> dsmcc_pids() const;

 private:
  std::shared_ptr<Source> source_;
  SectionFilterManager* manager_;
  HostDriver* driver_;
};

}  // namespace host
