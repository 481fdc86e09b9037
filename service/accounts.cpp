#include "service/accounts.h"

#include <algorithm>

#include "platform/text.h"
#include "service/encoded_list.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"
#include "service/settings_store.h"

namespace heron {
namespace {

constexpr const char* kKey = "UserAccounts";
constexpr const char* kValue = "Users";

CUserAccount DefaultAccount() { return {"admin", "Administrator", "", 0}; }

}  // namespace

std::string EncodeAccounts(const std::vector<CUserAccount>& accounts, bool old_layout) {
  ListWriter w;
  w.WriteCount(accounts.size());
  for (const auto& a : accounts) {
    w.WriteText(a.name);
    w.WriteText(a.full_name);
    w.WriteText(a.password);
    if (!old_layout) w.WriteU32(static_cast<uint32_t>(a.no_external_mail));
  }
  return w.bytes();
}

std::optional<std::vector<CUserAccount>> DecodeAccounts(std::string_view bytes, bool old_layout) {
  ListReader r(bytes);
  uint32_t count;
  if (!r.ReadCount(count)) return std::nullopt;
  std::vector<CUserAccount> out;
  for (uint32_t i = 0; i < count; ++i) {
    CUserAccount a;
    uint32_t flag = 0;
    if (!r.ReadText(a.name) || !r.ReadText(a.full_name) || !r.ReadText(a.password)) {
      return std::nullopt;
    }
    if (!old_layout && !r.ReadU32(flag)) return std::nullopt;
    a.no_external_mail = static_cast<int32_t>(flag);
    out.push_back(std::move(a));
  }
  return out;
}

std::optional<std::string> StoredAccounts::ReadList() { return store_.ReadBytes(kKey, kValue); }

bool StoredAccounts::WriteList(const std::string& bytes) {
  return store_.WriteBytes(kKey, kValue, bytes);
}

void StoredAccounts::EnsureMailboxes(const std::vector<CUserAccount>& accounts) {
  std::string root = MailRoot(mail_folder_());
  for (const auto& a : accounts) EnsureMailbox(root, a.name);
}

AccountStore::AccountStore(SettingsStore& store, std::function<std::string()> mail_folder)
    : owned_storage_(std::make_unique<StoredAccounts>(store, std::move(mail_folder))),
      storage_(*owned_storage_) {}

AccountStore::LoadResult AccountStore::Load() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  LoadResult result = LoadResult::kLoaded;
  auto bytes = storage_.ReadList();
  if (!bytes) {
    accounts_ = {DefaultAccount()};
    result = LoadResult::kDefault;
  } else if (bytes->size() > kMaxAccountBytes) {
    result = LoadResult::kTooLong;
  } else if (auto current = DecodeAccounts(*bytes)) {
    accounts_ = std::move(*current);
  } else if (auto old = DecodeAccounts(*bytes, true)) {
    // The previous layout: take it over and store it in the current one.
    accounts_ = std::move(*old);
    Save();
    result = LoadResult::kMigrated;
  } else {
    result = LoadResult::kUndecodable;  // the list held before stays
  }
  storage_.EnsureMailboxes(accounts_);
  return result;
}

bool AccountStore::Save() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::string bytes = EncodeAccounts(accounts_);
  if (bytes.size() > kMaxAccountBytes) return false;
  return storage_.WriteList(bytes);
}

CUserAccount* AccountStore::Find(const std::string& name) {
  for (auto& a : accounts_) {
    if (EqualsNoCase(a.name, name)) return &a;
  }
  return nullptr;
}

bool AccountStore::Exists(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return Find(name) != nullptr;
}

std::optional<std::string> AccountStore::StoredName(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (const CUserAccount* a = Find(name)) return a->name;
  return std::nullopt;
}

bool AccountStore::CheckPassword(const std::string& name, const std::string& password,
                                 int32_t* no_external_mail) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  for (const auto& a : accounts_) {
    // An account without a password (the fresh admin) never logs in: it is
    // usable once a password is set.
    if (EqualsNoCase(a.name, name) && !a.password.empty() && EqualsNoCase(a.password, password)) {
      if (no_external_mail) *no_external_mail = a.no_external_mail;
      return true;
    }
  }
  return false;
}

bool AccountStore::SetPassword(const std::string& name, const std::string& password) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CUserAccount* a = Find(name);
  if (!a) return false;
  a->password = password;
  bool saved = Save();
  Load();  // a failed save is undone by reading the stored list again
  return saved;
}

bool AccountStore::Add(const std::string& name, const std::string& password) {
  return Add(CUserAccount{name, "", password, 0});
}

bool AccountStore::Add(const CUserAccount& account, bool sorted) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!IsMailboxName(account.name) || Find(account.name)) return false;
  accounts_.push_back(account);
  if (sorted) SortAccounts(accounts_);
  bool saved = Save();
  Load();
  return saved;
}

bool AccountStore::Replace(std::vector<CUserAccount> accounts) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  SortAccounts(accounts);
  if (EncodeAccounts(accounts).size() > kMaxAccountBytes) return false;
  std::swap(accounts_, accounts);
  if (Save()) return true;
  std::swap(accounts_, accounts);
  return false;
}

std::vector<std::string> StoredAccountNames(SettingsStore& store) {
  std::vector<std::string> names;
  auto bytes = store.ReadBytes("UserAccounts", "Users");
  if (!bytes || bytes->size() > 8191) return names;
  auto accounts = DecodeAccounts(*bytes);
  if (!accounts) accounts = DecodeAccounts(*bytes, true);
  if (accounts) {
    for (const CUserAccount& a : *accounts) names.push_back(a.name);
  }
  return names;
}

bool IsDefaultAccount(std::string_view name) { return EqualsNoCase(name, "admin"); }

void SortAccounts(std::vector<CUserAccount>& accounts) {
  std::stable_sort(accounts.begin(), accounts.end(),
                   [](const CUserAccount& a, const CUserAccount& b) {
                     return ToLowerAscii(a.name) < ToLowerAscii(b.name);
                   });
}

bool AccountStore::Delete(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::vector<CUserAccount> kept;
  for (auto& a : accounts_) {
    if (!EqualsNoCase(a.name, name)) kept.push_back(a);
  }
  accounts_ = std::move(kept);
  bool saved = Save();
  Load();
  return saved;
}

std::vector<CUserAccount> AccountStore::accounts() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return accounts_;
}

}  // namespace heron
