// The server side of one SMTP conversation, without sockets: bytes in,
// replies out, side effects through a host.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/accounts.h"
#include "service/line_splitter.h"
#include "service/settings.h"
#include "service/tls_policy.h"
#include "smtp/message_data.h"
#include "smtp/screening.h"

namespace heron {

class LoginGuard;

// Takes the pieces of a message file, in order.
using MessageWriter = std::function<void(std::string_view)>;

// What a session needs from the thread that carries it: the log, the
// accounts, the mailbox folders, the trace log's tail, new message ids, the
// time, and the drop folder.
class SmtpSessionHost {
 public:
  virtual ~SmtpSessionHost() = default;
  // One log line; the host adds the "<SMTP> " prefix.
  virtual void Log(const std::string& text) = 0;
  // A command line was processed: refresh the time of last activity.
  virtual void Touch() = 0;
  virtual AccountStore& accounts() = 0;
  // The failed-login record, when the service keeps one.
  virtual LoginGuard* logins() { return nullptr; }
  // Whether the mailbox has a folder (found without regard to case).
  virtual bool HasMailbox(const std::string& name) = 0;
  // Makes the folder of an account, with the account's own spelling.
  virtual void EnsureMailbox(const std::string& name) = 0;
  // The last min(size, `limit`) - 1 bytes of the trace log; false when it
  // cannot be read.
  virtual bool ReadLogTail(size_t limit, std::string& out) = 0;
  // A new 32-digit message id.
  virtual std::string NewMessageId() = 0;
  virtual std::time_t Now() = 0;
  // The screening at MAIL: whether a blocklist query name resolves to any
  // address (a failure or time-out counts as not), the reverse lookup of a
  // client address, and the shared passed and rejected address caches.
  virtual bool Listed(const std::string& query) = 0;
  virtual ReverseName Reverse(const std::string& address) = 0;
  virtual bool InCache(bool rejected, const std::string& address) = 0;
  virtual void AddToCache(bool rejected, const std::string& address) = 0;
  // Stores the message file `<name>.eml`, whose bytes `produce` hands to the
  // writer piece by piece, durably in the drop folder and hands it to
  // distribution. False when it could not be stored.
  virtual bool StoreMessage(const std::string& name,
                            const std::function<void(const MessageWriter&)>& produce) = 0;
};

// The QUSR listing of the accounts: "250-" lines ending in "250 OK" without
// CR LF.
std::string AccountListReply(const std::vector<CUserAccount>& accounts);

class CSmtpSocket {
 public:
  enum State {
    kConnected = 0,
    kReady = 1,
    kData = 2,
    kAuthUser = 3,
    kAuthPassword = 4,
    kAuthPlain = 5,
    kCpwdUser = 6,
    kCpwdOld = 7,
    kCpwdNew = 8,
    kAdmnAddUser = 9,
    kAdmnAddPassword = 10,
    kAdmnDeleteUser = 11,
    kAdmnChangeUser = 12,
    kAdmnChangePassword = 13,
    kAdmnPassword = 14,
    kAdmnTask = 15,
    kAdmnAdminPassword = 16,
    kAdmnLogRecipient = 17,
  };
  static constexpr const char* kUserPrompt = "334 VXNlcm5hbWU6";
  static constexpr const char* kPasswordPrompt = "334 UGFzc3dvcmQ6";
  // Read size of the trace log mailed by VLOG.
  static constexpr size_t kLogMailBytes = 524288;
  // Largest read handed to Receive.
  static constexpr size_t kReadSize = 4096;

  CSmtpSocket(OspreySettings snapshot, std::string client_ip, SmtpSessionHost& host,
              TlsPolicy tls = {});

  // Connection start: the connection limit, then the connect-time address
  // filter, then the greeting.
  // `same_address`: the other sessions from this client's address.
  void Start(int session_count, int same_address = 0);
  // Bytes read from the client (at most kReadSize at a time).
  void Receive(std::string_view bytes);
  // Replies produced so far, taken out.
  std::string TakeOutput();
  // True once the session must end: send what is pending, then close.
  bool ended() const { return ended_; }
  // True once, after STARTTLS was accepted: send what is pending, then
  // hand the connection to TLS and call TlsStarted.
  bool TakeTlsRequest() { return std::exchange(tls_requested_, false); }
  // The handshake succeeded: the session starts over, as if just greeted.
  void TlsStarted();
  bool tls_active() const { return tls_.active; }

  int state() const { return state_; }
  bool authenticated() const { return authenticated_; }
  bool safe_client() const { return safe_client_; }
  bool spam_mark() const { return spam_mark_; }
  void set_spam_mark() { spam_mark_ = true; }
  const std::string& sender() const { return sender_; }
  const std::vector<std::string>& recipients() const { return recipients_; }
  const std::string& client_ip() const { return client_ip_; }
  const OspreySettings& settings() const { return cfg_; }

 private:
  void Reply(const std::string& text, bool log = true);
  void End() { ended_ = true; }
  // Adds received command bytes; false, ending the session, on overflow.
  bool AppendLines(std::string_view bytes);
  void ProcessLines();
  void Dispatch(const std::string& line);
  void Auth(const std::string& arg);
  void StartTls(const std::string& arg);
  // Refuses a password dialogue that must wait for TLS (reply sent).
  bool LoginNeedsTls();
  void Login(const std::string& user, const std::string& password);
  // Every password check of the session: refused unchecked while the
  // client's address is blocked; a failure is recorded.
  bool PasswordOk(const std::string& user, const std::string& password,
                  int32_t* no_external_mail = nullptr);
  // The CPWD and ADMN dialogues: one answer line in states 6 to 17.
  void AdminStep(const std::string& answer);
  void AdminTask(const std::string& task);
  void MailTraceLog(const std::string& address);
  void PlainLogin(const std::string& blob);
  void Mail(const std::string& arg);
  // The screening of client and sender; false when refused (reply sent).
  bool Screen();
  void Rcpt(const std::string& arg);
  // Message data; returns what follows the end marker once it came.
  std::string_view ReceiveData(std::string_view chunk);
  void FinishMessage();
  void ResetEnvelope();

  OspreySettings cfg_;
  std::string client_ip_;
  SmtpSessionHost& host_;
  TlsPolicy tls_;
  bool tls_requested_ = false;

  int state_ = kConnected;
  bool authenticated_ = false;
  int32_t no_external_mail_ = 0;
  bool spam_mark_ = false;
  bool safe_client_ = false;
  bool ended_ = false;
  std::string auth_user_;
  std::string admin_user_;  // account named in a CPWD or ADMN dialogue
  std::string sender_;
  std::string helo_;
  std::vector<std::string> recipients_;
  MessageData data_;
  LineSplitter lines_;
  std::string out_;
};

}  // namespace heron
