// Random GUIDs, used for message file names.
#pragma once

#include <string>

namespace heron {

// A new random (version 4) GUID as 32 upper-case hexadecimal digits: its
// registry text form without "{", "}" and "-".
std::string NewGuidHex();

}  // namespace heron
