#include "service/address_cache.h"

#include "platform/text.h"

namespace heron {

bool AddressCache::Contains(const std::string& address) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::string& e : entries_) {
    if (EqualsNoCase(e, address)) return true;
  }
  return false;
}

void AddressCache::Add(const std::string& address, int capacity) {
  std::lock_guard<std::mutex> lock(mu_);
  if (capacity <= 0) {
    entries_.clear();
    return;
  }
  for (const std::string& e : entries_) {
    if (EqualsNoCase(e, address)) return;
  }
  entries_.push_back(address);
  while (entries_.size() > static_cast<size_t>(capacity)) entries_.pop_front();
}

size_t AddressCache::size() {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

}  // namespace heron
