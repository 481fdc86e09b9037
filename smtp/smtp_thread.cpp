#include "smtp/smtp_thread.h"

#include "platform/files.h"
#include "service/mailbox.h"
#include "service/messages.h"
#include "service/osprey.h"

namespace heron {
namespace {

const ClientTexts kSmtpTexts = {"SMTP", "Connection timed out",
                                "Could not send reply, disconnected.", "OnReceive error: %d"};

}  // namespace

CSmtpThread::CSmtpThread(COsprey& service, const OspreySettings& snapshot, const std::string& peer)
    : CClientThread(service, kSmtpTexts, peer), session_(snapshot, peer, *this) {}

AccountStore& CSmtpThread::accounts() { return service().accounts(); }

void CSmtpThread::OnStart() { session_.Start(service().session_count()); }

bool CSmtpThread::StoreMessage(const std::string& name, const std::string& content) {
  std::string root = MailRoot(session_.settings().mail_folder);
  std::string drop = root + "/drop";
  std::string path = drop + "/" + name + ".eml";
  // Durable before the client hears "250": written whole, synced, renamed.
  if (!CreateFolderPath(drop) || !WriteFileAtomic(root + "/.tmp", path, content)) {
    LogText("Cannot store message " + name + ".eml in " + drop, WM_LOG_ERROR);
    return false;
  }
  service().window().Post(WM_MESSAGE_RECEIVED, path);
  return true;
}

}  // namespace heron
