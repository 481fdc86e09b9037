// Test helper: an account list kept in memory, with the mailbox folders it
// asks for recorded instead of made.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "service/accounts.h"

namespace heron::testing {

class MemoryAccounts : public AccountStorage {
 public:
  explicit MemoryAccounts(const std::vector<CUserAccount>& list) : bytes_(EncodeAccounts(list)) {}
  std::optional<std::string> ReadList() override { return bytes_; }
  bool WriteList(const std::string& bytes) override {
    bytes_ = bytes;
    return true;
  }
  void EnsureMailboxes(const std::vector<CUserAccount>& accounts) override {
    for (const auto& a : accounts) EnsureMailbox(a.name);
  }
  void EnsureMailbox(const std::string& name) {
    if (!HasFolder(name)) folders.insert(name);
  }
  bool HasFolder(const std::string& name) const {
    for (const auto& f : folders) {
      if (EqualsNoCase(f, name)) return true;
    }
    return false;
  }

  std::set<std::string> folders;

 private:
  std::optional<std::string> bytes_;
};

}  // namespace heron::testing
