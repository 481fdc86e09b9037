// Mailbox folders under the mail root: which names may be mailboxes, and
// finding, making and listing their folders (found without regard to case,
// made with the account's own spelling).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace heron {

// A name that can be a mailbox folder: a safe path part that is not one of
// the service's own folders, whatever its letter case.
bool IsMailboxName(const std::string& name);

// Full path of the existing folder of a mailbox; nothing for names that
// cannot be mailboxes or a missing folder.
std::optional<std::string> FindMailbox(const std::string& mail_root, const std::string& name);
// The folder of a mailbox, created with the given spelling when no folder
// matches; nothing for names that cannot be mailboxes or when it cannot be
// made.
std::optional<std::string> EnsureMailbox(const std::string& mail_root, const std::string& name);

// Deletes the message files ("*.eml") of a mailbox and then its folder;
// sub-folders and other files stay (and keep the folder). 0, or the errno of
// the folder's removal; 0 also when the mailbox has no folder. Nothing is
// deleted (EINVAL, ENOTDIR) unless the mail root is absolute and not "/" and
// the mailbox is a folder of its own, not a link.
int DeleteMailbox(const std::string& mail_root, const std::string& name);

// One message file of a mailbox.
struct MailboxFile {
  std::string path;
  uint64_t size = 0;
};
// The files of a mailbox folder (sub-folders left out), in the order the
// file system gives them; empty when the mailbox has no folder.
std::vector<MailboxFile> ListMailboxFiles(const std::string& mail_root, const std::string& name);

}  // namespace heron
