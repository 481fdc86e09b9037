#include "platform/paths.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"

namespace heron {

std::string HeronHome() {
  const char* env = std::getenv("HERON_HOME");
  std::string home = (env && *env) ? env : "/var/lib/heron";
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  struct stat st;
  if (stat(home.c_str(), &st) != 0) CreateFolderPath(home, 0700);
  return home;
}

std::string RunDir() {
  std::string dir = HeronHome() + "/run";
  CreateFolderPath(dir, 0700);
  return dir;
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramDir() {
  std::string p = ProgramPath();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

std::string MachineHostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return std::string();
  return std::string(buf);
}

}  // namespace heron
