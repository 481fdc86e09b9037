// DNS replies arrive from the network: any datagram that reaches the
// lookup's socket from the server's address goes through ParseReply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dns/dns_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  static const std::string unsupported = "Unsupported";
  if (auto reply = heron::ParseReply(in, unsupported)) {
    for (const auto* section : {&reply->answers, &reply->authorities, &reply->additionals}) {
      for (const heron::DnsEntry& e : *section) {
        if (e.name.size() > heron::kDnsMaxName) __builtin_trap();
      }
    }
  }
  // Every offset of a small input as the start of a name: the name stays
  // within its limit and the position moves forward, never past the end.
  if (size <= 512) {
    for (size_t start = 0; start < size; ++start) {
      size_t pos = start;
      auto name = heron::DecodeName(in, pos);
      if (name && (name->size() > heron::kDnsMaxName || pos <= start || pos > size)) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
