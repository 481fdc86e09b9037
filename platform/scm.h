// A small service control manager: services are registered in the settings
// store, started as detached processes, and report their state through a
// status file in the run folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace heron {

class Registry;

// Service states and accepted controls, numbered as the Windows ones.
enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};
constexpr uint32_t kServiceAcceptStop = 1;
constexpr uint32_t kServiceWin32OwnProcess = 0x10;

struct ServiceStatus {
  uint32_t service_type = kServiceWin32OwnProcess;
  uint32_t current_state = kServiceStopped;
  uint32_t controls_accepted = 0;
  uint32_t exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
  pid_t pid = 0;
  // Start time of the process (clock ticks after boot), so that a reused
  // process id is not taken for the service.
  uint64_t start_time = 0;
};

// Start time of a live process; 0 when it is gone or a zombie.
uint64_t ProcessStartTime(pid_t pid);

struct ServiceConfig {
  std::string image_path;
  std::string display_name;
};

// Environment variable that marks a process started by this manager; its
// value is the service name.
constexpr const char* kScmServiceEnv = "HERON_SCM_SERVICE";

class ServiceManager {
 public:
  explicit ServiceManager(Registry& store) : store_(store) {}

  // Key of a service under HKEY_LOCAL_MACHINE in the store.
  static std::string ServiceKey(const std::string& name);

  bool IsInstalled(const std::string& name);
  std::optional<ServiceConfig> QueryConfig(const std::string& name);
  // Registers the service (own process, automatic start, normal error
  // control, LocalSystem). False when it exists or cannot be written.
  bool Create(const std::string& name, const std::string& display_name,
              const std::string& image_path);
  // Removes the service's key. False when it is not installed.
  bool Delete(const std::string& name);
  // Spawns the image with no arguments in a new session, standard streams on
  // /dev/null, HERON_SCM_SERVICE=<name>. False when not installed, already
  // running, or the spawn fails.
  bool Start(const std::string& name);
  // Sends the stop control (SIGTERM). False when the service is not running.
  bool Stop(const std::string& name, ServiceStatus* status = nullptr);
  // Current status; a missing status file or a dead process is "stopped".
  ServiceStatus Query(const std::string& name);

  // Written by the service itself: replaces its status file atomically.
  static bool ReportStatus(const std::string& name, const ServiceStatus& status);
  // True when this process was started by the manager for `name`.
  static bool StartedAs(const std::string& name);

 private:
  static std::string StatusPath(const std::string& name);
  Registry& store_;
};

}  // namespace heron
