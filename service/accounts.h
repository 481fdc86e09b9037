// User accounts: the record, its stored encoding, and the store that keeps
// the list in memory under the settings lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

class SettingsStore;

struct CUserAccount {
  std::string name;       // login name, also the mailbox folder name
  std::string full_name;  // free text
  std::string password;   // plain text
  int32_t no_external_mail = 0;
  bool operator==(const CUserAccount&) const = default;
};

// The stored layout; `old_layout` leaves out the NoExternalMail numbers.
std::string EncodeAccounts(const std::vector<CUserAccount>& accounts, bool old_layout = false);
// Nothing when the bytes end early or hold a bad length.
std::optional<std::vector<CUserAccount>> DecodeAccounts(std::string_view bytes,
                                                        bool old_layout = false);

// The names of the stored account list (either layout, at most 8191 bytes),
// for choosers.
std::vector<std::string> StoredAccountNames(SettingsStore& store);

// The default account, which can never be removed.
bool IsDefaultAccount(std::string_view name);
// The applet's order: by name, case ignored (equal names keep their order).
void SortAccounts(std::vector<CUserAccount>& accounts);

// Largest stored account list.
constexpr size_t kMaxAccountBytes = 4095;

// Where the account list is kept, and the mailbox folders of its accounts.
class AccountStorage {
 public:
  virtual ~AccountStorage() = default;
  // The stored list bytes; nothing when absent.
  virtual std::optional<std::string> ReadList() = 0;
  virtual bool WriteList(const std::string& bytes) = 0;
  // Makes the mailbox folder of every account that has none; failures are
  // not reported.
  virtual void EnsureMailboxes(const std::vector<CUserAccount>& accounts) = 0;
};

// The list in the settings store (UserAccounts\Users), the folders under the
// MailFolder in force.
class StoredAccounts : public AccountStorage {
 public:
  StoredAccounts(SettingsStore& store, std::function<std::string()> mail_folder)
      : store_(store), mail_folder_(std::move(mail_folder)) {}
  std::optional<std::string> ReadList() override;
  bool WriteList(const std::string& bytes) override;
  void EnsureMailboxes(const std::vector<CUserAccount>& accounts) override;

 private:
  SettingsStore& store_;
  std::function<std::string()> mail_folder_;
};

class AccountStore {
 public:
  enum class LoadResult { kLoaded, kDefault, kMigrated, kTooLong, kUndecodable };

  explicit AccountStore(AccountStorage& storage) : storage_(storage) {}
  // Kept in the settings store; `mail_folder` gives the MailFolder in force.
  AccountStore(SettingsStore& store, std::function<std::string()> mail_folder);

  // Reads the stored list; an absent value gives the default account, one
  // too long or undecodable keeps the list held before. Creates a mailbox
  // folder for every account.
  LoadResult Load();
  // Writes the list; false without writing when it exceeds 4095 bytes.
  bool Save();

  bool Exists(const std::string& name);
  // The account's name as stored (its own spelling), if it exists.
  std::optional<std::string> StoredName(const std::string& name);
  // False for an account whose password is empty, whatever is given.
  bool CheckPassword(const std::string& name, const std::string& password,
                     int32_t* no_external_mail = nullptr);
  // These change the list, save it and load it again. They fail when the
  // save fails (the change is then not kept) and for names that cannot be
  // folder names.
  bool SetPassword(const std::string& name, const std::string& password);
  bool Add(const std::string& name, const std::string& password);
  // With `sorted` the list is stored in the applet's order: by name, case
  // ignored (equal names keep their order).
  bool Add(const CUserAccount& account, bool sorted = false);
  bool Delete(const std::string& name);
  // Stores `accounts` in the applet's order in place of the list; false
  // (nothing stored, the list held stays) when it would be too long.
  bool Replace(std::vector<CUserAccount> accounts);

  std::vector<CUserAccount> accounts();
  // The settings lock; re-entrant.
  std::recursive_mutex& lock() { return mu_; }

 private:
  CUserAccount* Find(const std::string& name);

  std::unique_ptr<AccountStorage> owned_storage_;
  AccountStorage& storage_;
  std::vector<CUserAccount> accounts_;
  std::recursive_mutex mu_;
};

}  // namespace heron
