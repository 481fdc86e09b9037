// Mail addresses as the sessions and the distribution read them.
#pragma once

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

}  // namespace heron
