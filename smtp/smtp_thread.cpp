#include "smtp/smtp_thread.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include "platform/files.h"
#include "platform/guid.h"
#include "platform/paths.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"

namespace heron {
namespace {

const ClientTexts kSmtpTexts = {"SMTP", "Connection timed out",
                                "Could not send reply, disconnected.", "OnReceive error: %d",
                                "TLS handshake failed: %s"};

}  // namespace

CSmtpThread::CSmtpThread(ServiceHost& service, const OspreySettings& snapshot,
                         const std::string& peer, AddressCache& passed, AddressCache& rejected,
                         TlsPolicy tls)
    : CClientThread(service, kSmtpTexts, peer),
      mail_root_(MailRoot(snapshot.mail_folder)),
      passed_(passed),
      rejected_(rejected),
      session_(snapshot, peer, *this, tls) {}

// Both lookups go through the platform resolver and block this session only.
bool CSmtpThread::Listed(const std::string& query) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(query.c_str(), nullptr, &hints, &result) != 0) return false;
  // A listing is an answer in 127.0.0.2 to 127.0.0.255; the zone's error
  // answers (127.255.255.x: a refused or rate-limited resolver) and anything
  // else are no listing.
  bool listed = false;
  for (addrinfo* a = result; a; a = a->ai_next) {
    uint32_t ip = ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    if ((ip >> 8) == 0x7F0000 && (ip & 0xFF) >= 2) listed = true;
  }
  freeaddrinfo(result);
  return listed;
}

ReverseName CSmtpThread::Reverse(const std::string& address) {
  ReverseName r;
  sockaddr_storage ss{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    len = sizeof *v6;
  } else {
    return r;
  }
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    return r;  // no record, or the lookup failed
  }
  r.found = true;
  r.name = host;
  return r;
}

bool CSmtpThread::InCache(bool rejected, const std::string& address) {
  return (rejected ? rejected_ : passed_).Contains(address);
}

void CSmtpThread::AddToCache(bool rejected, const std::string& address) {
  (rejected ? rejected_ : passed_).Add(address, session_.settings().ip_cache_size);
}

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
