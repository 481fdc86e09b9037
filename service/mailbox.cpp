#include "service/mailbox.h"

#include "platform/files.h"

namespace heron {

std::string_view AddressInBrackets(std::string_view address) {
  size_t lt = address.find('<');
  if (lt == std::string_view::npos) return address;
  size_t gt = address.find('>', lt + 1);
  return address.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1);
}

std::string Trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string MailboxOf(std::string_view address) {
  std::string_view a = AddressInBrackets(address);
  return Trim(a.substr(0, a.find('@')));
}

std::string DomainOf(std::string_view address) {
  std::string_view a = AddressInBrackets(address);
  size_t at = a.find('@');
  if (at == std::string_view::npos) return std::string();
  // An address written without brackets may be followed by parameters.
  std::string domain = Trim(a.substr(at + 1));
  return domain.substr(0, domain.find_first_of(" \t"));
}

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

bool IsLocalDomain(std::string_view domain, const std::vector<std::string>& domains) {
  for (const auto& d : domains) {
    if (EqualsNoCase(d, domain)) return true;
  }
  return false;
}

bool WildcardMatch(std::string_view pattern, std::string_view text) {
  // Iterative match with backtracking to the last "*": linear in practice,
  // never recursive, so hostile patterns cannot exhaust the stack.
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

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

bool IsMailboxName(const std::string& name) {
  if (!IsSafePathName(name)) return false;
  for (const char* own : {"drop", "queue", "xqueue", "yqueue", "badmail"}) {
    if (EqualsNoCase(name, own)) return false;
  }
  return true;
}

std::string MailRoot(const std::string& mail_folder) { return TrimTrailingSlashes(mail_folder); }

std::optional<std::string> FindMailbox(const std::string& mail_root, const std::string& name) {
  if (!IsMailboxName(name)) return std::nullopt;
  auto found = FindChildNoCase(mail_root, name);
  if (!found) return std::nullopt;
  std::string path = mail_root + "/" + *found;
  auto st = StatFile(path);
  if (!st || !st->is_dir) return std::nullopt;
  return path;
}

std::optional<std::string> EnsureMailbox(const std::string& mail_root, const std::string& name) {
  if (auto found = FindMailbox(mail_root, name)) return found;
  if (!IsMailboxName(name)) return std::nullopt;
  std::string path = mail_root + "/" + name;
  if (!CreateFolderPath(path)) return std::nullopt;
  return path;
}

}  // namespace heron
