// What the service needs of systemd, without libsystemd: readiness and
// stopping notices on $NOTIFY_SOCKET, whether standard error is the journal,
// and the unit behind a service name, driven through systemctl.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace heron {

// Sends one notice ("READY=1", "STOPPING=1", ...) to the socket named by
// NOTIFY_SOCKET; nothing happens without one. False when a send failed.
bool NotifyServiceManager(const std::string& state);

// True when standard error is the journal's stream (JOURNAL_STREAM names its
// device and inode): lines written there are read by journalctl.
bool StderrIsJournal();
// The syslog priority of a trace-log level (1 error, 2 information, 3 detail).
int JournalPriority(int level);

// systemd as the service manager: used where the host runs systemd
// (/run/systemd/system exists; HERON_SYSTEMD=1 or 0 says so instead) and
// the service's unit is installed.
class SystemdUnits {
 public:
  // The unit of a service name: its first word in lower case, ".service"
  // ("Heron Mail Service" -> "heron.service").
  static std::string UnitOf(const std::string& service_name);
  static bool HostRunsSystemd();
  // systemctl with the arguments; its exit status (-1 when it cannot run)
  // and what it printed.
  static int Systemctl(const std::vector<std::string>& args, std::string* out = nullptr);
  // The unit's properties (`systemctl show -p ...`), by name.
  static std::optional<std::string> Property(const std::string& unit, const std::string& name);
  // True where systemd runs and knows the unit.
  static bool Manages(const std::string& service_name);
};

}  // namespace heron
