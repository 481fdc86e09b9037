#include "smtp/screening.h"

#include "platform/text.h"
#include "service/address.h"
#include "service/ip_filter.h"
#include "service/wildcard.h"

namespace heron {

bool IsPrivateAddress(std::string_view address) {
  // IPv6 loopback, link-local and unique local addresses count as the
  // private IPv4 ranges do.
  std::string lower = ToLowerAscii(address);
  if (lower.find(':') != std::string::npos &&
      (lower == "::1" || lower.starts_with("fe8") || lower.starts_with("fe9") ||
       lower.starts_with("fea") || lower.starts_with("feb") || lower.starts_with("fc") ||
       lower.starts_with("fd"))) {
    return true;
  }
  for (const char* entry :
       {"", "127.0.0.1", "10.*.*.*", "172.*.*.*", "192.168.*.*", "169.254.*.*"}) {
    if (EqualsNoCase(address, entry)) return true;
    if (std::string_view(entry).find('*') != std::string_view::npos &&
        IpFilterEntry::Parse(entry).Matches(address)) {
      return true;
    }
  }
  return false;
}

std::string BlocklistQuery(std::string_view address, std::string_view zone) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = address.find('.', start);
    std::string part(address.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
      return std::string();
    }
    parts.push_back(part);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 4) return std::string();
  return parts[3] + "." + parts[2] + "." + parts[1] + "." + parts[0] + "." + std::string(zone);
}

bool ReverseSuspect(const ReverseName& reverse, const std::vector<std::string>& keywords,
                    bool block_dyn_ip2) {
  if (!reverse.found) return block_dyn_ip2;
  if (!reverse.has_name) return false;
  if (reverse.name.empty() || reverse.name.find('.') == std::string::npos) return block_dyn_ip2;
  if (keywords.empty()) return false;
  std::string name = ToUpperAscii(reverse.name);
  for (char& c : name) {
    if (c == '-') c = '.';
  }
  for (const std::string& k : keywords) {
    std::string key = ToUpperAscii(Trim(k));
    bool head = !key.empty() && key.front() == '*', tail = !key.empty() && key.back() == '*';
    std::string core = key;
    while (!core.empty() && core.front() == '*') core.erase(0, 1);
    while (!core.empty() && core.back() == '*') core.pop_back();
    bool hit;
    if (!head && tail) {
      hit = name.starts_with(core);
    } else if (head && !tail) {
      hit = name.ends_with(core);
    } else {
      hit = name.find(core) != std::string::npos;
    }
    if (hit) return true;
  }
  return false;
}

bool SenderBlocked(std::string_view sender, const std::vector<std::string>& patterns) {
  std::string plain = Trim(AddressInBrackets(sender));
  for (const std::string& p : patterns) {
    if (WildcardMatch(p, plain)) return true;
  }
  return false;
}

}  // namespace heron
