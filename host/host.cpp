#include "host/host.h"

#include "host/driver.h"

namespace host {

Host::Host() : manager_(SectionFilterManager::create()), driver_(HostDriver::create()) {}

Host::~Host() {
  manager_->stop();
  manager_->Release();
  driver_->Release();
}

std::string Host::open(const std::string& location, const std::function<bool()>& give_up) {
  if (source_) return "a source is already open: " + source_->name();
  std::string error;
  std::unique_ptr<Source> source = open_source(location, error, give_up);
  if (!source) return error;
  source_ = std::move(source);
  manager_->attach(source_);
  return {};
}

IUnknown* Host::driver() const noexcept { return driver_; }

void Host::set_tuner_type(uint16_t type) { driver_->set_tuner_type(type); }
void Host::set_tuner_type_fails(bool fails) { driver_->set_fail(fails); }

void Host::set_end_of_input_handler(std::function<void()> handler) {
  manager_->set_end_of_input_handler(std::move(handler));
}

void Host::set_auto_begin(std::chrono::milliseconds quiet) { manager_->set_auto_begin(quiet); }

void Host::set_diagnostic_handler(std::function<void(const std::string&)> handler) {
  manager_->set_diagnostic_handler(std::move(handler));
}

bool Host::begin_capture() { return manager_->begin_capture(); }

void Host::stop() { manager_->stop(); }

Statistics Host::statistics() const { return manager_->statistics(); }
std::vector<uint32_t> Host::dsmcc_pids() const { return manager_->dsmcc_pids(); }

}  // namespace host
