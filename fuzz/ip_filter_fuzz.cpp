// Address-list entries are typed by administrators and stored as text; the
// client address side comes from the network stack. Neither may crash the
// matcher.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/ip_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t nl = all.find('\n');
  std::string_view entry = all.substr(0, nl);
  std::string_view address = nl == std::string_view::npos ? "192.168.1.20" : all.substr(nl + 1);
  heron::IpFilterEntry::Parse(entry).Matches(address);
  heron::NormalizeAddress(address);
  return 0;
}
