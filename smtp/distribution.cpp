#include "smtp/distribution.h"

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
  if (!kept_.empty()) DistributeBatch(std::vector<std::string>(kept_));
}

bool CDistribution::Distribute(const std::string& drop_file) {
  return DistributeBatch({drop_file}) == 1;
}

// What one drop file's distribution has done so far.
struct CDistribution::Pending {
  std::string drop_file, drop_folder, journal;
  std::set<std::string> done;           // folders (relative) with their copy
  std::vector<std::string> new_copies;  // made in this pass, folder syncs pending
  bool all_copied = true;
  bool readable = true;
};

size_t CDistribution::DistributeBatch(const std::vector<std::string>& drops) {
  std::shared_ptr<const OspreySettings> snapshot = settings_();
  std::vector<Pending> batch;
  std::set<std::string> folders_to_sync;
  for (const std::string& drop : drops) {
    batch.push_back(CopyAll(*snapshot, drop));
    for (const std::string& key : batch.back().new_copies) {
      folders_to_sync.insert(FolderPath(MailRoot(snapshot->mail_folder), key));
    }
  }
  // One folder sync for every copy made into it: then the copies are durable.
  std::set<std::string> unsynced;
  for (const std::string& folder : folders_to_sync) {
    if (!SyncFolder(folder)) unsynced.insert(folder);
  }
  size_t delivered = 0;
  std::set<std::string> drop_folders;
  for (Pending& p : batch) {
    if (!p.readable) {
      // Kept for the next tick when it is still there (a passing failure).
      kept_.erase(std::remove(kept_.begin(), kept_.end(), p.drop_file), kept_.end());
      if (FileExists(p.drop_file)) kept_.push_back(p.drop_file);
      continue;
    }
    std::string root = MailRoot(snapshot->mail_folder);
    for (const std::string& key : p.new_copies) {
      if (unsynced.count(FolderPath(root, key))) {
        p.done.erase(key);
        p.all_copied = false;
      }
    }
    kept_.erase(std::remove(kept_.begin(), kept_.end(), p.drop_file), kept_.end());
    drop_folders.insert(p.drop_folder);
    if (p.all_copied && DeleteFile(p.drop_file)) {
      ++delivered;
    } else {
      p.all_copied = false;  // the drop file stays: its journal must too
      // Kept for a later attempt; which copies are done survives a crash.
      std::string text;
      for (const std::string& key : p.done) text += key + "\n";
      if (text.empty()) {
        DeleteFile(p.journal);
      } else {
        WriteFileAtomic(FolderPath(root, kTempFolder), p.journal, text);
      }
      kept_.push_back(p.drop_file);
    }
  }
  // The drop files go for good before their journals: a crash in between
  // leaves journals without a message, which nothing reads.
  for (const std::string& folder : drop_folders) SyncFolder(folder);
  for (const Pending& p : batch) {
    if (p.readable && p.all_copied) DeleteFile(p.journal);
  }
  return delivered;
}

bool CDistribution::CopyInto(const std::string& root, const std::string& from,
                             const std::string& folder, const std::string& file_name) {
  std::string tmp = FolderPath(root, kTempFolder);
  if (!CreateFolderPath(tmp, 0700) || !CreateFolderPath(folder)) return false;
  return CopyFileDurable(from, FolderPath(folder, file_name), tmp, false);
}

CDistribution::Pending CDistribution::CopyAll(const OspreySettings& settings,
                                              const std::string& drop_file) {
  Pending p;
  p.drop_file = drop_file;
  std::string file_name = drop_file.substr(drop_file.rfind('/') + 1);
  p.drop_folder = drop_file.substr(0, drop_file.rfind('/'));
  p.journal = FolderPath(p.drop_folder, CopyJournalName(file_name));
  log_(2, B5("<SMTP> 訊息接收中: ") + file_name);
  std::string content;
  if (!ReadFile(drop_file, content)) {
    log_(1, B5("<SMTP> 無法讀取訊息： ") + drop_file);
    p.readable = false;
    return p;
  }
  std::string root = MailRoot(settings.mail_folder);
  p.done = ReadJournal(p.journal);

  // One copy into a folder. A folder that already has its copy (from an
  // earlier attempt) is never given a second one: its owner may have
  // fetched and deleted it since.
  auto copy = [&](const std::string& folder, const std::string& big5_label) {
    std::string key = folder.substr(std::min(folder.size(), root.size() + 1));
    if (p.done.count(key)) return Copy::kDone;
    log_(2, big5_label + folder + "/");
    if (!CopyInto(root, drop_file, folder, file_name)) {
      log_(1, B5("<SMTP> 複製失敗： ") + folder + "/");
      p.all_copied = false;
      return Copy::kFailed;
    }
    p.done.insert(key);
    p.new_copies.push_back(key);
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
      p.all_copied = false;
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
        p.all_copied = false;
        continue;
      }
      if (copy(*folder, B5("<SMTP> 複製訊息到： ")) == Copy::kMade) log_(2, B5("<SMTP> 複製完成"));
      apply_copy_rules(name);
    } else if (settings.CatchAllOn()) {
      copy_to_account(settings.catch_all_account, B5("<SMTP> 收件人帳號不存在，複製訊息到： "));
    }
  }
  return p;
}

}  // namespace heron
