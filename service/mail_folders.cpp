#include "service/mail_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/text.h"
#include "service/address.h"

namespace heron {

bool IsServiceFolder(std::string_view name) {
  for (const char* own : {kDropFolder, kQueueFolder, kXQueueFolder, kYQueueFolder, kZQueueFolder,
                          kBadmailFolder, kTempFolder}) {
    if (EqualsNoCase(name, own)) return true;
  }
  return false;
}

std::string MailRoot(const std::string& mail_folder) { return TrimTrailingSlashes(mail_folder); }

std::string FolderPath(const std::string& mail_root, std::string_view folder) {
  return mail_root + "/" + std::string(folder);
}

std::string MessageFileName(std::string_view id) { return std::string(id) + kMessageExtension; }

bool HasMessageExtension(std::string_view name) {
  std::string_view ext = kMessageExtension;
  return name.size() > ext.size() && name.ends_with(ext);
}

std::string WorkFileName(std::string_view name) { return kWorkPrefix + std::string(name); }

std::string RetryFileName(std::string_view id, std::string_view recipient, int retries) {
  std::string plain = ToLowerAscii(AddressInBrackets(recipient));
  return std::string(id) + "[" + plain + "]#" + std::to_string(retries) + kMessageExtension;
}

bool IsRetryNameRecipient(std::string_view address) {
  // The id, brackets, count and extension take some 50 of a name's 255 bytes.
  constexpr size_t kLongest = 200;
  std::string_view plain = AddressInBrackets(address);
  if (plain.size() > kLongest) return false;
  for (unsigned char c : plain) {
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string TrimWorkPrefix(std::string_view name) {
  size_t start = name.find_first_not_of("r_");
  return start == std::string_view::npos ? std::string() : std::string(name.substr(start));
}

std::string TrimExtension(std::string_view name) {
  size_t end = name.find_last_not_of(".eml");
  return end == std::string_view::npos ? std::string() : std::string(name.substr(0, end + 1));
}

int RetryCount(std::string_view name) {
  std::string base = TrimExtension(name);
  size_t hash = base.rfind('#');
  return hash == std::string::npos ? 0 : ReadDecimal(std::string_view(base).substr(hash + 1));
}

std::string WithRetryCount(std::string_view name, int retries) {
  std::string base = TrimExtension(name);
  size_t hash = base.rfind('#');
  if (hash != std::string::npos) base.erase(hash);
  return base + "#" + std::to_string(retries) + kMessageExtension;
}

constexpr std::string_view kJournalSuffix = ".done";

std::string CopyJournalName(std::string_view drop_name) {
  return std::string(drop_name) + std::string(kJournalSuffix);
}

std::string TrimJournalSuffix(std::string_view name) {
  if (name.ends_with(kJournalSuffix)) name.remove_suffix(kJournalSuffix.size());
  return std::string(name);
}

MoveResult MoveFile(const std::string& from, const std::string& to, const std::string& tmp_dir) {
  if (!CopyFileDurable(from, to, tmp_dir)) return MoveResult::kCopyFailed;
  return DeleteFile(from) ? MoveResult::kMoved : MoveResult::kDeleteFailed;
}

MoveResult RenewAndMove(const std::string& from, const std::string& to,
                        const std::string& tmp_dir) {
  // The age first: a crash before the rename leaves a younger file, never
  // an older one in its new folder.
  if (utimensat(AT_FDCWD, from.c_str(), nullptr, 0) != 0) return MoveResult::kCopyFailed;
  if (rename(from.c_str(), to.c_str()) != 0) {
    return errno == EXDEV ? MoveFile(from, to, tmp_dir) : MoveResult::kCopyFailed;
  }
  auto folder = [](const std::string& p) { return p.substr(0, p.rfind('/')); };
  SyncFolder(folder(to));
  if (folder(to) != folder(from)) SyncFolder(folder(from));
  return MoveResult::kMoved;
}

bool WaitUntilReadable(const std::string& path, const std::function<void()>& pause, int tries) {
  for (int attempt = 0;; ++attempt) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    if ((errno != EACCES && errno != EBUSY) || attempt >= tries) return false;
    pause();
  }
}

}  // namespace heron
