#include "pop3/pop3_thread.h"

#include "platform/files.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/mail_folders.h"
#include "service/message_file.h"

namespace heron {

CPop3Thread::CPop3Thread(ServiceHost& service, CPop3Socket::Config config,
                         const std::string& mail_folder, const std::string& peer)
    : CClientThread(service,
                    {"POP3", B5("連線逾時"), B5("無法傳遞回應，連線已中斷！"),
                     B5("Pop3 通訊端接收錯誤： %d"), B5("TLS 交握失敗：%s")},
                    peer),
      mail_root_(MailRoot(mail_folder)),
      session_(std::move(config), peer, *this) {}

bool CPop3Thread::CheckPassword(const std::string& user, const std::string& password) {
  return service().Accounts().CheckPassword(user, password);
}

std::vector<MailboxFile> CPop3Thread::ListMailbox(const std::string& user) {
  return ListMailboxFiles(mail_root_, user);
}

bool CPop3Thread::ReadMessage(const std::string& path, std::string& content) {
  return ReadFile(path, content);
}

bool CPop3Thread::DeleteMessage(const std::string& path) { return DeleteFile(path); }

size_t CPop3Thread::ReceiverBytes(const std::string& path) {
  // The head usually holds the whole envelope; a long recipient list needs
  // the file.
  std::string head;
  bool complete = false;
  if (ReadFileHead(path, 64 * 1024, head)) {
    size_t bytes = ReceiverLineBytes(head, &complete);
    if (complete || head.size() < 64 * 1024) return bytes;
  }
  std::string whole;
  return ReadFile(path, whole) ? ReceiverLineBytes(whole) : 0;
}

}  // namespace heron
