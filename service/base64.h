// Base64 as the mail protocols use it.
#pragma once

#include <string>
#include <string_view>

namespace heron {

// Standard alphabet. Characters outside it, "=" included, are skipped;
// decoding stops at a NUL in the input. Undecodable input gives "".
std::string Base64Decode(std::string_view text);
std::string Base64Encode(std::string_view bytes);

}  // namespace heron
