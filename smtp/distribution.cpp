#include "smtp/distribution.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/address.h"
#include "service/mail_folders.h"
#include "service/mail_rules.h"
#include "service/mailbox_folder.h"
#include "service/message_file.h"

namespace heron {

CDistribution::CDistribution(const OspreySettings& settings, AccountStore& accounts, LogFn log)
    : settings_(settings), accounts_(accounts), log_(std::move(log)) {}

std::string CDistribution::Root() const { return MailRoot(settings_.mail_folder); }

void CDistribution::DistributeLeftovers() {
  std::string root = Root();
  // Partial writes of a stopped service: never acknowledged, never visible.
  std::string tmp = FolderPath(root, kTempFolder);
  for (const FileEntry& e : ListFolder(tmp)) DeleteFile(FolderPath(tmp, e.name));
  std::string drop = FolderPath(root, kDropFolder);
  std::vector<FileEntry> drops = ListFolder(drop);
  std::sort(drops.begin(), drops.end(),
            [](const FileEntry& a, const FileEntry& b) { return a.mtime < b.mtime; });
  for (const FileEntry& e : drops) {
    if (!e.is_dir && HasMessageExtension(e.name)) Distribute(FolderPath(drop, e.name));
  }
}

bool CDistribution::CopyInto(const std::string& from, const std::string& folder,
                             const std::string& file_name) {
  std::string tmp = FolderPath(Root(), kTempFolder);
  if (!CreateFolderPath(tmp, 0700) || !CreateFolderPath(folder)) return false;
  return CopyFileDurable(from, FolderPath(folder, file_name), tmp);
}

bool CDistribution::ApplyCopyRules(const std::string& from, const std::string& mailbox,
                                   const std::string& file_name) {
  bool ok = true;
  for (const std::string& target : CopyTargets(mailbox, settings_.copy_rules)) {
    auto folder = FindMailbox(Root(), target);
    if (!folder) continue;  // a target without a folder gets nothing
    log_(2, B5("<SMTP> 複製訊息複本到： ") + *folder + "/");
    if (CopyInto(from, *folder, file_name)) {
      log_(2, B5("<SMTP> 複製完成"));
    } else {
      log_(1, B5("<SMTP> 複製失敗： ") + *folder + "/");
      ok = false;
    }
  }
  return ok;
}

bool CDistribution::Distribute(const std::string& drop_file) {
  std::string file_name = drop_file.substr(drop_file.rfind('/') + 1);
  log_(2, B5("<SMTP> 訊息接收中: ") + file_name);
  std::string content;
  if (!ReadFile(drop_file, content)) {
    log_(1, B5("<SMTP> 無法讀取訊息： ") + drop_file);
    return false;
  }
  std::string root = Root();
  bool all_copied = true;
  auto copy = [&](const std::string& folder, const std::string& big5_label) {
    log_(2, big5_label + folder + "/");
    bool ok = CopyInto(drop_file, folder, file_name);
    if (!ok) log_(1, B5("<SMTP> 複製失敗： ") + folder + "/");
    all_copied = all_copied && ok;
    return ok;
  };

  // Copies into the folder of a configured account (CcAccount, catch-all),
  // made when missing. A name that cannot be a folder is a setting error and
  // is skipped; a folder that cannot be made is a failed copy.
  auto copy_to_account = [&](const std::string& name, const std::string& big5_label) {
    if (!IsMailboxName(name)) {
      log_(1, B5("<SMTP> 帳號名稱無法作為信箱： ") + name);
      return;
    }
    if (auto folder = EnsureMailbox(root, name)) {
      copy(*folder, big5_label);
    } else {
      log_(1, B5("<SMTP> 複製失敗： ") + FolderPath(root, name) + "/");
      all_copied = false;
    }
  };

  bool queued = false;
  for (const std::string& recipient : ReadRecipients(content)) {
    if (!IsLocalDomain(DomainOf(recipient), settings_.domains)) {
      if (queued) continue;
      queued = true;
      copy(FolderPath(root, kQueueFolder), B5("<SMTP> 複製訊息到： "));
      if (settings_.CcAccountOn()) {
        copy_to_account(settings_.cc_account, B5("<SMTP> 複製寄件複本到： "));
      }
      continue;
    }
    std::string name = MailboxOf(recipient);
    auto folder = FindMailbox(root, name);
    auto account = folder ? std::nullopt : accounts_.StoredName(name);
    if (folder || account) {
      if (!folder) folder = EnsureMailbox(root, *account);  // the account's own spelling
      if (!folder) {
        log_(1, B5("<SMTP> 複製失敗： ") + FolderPath(root, *account) + "/");
        all_copied = false;
        continue;
      }
      if (copy(*folder, B5("<SMTP> 複製訊息到： "))) log_(2, B5("<SMTP> 複製完成"));
      all_copied = ApplyCopyRules(drop_file, name, file_name) && all_copied;
    } else if (settings_.CatchAllOn()) {
      copy_to_account(settings_.catch_all_account, B5("<SMTP> 收件人帳號不存在，複製訊息到： "));
    }
  }
  // A copy that failed keeps the drop file for the next start, so that no
  // recipient loses the message; copies already made are replaced then.
  if (!all_copied) return false;
  DeleteFile(drop_file);
  return true;
}

}  // namespace heron
