#include "service/ip_filter.h"

#include <climits>
#include <cstdio>

#include "platform/text.h"

namespace heron {
namespace {

std::vector<std::string_view> SplitDots(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = s.find('.', start);
    parts.push_back(s.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string NormalizeAddress(std::string_view text) {
  auto parts = SplitDots(text);
  if (parts.size() != 4) return std::string(text);
  std::string out;
  for (auto p : parts) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d", ReadDecimal(TrimSpaces(p)));
    out += buf;
  }
  return out;
}

IpFilterEntry IpFilterEntry::Parse(std::string_view text) {
  IpFilterEntry e;
  size_t sep = text.find_first_of("|,;- ");
  if (sep == std::string_view::npos) {
    e.low = e.high = std::string(text);
  } else {
    e.low = std::string(text.substr(0, sep));
    e.high = std::string(text.substr(sep + 1));
  }
  e.wildcard = e.low.find('*') != std::string::npos;
  return e;
}

bool IpFilterEntry::Matches(std::string_view address) const {
  if (wildcard) {
    auto addr = SplitDots(address);
    auto pat = SplitDots(low);
    for (size_t i = 0; i < addr.size(); ++i) {
      if (i >= pat.size()) return false;
      if (pat[i] != "*" && pat[i] != addr[i]) return false;
    }
    return true;
  }
  std::string a = NormalizeAddress(address);
  return a >= NormalizeAddress(low) && a <= NormalizeAddress(high);
}

bool MatchIpList(std::string_view address, const std::vector<std::string>& list) {
  for (const auto& text : list) {
    if (IpFilterEntry::Parse(text).Matches(address)) return true;
  }
  return false;
}

}  // namespace heron
