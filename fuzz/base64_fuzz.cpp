// Base64 arrives in AUTH answers from any client.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string decoded = heron::Base64Decode(in);
  // Encoding and decoding again gives back the same bytes.
  if (decoded.find('\0') == std::string::npos &&
      heron::Base64Decode(heron::Base64Encode(decoded)) != decoded) {
    __builtin_trap();
  }
  return 0;
}
