#include "smtp/smtp_thread.h"

#include "platform/files.h"
#include "platform/guid.h"
#include "platform/paths.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"

namespace heron {
namespace {

const ClientTexts kSmtpTexts = {"SMTP", "Connection timed out",
                                "Could not send reply, disconnected.", "OnReceive error: %d"};

}  // namespace

CSmtpThread::CSmtpThread(ServiceHost& service, const OspreySettings& snapshot,
                         const std::string& peer)
    : CClientThread(service, kSmtpTexts, peer),
      mail_root_(MailRoot(snapshot.mail_folder)),
      session_(snapshot, peer, *this) {}

bool CSmtpThread::HasMailbox(const std::string& name) {
  return FindMailbox(mail_root_, name).has_value();
}

void CSmtpThread::EnsureMailbox(const std::string& name) { heron::EnsureMailbox(mail_root_, name); }

bool CSmtpThread::ReadLogTail(size_t limit, std::string& out) {
  return ReadFileTail(LogFilePathFor(session_.settings().log, HeronHome()), limit, out);
}

std::string CSmtpThread::NewMessageId() { return NewGuidHex(); }

std::time_t CSmtpThread::Now() { return std::time(nullptr); }

bool CSmtpThread::StoreMessage(const std::string& name,
                               const std::function<void(const MessageWriter&)>& produce) {
  std::string drop = FolderPath(mail_root_, kDropFolder);
  std::string path = FolderPath(drop, MessageFileName(name));
  // Durable before the client hears "250": written whole, synced, renamed.
  if (!CreateFolderPath(drop) ||
      !WriteFileAtomic(FolderPath(mail_root_, kTempFolder), path, produce)) {
    LogText("Cannot store message " + MessageFileName(name) + " in " + drop, 1);
    return false;
  }
  service().PostMessageReceived(path);
  return true;
}

}  // namespace heron
