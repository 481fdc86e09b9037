#include "service/mailbox_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/text.h"
#include "service/mail_folders.h"

namespace heron {

bool IsMailboxName(const std::string& name) {
  return IsSafePathName(name) && !IsServiceFolder(name);
}

std::optional<std::string> FindMailbox(const std::string& mail_root, const std::string& name) {
  if (!IsMailboxName(name)) return std::nullopt;
  auto found = FindChildNoCase(mail_root, name);
  if (!found) return std::nullopt;
  std::string path = FolderPath(mail_root, *found);
  auto st = StatFile(path);
  if (!st || !st->is_dir) return std::nullopt;
  return path;
}

std::optional<std::string> EnsureMailbox(const std::string& mail_root, const std::string& name) {
  if (auto found = FindMailbox(mail_root, name)) return found;
  if (!IsMailboxName(name)) return std::nullopt;
  std::string path = FolderPath(mail_root, name);
  if (!CreateFolderPath(path)) return std::nullopt;
  return path;
}

std::vector<MailboxFile> ListMailboxFiles(const std::string& mail_root, const std::string& name) {
  std::vector<MailboxFile> out;
  auto folder = FindMailbox(mail_root, name);
  if (!folder) return out;
  for (const FileEntry& e : ListFolder(*folder)) {
    if (!e.is_dir) out.push_back({*folder + "/" + e.name, e.size});
  }
  return out;
}

int DeleteMailbox(const std::string& mail_root, const std::string& name) {
  // Only a real folder inside an absolute mail folder other than "/" is
  // emptied: an empty or relative MailFolder, or a mailbox that is a link,
  // never sends the deletion elsewhere.
  if (mail_root.size() < 2 || mail_root[0] != '/') return EINVAL;
  auto folder = FindMailbox(mail_root, name);
  if (!folder) return 0;
  struct stat own {};
  if (lstat(folder->c_str(), &own) != 0 || !S_ISDIR(own.st_mode)) return ENOTDIR;
  for (const MailboxFile& f : ListMailboxFiles(mail_root, name)) {
    if (f.path.size() > 4 && EqualsNoCase(f.path.substr(f.path.size() - 4), ".eml")) {
      DeleteFile(f.path);  // one that will not go keeps the folder
    }
  }
  return rmdir(folder->c_str()) == 0 ? 0 : errno;
}

}  // namespace heron
