#include "smtp/distribution.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/files.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/address.h"
#include "service/mail_folders.h"
#include "service/mail_rules.h"
#include "service/mailbox_folder.h"
#include "service/message_file.h"

namespace heron {
namespace {

// The folders a drop file's journal names.
std::set<std::string> ReadJournal(const std::string& path) {
  std::set<std::string> done;
  std::string text;
  if (!ReadFile(path, text)) return done;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;  // a line cut short by a crash
    done.insert(text.substr(start, nl - start));
    start = nl + 1;
  }
  return done;
}

bool AppendLine(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string text = line + "\n";
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

enum class Copy { kFailed, kMade, kDone };

}  // namespace

CDistribution::CDistribution(SettingsFn settings, AccountStore& accounts, LogFn log)
    : settings_(std::move(settings)), accounts_(accounts), log_(std::move(log)) {}

std::vector<std::string> CDistribution::TakeLeftovers() {
  std::string root = MailRoot(settings_()->mail_folder);
  // Partial writes of a stopped service: never acknowledged, never visible.
  std::string tmp = FolderPath(root, kTempFolder);
  for (const FileEntry& e : ListFolder(tmp)) DeleteFile(FolderPath(tmp, e.name));
  std::string drop = FolderPath(root, kDropFolder);
  std::vector<FileEntry> drops = ListFolder(drop);
  std::sort(drops.begin(), drops.end(),
            [](const FileEntry& a, const FileEntry& b) { return a.mtime < b.mtime; });
  std::vector<std::string> out;
  for (const FileEntry& e : drops) {
    if (!e.is_dir && HasMessageExtension(e.name)) out.push_back(FolderPath(drop, e.name));
  }
  // Journals whose drop file is gone were left by a crash after the delete.
  for (const FileEntry& e : drops) {
    if (e.is_dir || HasMessageExtension(e.name)) continue;
    std::string name = TrimJournalSuffix(e.name);
    if (name != e.name && !FileExists(FolderPath(drop, name))) DeleteFile(FolderPath(drop, e.name));
  }
  return out;
}

void CDistribution::RetryKept() {
  std::vector<std::string> kept = kept_;
  for (const std::string& drop : kept) Distribute(drop);
}

bool CDistribution::CopyInto(const std::string& root, const std::string& from,
                             const std::string& folder, const std::string& file_name) {
  std::string tmp = FolderPath(root, kTempFolder);
  if (!CreateFolderPath(tmp, 0700) || !CreateFolderPath(folder)) return false;
  return CopyFileDurable(from, FolderPath(folder, file_name), tmp);
}

bool CDistribution::Distribute(const std::string& drop_file) {
  std::shared_ptr<const OspreySettings> snapshot = settings_();
  const OspreySettings& settings = *snapshot;
  std::string file_name = drop_file.substr(drop_file.rfind('/') + 1);
  std::string drop_folder = drop_file.substr(0, drop_file.rfind('/'));
  std::string journal = FolderPath(drop_folder, CopyJournalName(file_name));
  kept_.erase(std::remove(kept_.begin(), kept_.end(), drop_file), kept_.end());
  log_(2, B5("<SMTP> 訊息接收中: ") + file_name);
  std::string content;
  if (!ReadFile(drop_file, content)) {
    log_(1, B5("<SMTP> 無法讀取訊息： ") + drop_file);
    return false;
  }
  std::string root = MailRoot(settings.mail_folder);
  std::set<std::string> done = ReadJournal(journal);
  bool all_copied = true;
  bool journal_written = false;

  // One copy into a folder. A folder that already has its copy (from an
  // earlier attempt) is never given a second one: its owner may have
  // fetched and deleted it since.
  auto copy = [&](const std::string& folder, const std::string& big5_label) {
    std::string key = folder.substr(std::min(folder.size(), root.size() + 1));
    if (done.count(key)) return Copy::kDone;
    log_(2, big5_label + folder + "/");
    if (!CopyInto(root, drop_file, folder, file_name)) {
      log_(1, B5("<SMTP> 複製失敗： ") + folder + "/");
      all_copied = false;
      return Copy::kFailed;
    }
    done.insert(key);
    journal_written = AppendLine(journal, key) || journal_written;
    return Copy::kMade;
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

  // The copy rules of a local mailbox: targets that have a folder.
  auto apply_copy_rules = [&](const std::string& mailbox) {
    for (const std::string& target : CopyTargets(mailbox, settings.copy_rules)) {
      auto folder = FindMailbox(root, target);
      if (!folder) continue;  // a target without a folder gets nothing
      if (copy(*folder, B5("<SMTP> 複製訊息複本到： ")) == Copy::kMade) {
        log_(2, B5("<SMTP> 複製完成"));
      }
    }
  };

  bool queued = false;
  for (const std::string& recipient : ReadRecipients(content)) {
    if (!IsLocalDomain(DomainOf(recipient), settings.domains)) {
      if (queued) continue;
      queued = true;
      copy(FolderPath(root, kQueueFolder), B5("<SMTP> 複製訊息到： "));
      if (settings.CcAccountOn()) {
        copy_to_account(settings.cc_account, B5("<SMTP> 複製寄件複本到： "));
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
      if (copy(*folder, B5("<SMTP> 複製訊息到： ")) == Copy::kMade) log_(2, B5("<SMTP> 複製完成"));
      apply_copy_rules(name);
    } else if (settings.CatchAllOn()) {
      copy_to_account(settings.catch_all_account, B5("<SMTP> 收件人帳號不存在，複製訊息到： "));
    }
  }
  if (!all_copied) {
    // Kept for a later attempt; which copies are done survives a crash.
    if (journal_written) {
      SyncFile(journal);
      SyncFolder(drop_folder);
    }
    kept_.push_back(drop_file);
    return false;
  }
  // The drop file goes for good before its journal: a crash in between
  // leaves a journal without a message, which nothing reads.
  DeleteFile(drop_file);
  SyncFolder(drop_folder);
  DeleteFile(journal);
  return true;
}

}  // namespace heron
