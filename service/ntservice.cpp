#include "service/ntservice.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/signal_watcher.h"
#include "platform/text.h"

namespace heron {
namespace {

constexpr const char* kEventLogRoot =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// Service control codes, numbered as the Windows ones.
constexpr int kControlStop = 1;
constexpr int kControlPause = 2;
constexpr int kControlContinue = 3;
constexpr int kControlInterrogate = 4;
constexpr int kControlShutdown = 5;

}  // namespace

CNTService::CNTService(const std::string& service_name, const std::string& display_name)
    : service_name_(service_name),
      display_name_(display_name.empty() ? service_name : display_name) {}

CNTService::~CNTService() = default;

Registry& CNTService::store() { return Registry::Shared(); }

char CNTService::ScanVerb(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  for (size_t pos = 0; pos + 1 < line.size(); ++pos) {
    if (line[pos] != '-' && line[pos] != '/') continue;
    switch (line[pos + 1]) {
      case 'i':
      case 'u':
      case 's':
      case 'e':
      case 'c':
      case 'd':
        return line[pos + 1];
      default:
        break;  // unknown letter: go on scanning
    }
  }
  return 0;
}

int CNTService::ProcessCommandLine(int argc, char** argv) {
  switch (ScanVerb(argc, argv)) {
    case 'i':
      return InstallService() ? 1 : 0;
    case 'u':
      return RemoveService() ? 1 : 0;
    case 's':
      return StartInstalledService() ? 1 : 0;
    case 'e':
      return StopInstalledService() ? 1 : 0;
    case 'c':
      SetNamedEvent();
      return 1;
    case 'd':
      DebugService();
      return failure_ ? 2 : 1;
    default:
      return StartDispatcher() ? 1 : 0;
  }
}

void CNTService::SetNamedEvent() {}

bool CNTService::IsInstalled() { return ServiceManager(store()).IsInstalled(service_name_); }

bool CNTService::InstallService() {
  if (IsInstalled()) return true;
  ServiceManager scm(store());
  std::string program = ProgramPath();
  if (!scm.Create(service_name_, display_name_, program)) {
    ShowMessageBox(B5("無法建立服務"), service_name_);
    return false;
  }
  std::string key = kEventLogRoot + service_name_;
  std::string seven("\x07\x00\x00\x00", 4);
  if (!store().SetValue(key, "EventMessageFile", kRegExpandSz, program + std::string(1, '\0')) ||
      !store().SetValue(key, "TypesSupported", kRegDword, seven)) {
    return false;
  }
  ShowMessageBox(B5("服務安裝完成！"), service_name_);
  return true;
}

bool CNTService::RemoveService() {
  if (!IsInstalled()) return true;
  ServiceManager scm(store());
  scm.Stop(service_name_);  // without waiting; the result does not matter
  if (!scm.Delete(service_name_)) {
    ShowMessageBox(B5("無法刪除服務"), service_name_);
    return false;
  }
  ShowMessageBox(B5("服務已成功移除！"), service_name_);
  return true;
}

bool CNTService::StartInstalledService() {
  ServiceManager scm(store());
  if (!scm.IsInstalled(service_name_)) {
    std::fprintf(stderr, "%s: not installed (install it with -i)\n", service_name_.c_str());
    return false;
  }
  if (scm.Query(service_name_).current_state == kServiceRunning) {
    std::fprintf(stderr, "%s: already running\n", service_name_.c_str());
    return false;
  }
  if (!scm.Start(service_name_)) {
    std::fprintf(stderr, "%s: the service program could not be started\n", service_name_.c_str());
    return false;
  }
  ServiceStatus st = scm.Query(service_name_);
  while (st.current_state == kServiceStartPending) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    st = scm.Query(service_name_);
  }
  if (st.current_state == kServiceRunning) return true;
  std::fprintf(stderr, "%s: the service stopped while starting (see its trace log)\n",
               service_name_.c_str());
  return false;
}

bool CNTService::StopInstalledService() {
  ServiceManager scm(store());
  ServiceStatus st;
  if (!scm.Stop(service_name_, &st)) {
    std::fprintf(stderr, "%s: not running\n", service_name_.c_str());
    return false;
  }
  st = scm.Query(service_name_);
  while (st.current_state == kServiceStopPending) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    st = scm.Query(service_name_);
  }
  return st.current_state == kServiceStopped;
}

bool CNTService::StartDispatcher() {
  if (!ServiceManager::StartedAs(service_name_)) return false;
  ServiceMain();
  return true;
}

void CNTService::ServiceMain() {
  {
    std::lock_guard<std::mutex> lock(status_mu_);
    has_status_handle_ = true;
  }
  // The stop control arrives as SIGTERM and is handled on a thread of its own.
  SignalWatcher control({SIGTERM}, [this](int) { ControlHandler(kControlStop); });
  ReportStatus(kServiceStartPending, 3000);
  {
    std::lock_guard<std::mutex> lock(status_mu_);
    status_.exit_code = 0;
    status_.check_point = 0;
    status_.wait_hint = 0;
  }
  Run();
  ReportStatus(kServiceStopped, 3000);
}

void CNTService::ReportStatus(uint32_t state, uint32_t wait_hint) {
  std::lock_guard<std::mutex> lock(status_mu_);
  status_.current_state = state;
  status_.wait_hint = wait_hint;
  status_.exit_code = state == kServiceStopped ? failure_ : 0;
  status_.controls_accepted = state == kServiceStartPending ? 0 : kServiceAcceptStop;
  status_.pid = getpid();
  if (has_status_handle_) ServiceManager::ReportStatus(service_name_, status_);
}

void CNTService::ControlHandler(int control) {
  switch (control) {
    case kControlStop: {
      {
        std::lock_guard<std::mutex> lock(status_mu_);
        status_.current_state = kServiceStopPending;
      }
      OnStop();
      break;
    }
    case kControlPause: {
      std::lock_guard<std::mutex> lock(status_mu_);
      status_.current_state = kServicePausePending;
    }
      OnPause();
      break;
    case kControlContinue: {
      std::lock_guard<std::mutex> lock(status_mu_);
      status_.current_state = kServiceContinuePending;
    }
      OnContinue();
      break;
    case kControlInterrogate: {
      uint32_t state;
      {
        std::lock_guard<std::mutex> lock(status_mu_);
        state = status_.current_state;
      }
      ReportStatus(state, 3000);
      break;
    }
    case kControlShutdown:
      OnShutdown();
      break;
    default:
      break;
  }
}

void CNTService::DebugService() {
  debug_ = true;
  std::printf("Debugging %s.\n", display_name_.c_str());
  std::fflush(stdout);
  // SIGINT, SIGTERM and SIGHUP play Ctrl+C, Ctrl+Break and console close.
  SignalWatcher console({SIGINT, SIGTERM, SIGHUP}, [this](int) {
    std::printf("Stopping %s.\n", display_name_.c_str());
    std::fflush(stdout);
    OnStop();
  });
  Run();
}

}  // namespace heron
