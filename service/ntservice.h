// Generic service framework: command-line verbs, install and removal through
// the service manager, the dispatcher, status reports, and the console mode.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/scm.h"

namespace heron {

class Registry;

class CNTService {
 public:
  CNTService(const std::string& service_name, const std::string& display_name = "");
  virtual ~CNTService();
  CNTService(const CNTService&) = delete;
  CNTService& operator=(const CNTService&) = delete;

  virtual void Run() {}
  virtual void OnStop() {}
  virtual void OnPause() {}
  virtual void OnContinue() {}
  virtual void OnShutdown() {}
  // Runs the service under the service manager. False when this process was
  // not started by it.
  virtual bool StartDispatcher();
  virtual bool InstallService();
  virtual bool RemoveService();
  virtual bool StartInstalledService();
  virtual bool StopInstalledService();
  // Scans the arguments for a verb and carries it out; returns the process's
  // exit code.
  virtual int ProcessCommandLine(int argc, char** argv);
  virtual void DebugService();

  // Sets state and wait hint and passes the status to the service manager
  // (not in the console mode).
  void ReportStatus(uint32_t state, uint32_t wait_hint);
  bool IsInstalled();
  // A failure that ends the service body: reported as the exit code with the
  // stopped state, and as exit code 2 of the console mode.
  void set_exit_code(uint32_t code) { failure_ = code; }
  bool debug() const { return debug_; }
  const std::string& service_name() const { return service_name_; }
  const std::string& display_name() const { return display_name_; }

  // The verb letter the scan selects: 'i', 'u', 's', 'e', 'c', 'd', or 0
  // for none. Only the arguments are scanned, never the program's path.
  static char ScanVerb(int argc, char** argv);

 protected:
  Registry& store();
  void ControlHandler(int control);
  virtual void SetNamedEvent();  // the verb -c

 private:
  void ServiceMain();

  std::string service_name_;
  std::string display_name_;
  std::mutex status_mu_;
  ServiceStatus status_;
  bool has_status_handle_ = false;  // true while run by the service manager
  bool debug_ = false;
  uint32_t failure_ = 0;
};

}  // namespace heron
