// The screening of a client and its sender at MAIL: private addresses, the
// two address caches, the DNS blocklist, the reverse-lookup keywords and the
// sender patterns. The rules only: lookups and caches come through the
// session's host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace heron {

// The blocklist zones and the web address named in the refusal.
inline constexpr const char* kCombinedBlocklistZone = "zen.spamhaus.org";  // with policy ranges
inline constexpr const char* kBlocklistZone = "sbl-xbl.spamhaus.org";      // without them
inline constexpr const char* kBlocklistOperator = "https://www.spamhaus.org/";

// What a reverse lookup of a client address found.
struct ReverseName {
  bool found = false;    // a record exists
  bool has_name = true;  // it carries a name
  std::string name;
};

// Private addresses: the empty text, 127.0.0.1, 10.*.*.*, 172.*.*.*,
// 192.168.*.* and 169.254.*.*, and the IPv6 loopback ::1.
bool IsPrivateAddress(std::string_view address);
// The blocklist query name of a dotted address ("1.2.0.192.zone"); empty for
// any other text.
std::string BlocklistQuery(std::string_view address, std::string_view zone);
// The reverse-lookup test: suspect or not. Without a usable name (no
// record, or a name that is empty or has no dot) the answer is `block_dyn_ip2`.
bool ReverseSuspect(const ReverseName& reverse, const std::vector<std::string>& keywords,
                    bool block_dyn_ip2);
// Whether the sender (its bracketed address, trimmed) matches a pattern.
bool SenderBlocked(std::string_view sender, const std::vector<std::string>& patterns);

}  // namespace heron
