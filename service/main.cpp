// Process entry of the mail service.
#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"
#include "service/osprey.h"

int main(int argc, char** argv) {
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
  int code = service.ProcessCommandLine(argc, argv);
  if (service.abandoned_sessions()) {
    // A session thread that never ended still runs on the service object:
    // end the process here, before anything it uses is destroyed.
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}
