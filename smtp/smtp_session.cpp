#include "smtp/smtp_session.h"

#include "platform/text.h"
#include "service/address.h"
#include "service/base64.h"
#include "service/ip_filter.h"
#include "service/login_guard.h"
#include "service/mail_folders.h"
#include "service/mail_rules.h"
#include "service/mailbox_folder.h"
#include "service/message_file.h"
#include "service/service_host.h"
#include "smtp/message_edits.h"

namespace heron {
namespace {

constexpr const char* kNotAuthenticated = "551 Client was not authenticated";

}  // namespace

CSmtpSocket::CSmtpSocket(OspreySettings snapshot, std::string client_ip, SmtpSessionHost& host,
                         TlsPolicy tls)
    : cfg_(std::move(snapshot)), client_ip_(std::move(client_ip)), host_(host), tls_(tls) {}

void CSmtpSocket::Start(int session_count, int same_address) {
  if (ServiceHost::SessionCount{session_count, same_address}.Exceeds(cfg_.connections_limit,
                                                                     cfg_.max_connections_per_ip)) {
    host_.Log("Connection denied: Too many users!");
    Reply("421 Service not available. Too many users!");
    End();
    return;
  }
  if (MatchIpList(client_ip_, cfg_.safe_ip)) {
    safe_client_ = true;
  } else if (MatchIpList(client_ip_, cfg_.ip_filter)) {
    host_.Log("Connection denied: IP address was rejected by the server.");
    Reply("421 Service not available");
    End();
    return;
  }
  Reply("220 " + cfg_.host_name + " " + cfg_.server_id + " ESMTP " +
        (cfg_.relay_messages ? "INT" : "LOC"));
}

std::string CSmtpSocket::TakeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

void CSmtpSocket::Reply(const std::string& text, bool log) {
  out_ += text;
  out_ += "\r\n";
  if (log) host_.Log(text);
}

void CSmtpSocket::Receive(std::string_view bytes) {
  if (ended_) return;
  if (state_ == kData) {
    // What follows the end marker are the next commands.
    bytes = ReceiveData(bytes);
    if (ended_ || state_ == kData || bytes.empty()) return;
  }
  if (!AppendLines(bytes)) return;
  ProcessLines();
}

bool CSmtpSocket::AppendLines(std::string_view bytes) {
  if (lines_.Append(bytes)) return true;
  host_.Log("Buffer overflow");
  End();
  return false;
}

void CSmtpSocket::ProcessLines() {
  while (!ended_) {
    if (state_ == kData) {
      // Whatever follows the DATA line is message data already, up to the
      // end marker; what follows that are commands again.
      std::string rest = lines_.TakeRest();
      std::string_view after = ReceiveData(rest);
      if (ended_ || state_ == kData) return;
      if (!AppendLines(after)) return;
      continue;
    }
    auto line = lines_.Next();
    if (!line) return;
    // Empty lines are dropped, except as the answer to an AUTH prompt: an
    // empty answer (an empty password) must not leave the client waiting.
    if (!line->empty() || state_ >= kAuthUser) Dispatch(*line);
  }
}

void CSmtpSocket::Dispatch(const std::string& line) {
  size_t space = line.find(' ');
  std::string cmd = ToUpperAscii(line.substr(0, space));
  std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);

  // Credentials never reach the log: neither the answers to AUTH prompts
  // nor an initial response after the mechanism word.
  size_t mech_end = arg.find_first_of(" \t");
  bool secret = (state_ >= kAuthUser && state_ <= kAuthPlain) || state_ == kCpwdOld ||
                state_ == kCpwdNew || state_ == kAdmnAddPassword || state_ == kAdmnChangePassword ||
                state_ == kAdmnPassword || state_ == kAdmnAdminPassword;
  if (secret) {
    host_.Log("****");
  } else if ((cmd == "AUTH" || cmd == "AUTH=LOGIN") && mech_end != std::string::npos) {
    host_.Log(cmd + " " + arg.substr(0, mech_end) + " ****");
  } else if (std::string word = FirstWordUpper(line);
             cmd != word && (word == "AUTH" || word == "AUTH=LOGIN")) {
    host_.Log(word + " ****");  // written oddly (TAB, leading blanks): all masked
  } else {
    host_.Log(cmd + " " + arg);
  }
  host_.Touch();

  switch (state_) {
    case kAuthUser:
      auth_user_ = Base64Decode(line);
      state_ = kAuthPassword;
      Reply(kPasswordPrompt);
      return;
    case kAuthPassword:
      Login(auth_user_, Base64Decode(line));
      return;
    case kAuthPlain:
      PlainLogin(Base64Decode(line));
      return;
    default:
      if (state_ >= kCpwdUser) {
        AdminStep(Base64Decode(line));
        return;
      }
      break;
  }

  if (state_ == kConnected && cmd != "QUIT" && cmd != "HELO" && cmd != "EHLO" && cmd != "VERS") {
    Reply("503 Bad sequence of commands (given out of order)");
    return;
  }
  // A bare CR or LF, or a NUL, in an argument that is written into the
  // message file would forge lines of its envelope.
  if ((cmd == "HELO" || cmd == "EHLO" || cmd == "MAIL" || cmd == "RCPT") &&
      arg.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    Reply("501 Syntax error in parameters or arguments");
    return;
  }
  if (cmd == "HELO") {
    helo_ = arg;
    authenticated_ = false;
    state_ = kReady;
    Reply("250 OK");
  } else if (cmd == "EHLO") {
    helo_ = arg;
    authenticated_ = false;
    state_ = kReady;
    // AUTH is not offered while it would be refused; STARTTLS is offered
    // while it can be taken.
    std::string reply = "250-Supported extensions:\r\n";
    if (!tls_.LoginRefused(client_ip_)) reply += "250-AUTH PLAIN LOGIN\r\n";
    reply += "250-VRFY\r\n";
    if (tls_.CanStart()) reply += "250-STARTTLS\r\n";
    Reply(reply + "250 OK");
  } else if (cmd == "STARTTLS" && tls_.offered) {
    StartTls(arg);
  } else if (cmd == "AUTH" || cmd == "AUTH=LOGIN") {
    if (!LoginNeedsTls()) Auth(arg);
  } else if (cmd == "MAIL") {
    Mail(arg);
  } else if (cmd == "RCPT") {
    Rcpt(arg);
  } else if (cmd == "DATA") {
    if (sender_.empty()) {
      Reply("503 Need MAIL command");
    } else if (recipients_.empty()) {
      Reply("503 Need RCPT command");
    } else {
      state_ = kData;
      Reply("354 End with <CRLF>.<CRLF>");
    }
  } else if (cmd == "RSET") {
    state_ = kReady;
    ResetEnvelope();
    Reply("250 OK");
  } else if (cmd == "VRFY") {
    Reply("252 Cannot VRFY user");
  } else if (cmd == "HELP") {
    Reply(
        "214-This server supports the following commands:\r\n"
        "214 HELO EHLO RCPT DATA RSET MAIL QUIT VRFY HELP NOOP");
  } else if (cmd == "NOOP") {
    Reply("250 OK");
  } else if (cmd == "QUIT") {
    Reply("221 Bye");
    End();
  } else if (cmd == "VERS") {
    state_ = kReady;
    Reply(StrPrintf("258 %s %s [%s] v:%d", cfg_.host_name.c_str(),
                    cfg_.relay_messages ? "INT" : "LOC", cfg_.dns_server.c_str(), 420018),
          false);
  } else if (cmd == "CPWD" && cfg_.cpwd_remote) {
    if (LoginNeedsTls()) return;
    state_ = kCpwdUser;
    Reply(kUserPrompt);
  } else if (cmd == "ADMN" && cfg_.manage_remote) {
    if (LoginNeedsTls()) return;
    state_ = kAdmnPassword;
    Reply(kPasswordPrompt);
  } else {
    Reply("500 Command not implemented.");
  }
}

void CSmtpSocket::StartTls(const std::string& arg) {
  if (tls_.active) {
    Reply("503 TLS already active");
  } else if (!arg.empty()) {
    Reply("501 Syntax error (no parameters allowed)");
  } else {
    Reply("220 Ready to start TLS");
    tls_requested_ = true;
    // Whatever the client sent after the command was sent in clear, where
    // anyone on the way could have put it: it is dropped, never taken as
    // commands of the encrypted session.
    lines_.TakeRest();
  }
}

void CSmtpSocket::TlsStarted() {
  tls_.active = true;
  tls_requested_ = false;
  // Nothing learnt before the handshake counts after it.
  state_ = kConnected;
  helo_.clear();
  authenticated_ = false;
  no_external_mail_ = 0;
  spam_mark_ = false;
  ResetEnvelope();
}

bool CSmtpSocket::LoginNeedsTls() {
  if (!tls_.LoginRefused(client_ip_)) return false;
  Reply("530 Must issue a STARTTLS command first");
  return true;
}

void CSmtpSocket::Auth(const std::string& arg) {
  std::string up = ToUpperAscii(arg);
  if (up == "PLAIN") {
    state_ = kAuthPlain;
    Reply(kUserPrompt);
  } else if (up.rfind("LOGIN", 0) == 0) {
    std::string initial = Trim(std::string_view(arg).substr(5));
    if (!initial.empty()) {
      auth_user_ = Base64Decode(initial);
      state_ = kAuthPassword;
      Reply(kPasswordPrompt);
    } else {
      state_ = kAuthUser;
      Reply(kUserPrompt);
    }
  } else if (up.rfind("PLAIN ", 0) == 0 && !Trim(std::string_view(arg).substr(6)).empty()) {
    // An initial response carries the whole PLAIN blob at once.
    PlainLogin(Base64Decode(Trim(std::string_view(arg).substr(6))));
  } else {
    state_ = kAuthUser;
    Reply(kUserPrompt);
  }
}

void CSmtpSocket::Login(const std::string& user, const std::string& password) {
  state_ = kReady;
  no_external_mail_ = 0;
  if (PasswordOk(user, password, &no_external_mail_)) {
    authenticated_ = true;
    Reply("235 Authentication successful.");
  } else {
    // A failed login also ends an earlier one: otherwise it would shed the
    // NoExternalMail restriction of the account that was logged in.
    authenticated_ = false;
    Reply("501 Authentication failed.");
  }
}

bool CSmtpSocket::PasswordOk(const std::string& user, const std::string& password,
                             int32_t* no_external_mail) {
  return LoginGuard::Check(
      cfg_.robot_protected ? host_.logins() : nullptr, client_ip_,
      [&] { return host_.accounts().CheckPassword(user, password, no_external_mail); },
      [&](const std::string& text) { host_.Log(text); });
}

void CSmtpSocket::PlainLogin(const std::string& blob) {
  // authorisation identity NUL user NUL password
  size_t first = blob.find('\0');
  std::string user, password;
  if (first != std::string::npos) {
    size_t second = blob.find('\0', first + 1);
    user = blob.substr(first + 1, second == std::string::npos ? second : second - first - 1);
    if (second != std::string::npos) {
      size_t third = blob.find('\0', second + 1);
      password = blob.substr(second + 1, third == std::string::npos ? third : third - second - 1);
    }
  }
  Login(user, password);
}

void CSmtpSocket::ResetEnvelope() {
  sender_.clear();
  recipients_.clear();
  data_.Clear();
}

void CSmtpSocket::Mail(const std::string& arg) {
  recipients_.clear();
  data_.Clear();
  sender_ = StartsWithNoCase(arg, "FROM:") ? Trim(std::string_view(arg).substr(5)) : Trim(arg);
  if (cfg_.auth_local && !authenticated_ && IsLocalDomain(DomainOf(sender_), cfg_.domains)) {
    Reply(kNotAuthenticated);
    sender_.clear();
    recipients_.clear();
    return;
  }
  if (!Screen()) {
    sender_.clear();
    recipients_.clear();
    return;
  }
  Reply("250 OK");
}

bool CSmtpSocket::Screen() {
  const std::string& ip = client_ip_;
  if (!IsPrivateAddress(ip) && !safe_client_) {
    if (authenticated_) return true;
    bool caching = cfg_.ip_cache_size > 0;
    if (caching && host_.InCache(true, ip) && !host_.InCache(false, ip)) {
      Reply("551 Connection denied: IP address was listed on Spam Mail Blacklist.");
      return false;
    }
    if (!caching || !host_.InCache(false, ip)) {
      if (cfg_.check_dnsbl) {
        std::string query =
            BlocklistQuery(ip, cfg_.block_dyn_ip ? kCombinedBlocklistZone : kBlocklistZone);
        if (!query.empty() && host_.Listed(query)) {
          spam_mark_ = true;
          if (!cfg_.filter_mode) {
            Reply(
                StrPrintf("550 We generally do not accept email from IPs if they were "
                          "identified by %s",
                          kBlocklistOperator));
            host_.AddToCache(true, ip);
            return false;
          }
        }
      }
      bool suspect;
      try {
        suspect = ReverseSuspect(host_.Reverse(ip), cfg_.block_mail_from2, cfg_.block_dyn_ip2 != 0);
      } catch (const std::exception&) {
        suspect = cfg_.block_dyn_ip2 != 0;
      }
      if (suspect) {
        spam_mark_ = true;
        if (!cfg_.filter_mode) {
          Reply("550 Sender verify failed, smtp relay was rejected by Heron Mail Server!");
          host_.AddToCache(true, ip);
          return false;
        }
      }
      host_.AddToCache(false, ip);
    }
  }
  if (SenderBlocked(sender_, cfg_.block_mail_from)) {
    spam_mark_ = true;
    if (!cfg_.filter_mode) {
      Reply("550 Sender was blocked by Heron Mail Server!");
      return false;
    }
  }
  return true;
}

void CSmtpSocket::Rcpt(const std::string& arg) {
  if (sender_.empty()) {
    Reply("503 Need MAIL FROM: first");
    return;
  }
  std::string address = StartsWithNoCase(arg, "TO:") ? Trim(std::string_view(arg).substr(3)) : arg;
  bool local = IsLocalDomain(DomainOf(address), cfg_.domains);
  if (local) {
    std::string name = MailboxOf(address);
    // A name that cannot be a folder of its own never gets one.
    if (!IsMailboxName(name)) {
      Reply("550 Recipient unknown.");
      return;
    }
    auto account = host_.accounts().StoredName(name);
    bool folder = host_.HasMailbox(name);
    if (!cfg_.CatchAllOn() && !folder && !account) {
      Reply("550 Recipient unknown.");
      return;
    }
    // The folder of an account is made with the account's own spelling.
    if (account && !folder) host_.EnsureMailbox(*account);
  } else if (!IsRetryNameRecipient(address)) {
    // Its retry file could not be named: refused before it is taken.
    Reply("553 Requested action not taken: mailbox name not allowed");
    return;
  } else if (no_external_mail_) {
    Reply(B5("551 Server deny to relay messages for this account！"));
    return;
  } else if (cfg_.auth_remote && !authenticated_) {
    Reply(kNotAuthenticated);
    return;
  }

  std::string targets = ForwardTargets(address, cfg_.forward_rules);
  if (targets.empty()) {
    recipients_.push_back(address);
    Reply("250 OK");
    return;
  }
  host_.Log("Forwarding email to: " + targets);
  size_t start = 0;
  while (start <= targets.size()) {
    size_t comma = targets.find(',', start);
    std::string target = targets.substr(start, comma == std::string::npos ? comma : comma - start);
    start = comma == std::string::npos ? targets.size() + 1 : comma + 1;
    bool target_local = IsLocalDomain(DomainOf(target), cfg_.domains);
    if (!target_local && cfg_.auth_forward && !authenticated_) continue;
    if (target_local && !IsMailboxName(MailboxOf(target))) continue;
    if (!target_local && !IsRetryNameRecipient(target)) continue;
    recipients_.push_back(target);
  }
  if (recipients_.empty()) {
    Reply("551 Client was not authenticated to forward mail!");
  } else {
    Reply("250 OK");
  }
}

std::string_view CSmtpSocket::ReceiveData(std::string_view chunk) {
  // The data ends at the first CR LF "." CR LF (RFC 5321). The CR LF ending
  // the DATA line also starts one: an empty message is a lone "." line. A
  // marker may begin in the data already held.
  static constexpr std::string_view kEnd = "\r\n.\r\n";
  std::string before = data_.size() >= 4 ? data_.Last(4) : "\r\n" + data_.Last(4);
  before = before.substr(before.size() > 4 ? before.size() - 4 : 0);
  size_t end = std::string_view::npos;
  std::string joined = before + std::string(chunk.substr(0, 4));
  size_t across = joined.find(kEnd);
  if (across != std::string::npos && across < before.size()) {
    end = across + kEnd.size() - before.size();
  } else if (size_t in = chunk.find(kEnd); in != std::string_view::npos) {
    end = in + kEnd.size();
  }
  data_.Append(chunk.substr(0, end));
  if (cfg_.max_message_size > 0 &&
      data_.size() > static_cast<uint64_t>(cfg_.max_message_size) * 1048576) {
    ResetEnvelope();
    Reply(
        StrPrintf("523 Message length exceeds limit. Mail messages are limited to %d MB in "
                  "size, including attachments.",
                  cfg_.max_message_size));
    End();
    return {};
  }
  if (end == std::string_view::npos) return {};
  FinishMessage();
  return chunk.substr(end);
}

void CSmtpSocket::FinishMessage() {
  if (spam_mark_) {
    host_.Log(StrPrintf(B5("標示為垃圾郵件，主旨加註 %s "), cfg_.spam_tag.c_str()));
  }
  state_ = kReady;

  MessageEnvelope env;
  env.sender = sender_;
  env.recipients = recipients_;
  env.helo = helo_;
  env.client_ip = client_ip_;
  env.by_domain = cfg_.domains.empty() ? kPlaceholderDomain : cfg_.domains.front();
  env.server_id = cfg_.server_id;
  env.when = host_.Now();
  std::string name = host_.NewMessageId();
  // The reply promises the message is kept: only after it is stored.
  // The file is written piece by piece: the data is never copied whole.
  auto produce = [&](const MessageWriter& write) {
    write(MessageFileHead(env));
    WriteStoredData(data_, spam_mark_ ? &cfg_.spam_tag : nullptr, write);
  };
  if (host_.StoreMessage(name, produce)) {
    Reply("250 OK: Queued as: " + name);
  } else {
    Reply("451 Requested action aborted: local error in processing");
  }
  ResetEnvelope();
}

}  // namespace heron
