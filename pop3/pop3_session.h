// The server side of one POP3 conversation, without sockets: bytes in,
// replies out; accounts and the mailbox's files through a host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/line_splitter.h"
#include "service/mailbox_folder.h"
#include "service/tls_policy.h"

namespace heron {

class LoginGuard;

class Pop3SessionHost {
 public:
  virtual ~Pop3SessionHost() = default;
  // One log line; the host adds the "<POP3> " prefix.
  virtual void Log(const std::string& text) = 0;
  // A command line was processed: refresh the time of the last command.
  virtual void Touch() = 0;
  virtual bool CheckPassword(const std::string& user, const std::string& password) = 0;
  // The failed-login record, when the service keeps one.
  virtual LoginGuard* logins() { return nullptr; }
  // The message files of a mailbox; empty when it has no folder.
  virtual std::vector<MailboxFile> ListMailbox(const std::string& user) = 0;
  virtual bool ReadMessage(const std::string& path, std::string& content) = 0;
  virtual bool DeleteMessage(const std::string& path) = 0;
  // The bytes of the file's "x-receiver:" envelope lines, which POP3 never
  // shows (see ReceiverLineBytes).
  virtual size_t ReceiverBytes(const std::string& path) = 0;
};

struct CMailMessage {
  std::string path;
  int32_t size = 0;
  bool deleted = false;
};

class CPop3Socket {
 public:
  enum State { kTransaction = 0, kAuthorization = 1 };
  static constexpr size_t kReadSize = 4096;

  struct Config {
    std::vector<std::string> ip_filter;  // copy taken at accept time
    int32_t connections_limit = 500;
    int32_t max_connections_per_ip = 0;  // 0: no cap
    bool robot_protected = false;        // failed logins slow an address down
    TlsPolicy tls;
  };

  CPop3Socket(Config config, std::string client_ip, Pop3SessionHost& host);

  // Session start: connection limit, address filter, greeting.
  // `same_address`: the other sessions from this client's address.
  void Start(int session_count, int same_address = 0);
  void Receive(std::string_view bytes);
  std::string TakeOutput();
  bool ended() const { return ended_; }
  // True once, after STLS was accepted: send what is pending, then hand the
  // connection to TLS and call TlsStarted.
  bool TakeTlsRequest() { return std::exchange(tls_requested_, false); }
  // The handshake succeeded: the client starts its login again.
  void TlsStarted();

  int state() const { return state_; }
  const std::vector<CMailMessage>& mailbox() const { return mailbox_; }

 private:
  // How a reply is logged: whole, or a message's first 100 characters.
  enum class LogAs { kWhole, kOpening };
  // PASS for the user given: refused unchecked while the address is
  // blocked; a failure is recorded.
  bool PasswordOk(const std::string& password);
  void Reply(std::string text, LogAs log = LogAs::kWhole);
  void Process(const std::string& line);
  void Stls();
  void Transaction(const std::string& cmd, const std::string& arg);
  void ScanMailbox();
  // The message numbered by `arg`, or an error reply already sent.
  CMailMessage* Message(const std::string& arg, int& n);
  // Reads an unmarked message, or sends the error reply and returns false.
  bool ReadMessage(const std::string& arg, int& n, std::string& content);
  void Retr(const std::string& arg);
  void Top(const std::string& arg);
  void Quit();

  Config cfg_;
  std::string client_ip_;
  Pop3SessionHost& host_;
  // The highest message number retrieved in the session (0: none), as RFC
  // 1939's LAST means it.
  int highest_retrieved_ = 0;
  std::vector<CMailMessage> mailbox_;
  std::string user_;
  bool have_user_ = false;
  int state_ = kAuthorization;
  LineSplitter lines_;
  std::string out_;
  bool ended_ = false;
  bool tls_requested_ = false;
};

}  // namespace heron
