// kestrel: plays the Control Panel's part for the applet library: loads it,
// asks what it offers, opens its one item, and lets it go.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "applet/control_panel.h"

using namespace heron::kestrel;

namespace {

using AppletProc = int32_t (*)(void*, uint32_t, intptr_t, intptr_t);

// The library beside the program (the build), else in the library folder
// the program was installed with.
void* LoadApplet() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  std::string dir = n > 0 ? std::string(exe, n) : std::string();
  dir = dir.substr(0, dir.rfind('/') + 1);
  for (std::string path :
       {dir + "libkestrel.so", dir + KESTREL_LIBRARY_FROM_PROGRAM "/libkestrel.so"}) {
    if (access(path.c_str(), R_OK) == 0) return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return dlopen("libkestrel.so", RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::puts(
        "usage: kestrel\nOpens the Heron Mail Server settings (HERON_HOME selects the data root).");
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "usage: kestrel\n");
    return 2;
  }
  void* lib = LoadApplet();
  if (!lib) {
    std::fprintf(stderr, "kestrel: %s\n", dlerror());
    return 1;
  }
  auto applet = reinterpret_cast<AppletProc>(dlsym(lib, "CPlApplet"));
  if (!applet) {
    std::fprintf(stderr, "kestrel: libkestrel.so has no CPlApplet\n");
    return 1;
  }
  if (applet(nullptr, CPL_INIT, 0, 0) == 0) return 1;
  int32_t count = applet(nullptr, CPL_GETCOUNT, 0, 0);
  for (int32_t i = 0; i < count; ++i) {
    NEWCPLINFOA info{};
    applet(nullptr, CPL_NEWINQUIRE, i, reinterpret_cast<intptr_t>(&info));
    applet(nullptr, CPL_DBLCLK, i, info.lData);
    applet(nullptr, CPL_STOP, i, info.lData);
  }
  applet(nullptr, CPL_EXIT, 0, 0);
  // The library stays loaded: Qt's own exit handlers may still run in it.
  return 0;
}
