// DNS messages: the MX query this client sends and the decoder of replies.
// The decoder never reads outside the bytes it is given; any violation ends
// the parse of that reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

constexpr uint16_t kDnsTypeA = 1;
constexpr uint16_t kDnsTypeMx = 15;
constexpr uint16_t kDnsTypeAaaa = 28;
constexpr uint16_t kDnsFlagAuthoritative = 0x0400;
// Longest decoded name, and most compression pointers followed in one name.
constexpr size_t kDnsMaxName = 255;
constexpr int kDnsMaxPointers = 32;

struct DnsEntry {
  std::string name;
  uint16_t type = 0;
  uint16_t klass = 0;
  uint32_t ttl = 0;
  uint16_t data_length = 0;
  std::string data;  // RDATA as text
};

struct DnsReply {
  uint16_t id = 0;
  uint16_t flags = 0;
  std::vector<DnsEntry> questions;
  std::vector<DnsEntry> answers;
  std::vector<DnsEntry> authorities;
  std::vector<DnsEntry> additionals;
  uint16_t rcode() const { return flags & 0x0F; }
  bool authoritative() const { return flags & kDnsFlagAuthoritative; }
};

// The MX query for `domain` (id 1, recursion desired). Nothing when a label
// is longer than 63 characters.
std::optional<std::string> EncodeMxQuery(std::string_view domain);

// Decodes a reply. Nothing when it is truncated or malformed anywhere.
// `unsupported` is the text for record types without a text form.
std::optional<DnsReply> ParseReply(std::string_view bytes, const std::string& unsupported);

// Decodes the name at `pos`, moving `pos` past it. Nothing on a violation.
std::optional<std::string> DecodeName(std::string_view bytes, size_t& pos);

}  // namespace heron
