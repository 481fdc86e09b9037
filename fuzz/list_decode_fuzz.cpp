// Stored string lists and their texts come from a store anyone with access
// may have edited: decoding must stay inside the bytes whatever they hold.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/encoded_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto list = heron::DecodeList(bytes)) {
    // What decodes must encode and decode back to the same entries.
    auto again = heron::DecodeList(heron::EncodeList(*list));
    if (!again || *again != *list) __builtin_trap();
  }
  heron::ListReader r(bytes);
  uint32_t v;
  std::string text;
  while (r.ReadText(text) && r.ReadU32(v)) {
  }
  return 0;
}
