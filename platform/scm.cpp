#include "platform/scm.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/systemd.h"

extern char** environ;

namespace heron {

uint64_t ProcessStartTime(pid_t pid) {
  if (pid <= 0) return 0;
  std::string stat;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
  // The command name may hold blanks and parentheses: fields follow the last ')'.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream in(stat.substr(close + 1));
  std::string state;
  in >> state;
  if (state == "Z" || state == "X") return 0;
  std::string field;
  for (int i = 4; i < 22 && (in >> field); ++i) {
  }
  uint64_t start = 0;
  in >> start;
  return start ? start : 1;
}

namespace {

constexpr const char* kServicesRoot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";

std::string Dword(uint32_t v) {
  std::string d(4, '\0');
  for (int i = 0; i < 4; ++i) d[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return d;
}

std::string Sz(const std::string& s) { return s + std::string(1, '\0'); }

std::string FromSz(const std::string& d) { return d.substr(0, d.find('\0')); }

// The status is alive only while its process runs and is the same process
// that reported it.
bool StatusAlive(const ServiceStatus& st) {
  uint64_t start = ProcessStartTime(st.pid);
  return start != 0 && (st.start_time == 0 || st.start_time == start);
}

// Serialises writers of one service's status file: the starter's "start
// pending" must land before the first report of the process it spawned.
class StatusLock {
 public:
  explicit StatusLock(const std::string& path)
      : fd_(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~StatusLock() {
    if (fd_ >= 0) close(fd_);
  }
  StatusLock(const StatusLock&) = delete;
  StatusLock& operator=(const StatusLock&) = delete;

 private:
  int fd_;
};

bool WriteStatusFile(const std::string& path, const ServiceStatus& s) {
  std::ostringstream out;
  out << "start " << s.start_time << "\ntype " << s.service_type << "\nstate " << s.current_state
      << "\ncontrols " << s.controls_accepted << "\nexit " << s.exit_code << "\ncheckpoint "
      << s.check_point << "\nwaithint " << s.wait_hint << "\npid " << s.pid << "\n";
  return WriteFileAtomic(RunDir(), path, out.str());
}

}  // namespace

std::string ServiceManager::ServiceKey(const std::string& name) {
  return std::string(kServicesRoot) + "\\" + name;
}

std::string ServiceManager::StatusPath(const std::string& name) {
  return RunDir() + "/" + name + ".status";
}

// Under systemd, with the service's unit installed, the service is that
// unit: installed = enabled, and its state is the unit's.
namespace {

bool UnitEnabled(const std::string& unit) {
  return SystemdUnits::Property(unit, "UnitFileState").value_or("").starts_with("enabled");
}

}  // namespace

bool ServiceManager::IsInstalled(const std::string& name) {
  if (SystemdUnits::Manages(name)) return UnitEnabled(SystemdUnits::UnitOf(name));
  return store_.QueryValue(ServiceKey(name), "ImagePath").has_value();
}

std::optional<ServiceConfig> ServiceManager::QueryConfig(const std::string& name) {
  if (SystemdUnits::Manages(name)) {
    std::string unit = SystemdUnits::UnitOf(name);
    if (!UnitEnabled(unit)) return std::nullopt;
    // ExecStart={ path=/usr/sbin/osprey ; argv[]=... }
    std::string exec = SystemdUnits::Property(unit, "ExecStart").value_or("");
    size_t at = exec.find("path=");
    ServiceConfig cfg;
    if (at != std::string::npos) {
      size_t end = exec.find_first_of(" ;", at + 5);
      cfg.image_path = exec.substr(at + 5, end == std::string::npos ? end : end - at - 5);
    }
    cfg.display_name = SystemdUnits::Property(unit, "Description").value_or(name);
    return cfg;
  }
  auto image = store_.QueryValue(ServiceKey(name), "ImagePath");
  if (!image) return std::nullopt;
  ServiceConfig cfg;
  cfg.image_path = FromSz(image->data);
  auto display = store_.QueryValue(ServiceKey(name), "DisplayName");
  cfg.display_name = display ? FromSz(display->data) : name;
  return cfg;
}

bool ServiceManager::Create(const std::string& name, const std::string& display_name,
                            const std::string& image_path) {
  if (IsInstalled(name)) return false;
  if (SystemdUnits::Manages(name)) {
    return SystemdUnits::Systemctl({"enable", SystemdUnits::UnitOf(name)}) == 0;
  }
  std::string key = ServiceKey(name);
  return store_.SetValue(key, "Type", kRegDword, Dword(kServiceWin32OwnProcess)) &&
         store_.SetValue(key, "Start", kRegDword, Dword(2)) &&
         store_.SetValue(key, "ErrorControl", kRegDword, Dword(1)) &&
         store_.SetValue(key, "DisplayName", kRegSz, Sz(display_name)) &&
         store_.SetValue(key, "ObjectName", kRegSz, Sz("LocalSystem")) &&
         // Written last: its presence is what makes the service installed.
         store_.SetValue(key, "ImagePath", kRegExpandSz, Sz(image_path));
}

bool ServiceManager::Delete(const std::string& name) {
  if (!IsInstalled(name)) return false;
  if (SystemdUnits::Manages(name)) {
    return SystemdUnits::Systemctl({"disable", SystemdUnits::UnitOf(name)}) == 0;
  }
  return store_.DeleteKey(ServiceKey(name));
}

bool ServiceManager::Start(const std::string& name) {
  auto cfg = QueryConfig(name);
  if (!cfg) return false;
  if (Query(name).current_state != kServiceStopped) return false;
  if (SystemdUnits::Manages(name)) {
    // The caller waits for the state it wants, as with the small manager.
    return SystemdUnits::Systemctl({"start", "--no-block", SystemdUnits::UnitOf(name)}) == 0;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);  // nothing else is inherited
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);

  std::vector<std::string> env_store;
  std::string marker = std::string(kScmServiceEnv) + "=";
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, marker.c_str(), marker.size()) != 0) env_store.emplace_back(*e);
  }
  env_store.push_back(marker + name);
  std::vector<char*> envp;
  for (auto& s : env_store) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string image = cfg->image_path;
  char* argv[] = {image.data(), nullptr};

  StatusLock lock(StatusPath(name));
  pid_t pid = 0;
  int rc = posix_spawn(&pid, image.c_str(), &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;

  // Until the service reports, it is starting.
  ServiceStatus st;
  st.current_state = kServiceStartPending;
  st.wait_hint = 3000;
  st.pid = pid;
  st.start_time = ProcessStartTime(pid);
  return WriteStatusFile(StatusPath(name), st);
}

bool ServiceManager::Stop(const std::string& name, ServiceStatus* status) {
  ServiceStatus st = Query(name);
  bool ok = false;
  if (st.current_state != kServiceStopped && SystemdUnits::Manages(name)) {
    ok = SystemdUnits::Systemctl({"stop", "--no-block", SystemdUnits::UnitOf(name)}) == 0;
  } else if (st.current_state != kServiceStopped && (st.controls_accepted & kServiceAcceptStop)) {
    // Mark the stop as pending before the signal, so that a poller never
    // sees the old "running" after its stop was sent.
    if (st.current_state == kServiceRunning) {
      StatusLock lock(StatusPath(name));
      st.current_state = kServiceStopPending;
      WriteStatusFile(StatusPath(name), st);
    }
    ok = kill(st.pid, SIGTERM) == 0;
  }
  if (status) *status = st;
  return ok;
}

ServiceStatus ServiceManager::Query(const std::string& name) {
  ServiceStatus st;
  if (SystemdUnits::Manages(name)) {
    std::string unit = SystemdUnits::UnitOf(name);
    std::string active = SystemdUnits::Property(unit, "ActiveState").value_or("inactive");
    if (active == "active" || active == "reloading") {
      st.current_state = kServiceRunning;
    } else if (active == "activating") {
      st.current_state = kServiceStartPending;
    } else if (active == "deactivating") {
      st.current_state = kServiceStopPending;
    }
    if (st.current_state != kServiceStopped) st.controls_accepted = kServiceAcceptStop;
    st.pid = static_cast<pid_t>(
        std::atoi(SystemdUnits::Property(unit, "MainPID").value_or("0").c_str()));
    return st;
  }
  std::string text;
  if (!ReadFile(StatusPath(name), text)) return st;
  std::istringstream in(text);
  std::string field;
  ServiceStatus read;
  uint64_t v;
  while (in >> field >> v) {
    if (field == "type")
      read.service_type = static_cast<uint32_t>(v);
    else if (field == "state")
      read.current_state = static_cast<uint32_t>(v);
    else if (field == "controls")
      read.controls_accepted = static_cast<uint32_t>(v);
    else if (field == "exit")
      read.exit_code = static_cast<uint32_t>(v);
    else if (field == "checkpoint")
      read.check_point = static_cast<uint32_t>(v);
    else if (field == "waithint")
      read.wait_hint = static_cast<uint32_t>(v);
    else if (field == "pid")
      read.pid = static_cast<pid_t>(v);
  }
  if (read.current_state == kServiceStopped || !StatusAlive(read)) {
    st.exit_code = read.exit_code;
    return st;
  }
  return read;
}

bool ServiceManager::ReportStatus(const std::string& name, const ServiceStatus& status) {
  StatusLock lock(StatusPath(name));
  ServiceStatus s = status;
  if (s.start_time == 0) s.start_time = ProcessStartTime(s.pid);
  return WriteStatusFile(StatusPath(name), s);
}

bool ServiceManager::StartedAs(const std::string& name) {
  const char* v = std::getenv(kScmServiceEnv);
  return v && name == v;
}

}  // namespace heron
