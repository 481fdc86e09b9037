// kestrel: plays the Control Panel's part for the applet library: loads it,
// asks what it offers, opens its one item, and lets it go.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using AppletProc = int32_t (*)(void*, uint32_t, intptr_t, intptr_t);

struct NewInfo {
  uint32_t dwSize, dwFlags, dwHelpContext, lData, hIcon;
  char szName[32], szInfo[64], szHelpFile[128];
};

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
  // Found through the program's run path: beside it in the build, in the
  // library folder once installed.
  void* lib = dlopen("libkestrel.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "kestrel: %s\n", dlerror());
    return 1;
  }
  auto applet = reinterpret_cast<AppletProc>(dlsym(lib, "CPlApplet"));
  if (!applet) {
    std::fprintf(stderr, "kestrel: libkestrel.so has no CPlApplet\n");
    return 1;
  }
  if (applet(nullptr, 1 /* CPL_INIT */, 0, 0) == 0) return 1;
  int32_t count = applet(nullptr, 2 /* CPL_GETCOUNT */, 0, 0);
  for (int32_t i = 0; i < count; ++i) {
    NewInfo info{};
    applet(nullptr, 8 /* CPL_NEWINQUIRE */, i, reinterpret_cast<intptr_t>(&info));
    applet(nullptr, 5 /* CPL_DBLCLK */, i, info.lData);
    applet(nullptr, 6 /* CPL_STOP */, i, info.lData);
  }
  applet(nullptr, 7 /* CPL_EXIT */, 0, 0);
  // The library stays loaded: Qt's own exit handlers may still run in it.
  return 0;
}
