#include "service/address.h"

#include "platform/text.h"

namespace heron {

std::string_view AddressInBrackets(std::string_view address) {
  size_t lt = address.find('<');
  if (lt == std::string_view::npos) return address;
  size_t gt = address.find('>', lt + 1);
  return address.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1);
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

bool IsLocalDomain(std::string_view domain, const std::vector<std::string>& domains) {
  for (const auto& d : domains) {
    if (EqualsNoCase(d, domain)) return true;
  }
  return false;
}

}  // namespace heron
