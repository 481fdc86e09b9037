// Mail addresses and the folders under MailFolder that they lead to.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

// Text between "<" and ">" when present, else the whole address.
std::string_view AddressInBrackets(std::string_view address);
// Mailbox name: the bracketed address before "@", trimmed.
std::string MailboxOf(std::string_view address);
// Domain: the bracketed address after "@", trimmed, up to a blank that
// starts parameters ("" without "@").
std::string DomainOf(std::string_view address);
// True when `domain` is in the list (ASCII case ignored).
bool IsLocalDomain(std::string_view domain, const std::vector<std::string>& domains);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string Trim(std::string_view s);
std::string ToUpperAscii(std::string_view s);
std::string ToLowerAscii(std::string_view s);

// "*" matches any run (also empty), "?" one character; case-sensitive; the
// whole text must match.
bool WildcardMatch(std::string_view pattern, std::string_view text);

// Expands a forward target against the address that matched its rule.
std::string ExpandForwardTarget(std::string_view address, std::string_view target);
// The targets of every forward rule ("pattern|target") matching the address,
// each as "<target>", joined with ",". Empty when no rule matches.
std::string ForwardTargets(std::string_view address, const std::vector<std::string>& rules);

// A name that can be a mailbox folder: a safe path part that is not one of
// the service's own folders under MailFolder (drop, queue, xqueue, yqueue,
// badmail), whatever its letter case.
bool IsMailboxName(const std::string& name);

// MailFolder without trailing separators.
std::string MailRoot(const std::string& mail_folder);
// Full path of the existing folder of a mailbox, found without regard to
// case; nothing for unsafe names or a missing folder.
std::optional<std::string> FindMailbox(const std::string& mail_root, const std::string& name);
// The folder of a mailbox, created with the given spelling when no folder
// matches; nothing for unsafe names or when it cannot be made.
std::optional<std::string> EnsureMailbox(const std::string& mail_root, const std::string& name);

}  // namespace heron
