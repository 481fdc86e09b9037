#include "service/mail_rules.h"

#include "platform/text.h"
#include "service/address.h"
#include "service/wildcard.h"

namespace heron {
namespace {

std::string ExpandPart(std::string_view target, std::string_view address) {
  std::string out;
  size_t i = 0;
  for (char c : target) {
    if (i >= address.size()) {
      if (c == '?' || c == '*') break;
      out += c;
      continue;
    }
    if (c == '?') {
      out += address[i++];
    } else if (c == '*') {
      out.append(address.substr(i));
      break;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string ExpandForwardTarget(std::string_view address, std::string_view target) {
  size_t a_at = address.find('@');
  size_t t_at = target.find('@');
  if (a_at == std::string_view::npos || t_at == std::string_view::npos) {
    return std::string(address);
  }
  return ExpandPart(target.substr(0, t_at), address.substr(0, a_at)) + "@" +
         ExpandPart(target.substr(t_at + 1), address.substr(a_at + 1));
}

std::string ForwardTargets(std::string_view address, const std::vector<std::string>& rules) {
  std::string plain = Trim(AddressInBrackets(address));
  std::string out;
  for (const auto& rule : rules) {
    size_t bar = rule.find('|');
    if (bar == std::string::npos) continue;
    if (!WildcardMatch(std::string_view(rule).substr(0, bar), plain)) continue;
    out += '<';
    out += ExpandForwardTarget(plain, std::string_view(rule).substr(bar + 1));
    out += ">,";
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::vector<std::string> CopyTargets(std::string_view mailbox,
                                     const std::vector<std::string>& rules) {
  std::string joined;
  for (const std::string& rule : rules) {
    size_t bar = rule.find('|');
    if (bar != std::string::npos && EqualsNoCase(std::string_view(rule).substr(0, bar), mailbox)) {
      joined += rule.substr(bar + 1) + ",";
    }
  }
  std::vector<std::string> out;
  size_t start = 0;
  while (start < joined.size()) {
    size_t comma = joined.find(',', start);
    out.push_back(Trim(std::string_view(joined).substr(start, comma - start)));
    start = comma + 1;
  }
  return out;
}

}  // namespace heron
