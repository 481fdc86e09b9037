// A bounded list of client addresses shared by every SMTP session (the
// passed and the rejected addresses of the screening at MAIL). Safe to use
// from any thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>

namespace heron {

class AddressCache {
 public:
  bool Contains(const std::string& address);
  // Adds an address not yet present (case ignored), dropping the oldest
  // beyond `capacity`; a capacity of 0 empties the cache and adds nothing.
  void Add(const std::string& address, int capacity);
  size_t size();

 private:
  std::mutex mu_;
  std::deque<std::string> entries_;
};

}  // namespace heron
