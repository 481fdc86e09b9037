// Places on disk: the data root and the files kept under it.
#pragma once

#include <string>

namespace heron {

// $HERON_HOME, default /var/lib/heron; created mode 0700 when missing.
// Never ends with '/'.
std::string HeronHome();
// $HERON_HOME/run, created when missing.
std::string RunDir();
// Full path of the running program file, and its folder.
std::string ProgramPath();
std::string ProgramDir();
// This machine's host name (at most 255 bytes).
std::string MachineHostName();

}  // namespace heron
