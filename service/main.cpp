// Process entry of the mail service.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "service/osprey.h"

namespace {

const char* kUsage =
    "usage: osprey VERB\n"
    "  -i  install the service       -u  remove it\n"
    "  -s  start it and wait         -e  stop it and wait\n"
    "  -c  ask it to reload its settings\n"
    "  -d  run in the console (SIGINT, SIGTERM or SIGHUP stop it)\n"
    "  --help, --version\n"
    "Exit status 0 on success, non-zero on failure.\n";

}  // namespace

int main(int argc, char** argv) {
  // GNU-style options first; they are never scanned for verb letters.
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) continue;
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("osprey (Heron Mail Service) 4.2");
      return 0;
    }
    std::fprintf(stderr, "osprey: unknown option %s\n%s", arg.c_str(), kUsage);
    return 2;
  }
  std::printf(
      "********************************************\n"
      "*            Heron Mail Service          *\n"
      "*               Version 4.2                *\n"
      "*     Copyright (c) Tallyworks, Inc.     *\n"
      "********************************************\n"
      "\n");
  std::fflush(stdout);
  try {
    heron::Registry::Shared();
  } catch (const heron::RegistryError& e) {
    std::fprintf(stderr, "osprey: %s\n", e.what());
    return 2;
  }
  heron::COsprey service;
  // The design's result 1 (success) and 0 (failure) become the exit status
  // 0 and 1; a failure of the service body (2) stays.
  int result = service.ProcessCommandLine(argc, argv);
  int code = result == 1 ? 0 : result == 0 ? 1 : result;
  if (service.abandoned_sessions()) {
    // A session thread that never ended still runs on the service object:
    // end the process here, before anything it uses is destroyed.
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}
