// The wildcard text match of sender patterns and forward rules.
#pragma once

#include <string_view>

namespace heron {

// "*" matches any run (also empty), "?" one character; case-sensitive; the
// whole text must match.
bool WildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace heron
