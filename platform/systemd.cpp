#include "platform/systemd.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace heron {

bool NotifyServiceManager(const std::string& state) {
  const char* path = getenv("NOTIFY_SOCKET");
  if (!path || !*path) return true;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  size_t len = strlen(path);
  if (len >= sizeof addr.sun_path) return false;
  memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  bool ok = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                   size) == static_cast<ssize_t>(state.size());
  close(fd);
  return ok;
}

bool StderrIsJournal() {
  const char* stream = getenv("JOURNAL_STREAM");
  if (!stream) return false;
  unsigned long long dev = 0, ino = 0;
  if (sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st;
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  return st.st_dev == dev && st.st_ino == ino;
}

int JournalPriority(int level) { return level <= 1 ? 3 : level == 2 ? 6 : 7; }

std::string SystemdUnits::UnitOf(const std::string& service_name) {
  std::string unit;
  for (char c : service_name) {
    if (c == ' ') break;
    unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return unit + ".service";
}

bool SystemdUnits::HostRunsSystemd() {
  if (const char* forced = getenv("HERON_SYSTEMD")) return strcmp(forced, "1") == 0;
  struct stat st;
  return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

int SystemdUnits::Systemctl(const std::vector<std::string>& args, std::string* out) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> argv_store = {"systemctl"};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; rc == 0 && (n = read(pipe_fds[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(pipe_fds[0]);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::string> SystemdUnits::Property(const std::string& unit,
                                                  const std::string& name) {
  std::string out;
  if (Systemctl({"show", "-p", name, unit}, &out) != 0) return std::nullopt;
  std::string prefix = name + "=";
  size_t at = out.find(prefix);
  if (at == std::string::npos) return std::nullopt;
  size_t end = out.find('\n', at);
  return out.substr(at + prefix.size(), end == std::string::npos ? end : end - at - prefix.size());
}

bool SystemdUnits::Manages(const std::string& service_name) {
  if (!HostRunsSystemd()) return false;
  return Property(UnitOf(service_name), "LoadState").value_or("") == "loaded";
}

}  // namespace heron
