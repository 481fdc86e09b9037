// The service's own folders under MailFolder and the file names of the
// message queue: which folders exist, how queue files are named and
// renamed, how a file moves between folders, and when a file may be read.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace heron {

// Folders of the service under the mail root.
inline constexpr const char* kDropFolder = "drop";
inline constexpr const char* kQueueFolder = "queue";
inline constexpr const char* kXQueueFolder = "xqueue";
inline constexpr const char* kYQueueFolder = "yqueue";
inline constexpr const char* kZQueueFolder = "zqueue";
inline constexpr const char* kBadmailFolder = "badmail";
// Where files are written before they are renamed into place.
inline constexpr const char* kTempFolder = ".tmp";

// True for the name of one of the folders above, whatever its letter case:
// such a name is never a mailbox.
bool IsServiceFolder(std::string_view name);

// MailFolder without trailing separators.
std::string MailRoot(const std::string& mail_folder);
// Full path of one of the service's folders (or of any child) of the root.
std::string FolderPath(const std::string& mail_root, std::string_view folder);

// Queue file names. A message is named by its 32-digit id; the main relay
// thread marks a message it works on with "r_"; a retry file carries one
// recipient and the number of failed retries so far.
inline constexpr size_t kMessageIdDigits = 32;
inline constexpr const char* kMessageExtension = ".eml";
inline constexpr const char* kWorkPrefix = "r_";

// id + ".eml".
std::string MessageFileName(std::string_view id);
// A name with the message file extension (and something before it).
bool HasMessageExtension(std::string_view name);
// "r_" + name.
std::string WorkFileName(std::string_view name);
// id + "[" + recipient + "]#" + n + ".eml"; the recipient without "<" and
// ">", in lower case.
std::string RetryFileName(std::string_view id, std::string_view recipient, int retries);
// A remote recipient that can be part of a retry file name: no "/", NUL or
// control characters, short enough for the name. Others are refused when
// they are given.
bool IsRetryNameRecipient(std::string_view address);
// The name with the characters "r" and "_" trimmed from its start: for the
// names above exactly the work prefix.
std::string TrimWorkPrefix(std::string_view name);
// The name with the characters ".", "e", "m" and "l" trimmed from its end:
// for the names above exactly the extension.
std::string TrimExtension(std::string_view name);
// The decimal number after the last "#" of the name without its extension;
// 0 without "#".
int RetryCount(std::string_view name);
// The same retry file name with another retry count.
std::string WithRetryCount(std::string_view name, int retries);

// The journal beside a file of what is done with it: for a drop file one
// line per folder (relative to the mail root) that has its copy, for a
// message in a relay folder one line per recipient settled.
std::string CopyJournalName(std::string_view drop_name);
// The drop file name of a journal name; other names come back unchanged.
std::string TrimJournalSuffix(std::string_view name);

// How a move between folders ended.
enum class MoveResult { kMoved, kCopyFailed, kDeleteFailed };
// A move is a durable copy (through `tmp_dir`) followed by a delete of the
// source; the copy gets a new age. A failed delete leaves both files.
MoveResult MoveFile(const std::string& from, const std::string& to, const std::string& tmp_dir);

// A move between the folders of the mail root: the file gets a new age and
// is then renamed in one step, so that a crash leaves it in one folder only;
// across file systems it is a durable copy and a delete.
MoveResult RenewAndMove(const std::string& from, const std::string& to, const std::string& tmp_dir);

// Waits until the file can be opened for reading. An open refused for lack
// of access is retried after `pause` up to `tries` times; any other failure,
// or no success in time, is false: the file is skipped for this pass.
bool WaitUntilReadable(const std::string& path, const std::function<void()>& pause, int tries = 30);

}  // namespace heron
