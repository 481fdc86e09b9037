// Address-list entries (IpFilter, SafeIp): a single address, a range, or a
// four-part wildcard pattern, and the matching rule shared by every caller.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace heron {

struct IpFilterEntry {
  std::string low;
  std::string high;
  bool wildcard = false;

  static IpFilterEntry Parse(std::string_view text);
  bool Matches(std::string_view address) const;
};

// Twelve-digit key "%03d%03d%03d%03d" of a four-part dotted text (parts
// trimmed of blanks); any other text is returned unchanged.
std::string NormalizeAddress(std::string_view text);

// True when some entry of `list` matches the client address.
bool MatchIpList(std::string_view address, const std::vector<std::string>& list);

}  // namespace heron
