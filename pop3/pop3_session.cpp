#include "pop3/pop3_session.h"

#include <algorithm>
#include <climits>

#include "platform/text.h"
#include "service/ip_filter.h"
#include "service/login_guard.h"
#include "service/message_file.h"
#include "service/service_host.h"

namespace heron {

CPop3Socket::CPop3Socket(Config config, std::string client_ip, Pop3SessionHost& host)
    : cfg_(std::move(config)), client_ip_(std::move(client_ip)), host_(host) {}

void CPop3Socket::Start(int session_count, int same_address) {
  if (ServiceHost::SessionCount{session_count, same_address}.Exceeds(cfg_.connections_limit,
                                                                     cfg_.max_connections_per_ip)) {
    host_.Log(B5("拒絕連線：超過連線數限制！"));
    Reply("-ERR too many users");
    ended_ = true;
    return;
  }
  if (MatchIpList(client_ip_, cfg_.ip_filter)) {
    host_.Log(B5("拒絕連線：IP位址已被伺服器封鎖！"));
    Reply("-ERR forbidden");
    ended_ = true;
    return;
  }
  Reply("+OK Heron Mail Server ready");
}

std::string CPop3Socket::TakeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

void CPop3Socket::Reply(std::string text, LogAs log) {
  host_.Log(log == LogAs::kOpening ? text.substr(0, 100) + "..." : text);
  if (out_.empty()) {
    out_ = std::move(text);
  } else {
    out_ += text;
  }
  out_ += "\r\n";
}

void CPop3Socket::Receive(std::string_view bytes) {
  if (ended_) return;
  if (!lines_.Append(bytes)) {
    host_.Log(B5("緩衝區溢位！"));
    ended_ = true;
    return;
  }
  while (!ended_) {
    auto line = lines_.Next();
    if (!line) break;
    if (!line->empty()) Process(*line);
  }
}

bool CPop3Socket::PasswordOk(const std::string& password) {
  // The name becomes a folder: one that would leave the mail folder never
  // logs in.
  return LoginGuard::Check(
      cfg_.robot_protected ? host_.logins() : nullptr, client_ip_,
      [&] { return IsMailboxName(user_) && host_.CheckPassword(user_, password); },
      [&](const std::string& text) { host_.Log(text); });
}

void CPop3Socket::Process(const std::string& line) {
  size_t blank = line.find(' ');
  std::string cmd = ToUpperAscii(line.substr(0, blank));
  std::string arg = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  // However PASS is written (TAB, leading blanks, any case), its argument
  // never reaches the log.
  host_.Log(cmd == "PASS" || FirstWordUpper(line) == "PASS" ? "PASS ****" : cmd + " " + arg);
  host_.Touch();

  if ((cmd == "USER" || cmd == "PASS") && cfg_.tls.LoginRefused(client_ip_)) {
    // Refused already at USER, so that a client stops before its password.
    Reply("-ERR TLS required");
  } else if (cmd == "USER") {
    user_ = arg;
    have_user_ = true;
    Reply("+OK");
  } else if (cmd == "PASS") {
    if (!have_user_) {
      Reply("-ERR Command not valid in this state");
    } else if (PasswordOk(arg)) {
      state_ = kTransaction;
      ScanMailbox();
      Reply("+OK authentication successful");
    } else {
      Reply("-ERR login failed");
    }
  } else if (cmd == "CAPA") {
    // USER is not offered while it would be refused.
    bool stls = cfg_.tls.CanStart() && state_ == kAuthorization;
    bool user = !cfg_.tls.LoginRefused(client_ip_);
    Reply(std::string("+OK Capability list follows\r\nTOP\r\n") + (user ? "USER\r\n" : "") +
          "UIDL\r\n" + (stls ? "STLS\r\n." : "."));
  } else if (cmd == "STLS" && cfg_.tls.offered) {
    Stls();
  } else if (cmd == "QUIT") {
    Quit();
  } else if (state_ == kAuthorization) {
    Reply("-ERR Command not valid in this state");
  } else {
    Transaction(cmd, arg);
  }
}

void CPop3Socket::Stls() {
  if (cfg_.tls.active) {
    Reply("-ERR TLS already active");
  } else if (state_ != kAuthorization) {
    Reply("-ERR Command not valid in this state");
  } else {
    Reply("+OK Begin TLS negotiation");
    tls_requested_ = true;
    // Bytes sent after the command in clear are never taken as commands
    // of the encrypted session.
    lines_.TakeRest();
  }
}

void CPop3Socket::TlsStarted() {
  cfg_.tls.active = true;
  tls_requested_ = false;
  user_.clear();
  have_user_ = false;
}

void CPop3Socket::ScanMailbox() {
  mailbox_.clear();
  for (const MailboxFile& f : host_.ListMailbox(user_)) {
    // The size a client sees: without the envelope lines naming recipients.
    uint64_t shown = f.size - std::min<uint64_t>(f.size, host_.ReceiverBytes(f.path));
    int32_t size = shown > INT32_MAX ? INT32_MAX : static_cast<int32_t>(shown);
    mailbox_.push_back({f.path, size, false});
  }
}

CMailMessage* CPop3Socket::Message(const std::string& arg, int& n) {
  n = ReadDecimal(arg);
  if (n < 1 || static_cast<size_t>(n) > mailbox_.size()) {
    Reply("-ERR no such message");
    return nullptr;
  }
  return &mailbox_[static_cast<size_t>(n) - 1];
}

namespace {

// Every line that is a lone "." (lines end at CR LF, LF or CR) becomes ".."
// from `from` on, so that only the real end marker ends a reply.
void StuffLoneDots(std::string& text, size_t from) {
  auto is_break = [](char c) { return c == '\r' || c == '\n'; };
  auto lone = [&](size_t i) {
    return text[i] == '.' && (i == from || is_break(text[i - 1])) &&
           (i + 1 == text.size() || is_break(text[i + 1]));
  };
  size_t count = 0;
  for (size_t i = from; i < text.size(); ++i) count += lone(i);
  if (count == 0) return;
  std::string out;
  out.reserve(text.size() + count);
  out.append(text, 0, from);
  for (size_t i = from; i < text.size(); ++i) {
    if (lone(i)) out += '.';
    out += text[i];
  }
  text.swap(out);
}

std::string UniqueId(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

void CPop3Socket::Transaction(const std::string& cmd, const std::string& arg) {
  int n = 0;
  if (cmd == "STAT") {
    int count = 0;
    long long total = 0;
    for (const auto& m : mailbox_) {
      if (!m.deleted) {
        ++count;
        total += m.size;
      }
    }
    Reply(StrPrintf("+OK %d %lld", count, total));
  } else if ((cmd == "LIST" || cmd == "UIDL") && arg.empty()) {
    std::string text = cmd == "LIST" ? "+OK scan listing follows" : "+OK unique-id listing follows";
    for (size_t i = 0; i < mailbox_.size(); ++i) {
      if (mailbox_[i].deleted) continue;
      text += cmd == "LIST" ? StrPrintf("\r\n%zu %d", i + 1, mailbox_[i].size)
                            : StrPrintf("\r\n%zu %s", i + 1, UniqueId(mailbox_[i].path).c_str());
    }
    Reply(text + "\r\n.");
  } else if (cmd == "LIST" || cmd == "UIDL") {
    CMailMessage* m = Message(arg, n);
    if (!m) return;
    if (m->deleted) {
      Reply(StrPrintf("-ERR message %d is marked as del", n));
    } else if (cmd == "LIST") {
      Reply(StrPrintf("+OK %d %d", n, m->size));
    } else {
      Reply(StrPrintf("+OK %d %s", n, UniqueId(m->path).c_str()));
    }
  } else if (cmd == "RETR") {
    Retr(arg);
  } else if (cmd == "TOP") {
    Top(arg);
  } else if (cmd == "DELE") {
    CMailMessage* m = Message(arg, n);
    if (!m) return;
    if (m->deleted) {
      Reply(StrPrintf("-ERR message %d already deleted", n));
    } else {
      m->deleted = true;
      Reply(StrPrintf("+OK message %d marked as deleted", n));
    }
  } else if (cmd == "LAST") {
    Reply(StrPrintf("+OK %d", highest_retrieved_));
  } else if (cmd == "RSET") {
    for (auto& m : mailbox_) m.deleted = false;
    highest_retrieved_ = 0;
    Reply("+OK");
  } else if (cmd == "NOOP") {
    Reply("+OK");
  } else {
    Reply("-ERR Command not implemented.");
  }
}

bool CPop3Socket::ReadMessage(const std::string& arg, int& n, std::string& content) {
  CMailMessage* m = Message(arg, n);
  if (!m) return false;
  if (m->deleted) {
    Reply(StrPrintf("-ERR message %d is marked as del", n));
    return false;
  }
  if (!host_.ReadMessage(m->path, content)) {
    Reply("-ERR no such message");  // vanished or unreadable since the scan
    return false;
  }
  return true;
}

void CPop3Socket::Retr(const std::string& arg) {
  int n = 0;
  std::string content;
  if (!ReadMessage(arg, n, content)) return;
  // Every recipient is named in the envelope: nobody sees the others.
  StripReceiverLines(content);
  size_t file_size = content.size();
  // The reply is made in the file's own buffer: a large message is held once.
  content.resize(TrimMessageEnd(std::string_view(content).substr(0, content.find('\0'))).size());
  StuffLoneDots(content, 0);
  content.insert(0, StrPrintf("+OK %zu octets\r\n", file_size));
  content += "\r\n.";
  Reply(std::move(content), LogAs::kOpening);
  if (n > highest_retrieved_) highest_retrieved_ = n;
}

void CPop3Socket::Top(const std::string& arg) {
  size_t blank = arg.find(' ');
  int n = 0;
  std::string first = blank == std::string::npos ? "0" : arg.substr(0, blank);
  int lines = blank == std::string::npos ? 0 : ReadDecimal(std::string_view(arg).substr(blank + 1));
  std::string content;
  if (!ReadMessage(first, n, content)) return;
  StripReceiverLines(content);
  std::string reply = "+OK\r\n";
  size_t pos = 0;
  enum { kLeading, kHeader, kBody } part = kLeading;
  int body_lines = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    std::string_view line(content.data() + pos,
                          (nl == std::string::npos ? content.size() : nl) - pos);
    pos = nl == std::string::npos ? content.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (part == kLeading) {
      size_t start = line.find_first_not_of(" \t");
      if (start == std::string_view::npos) continue;  // empty after leading blanks
      line.remove_prefix(start);
      part = kHeader;
    } else if (part == kHeader) {
      if (line.empty()) part = kBody;
    } else {
      if (body_lines >= lines) break;
      ++body_lines;
    }
    reply.append(line);
    reply += "\r\n";
  }
  StuffLoneDots(reply, 5);  // after "+OK\r\n"
  Reply(reply + ".");
}

void CPop3Socket::Quit() {
  bool any = false;
  for (const auto& m : mailbox_) any = any || m.deleted;
  if (any) host_.Log(B5("正在刪除訊息..."));
  for (const auto& m : mailbox_) {
    if (!m.deleted) continue;
    host_.Log("Deleting " + m.path + "...");
    if (!host_.DeleteMessage(m.path)) host_.Log("Failed to delete: " + m.path);
  }
  mailbox_.clear();
  Reply("+OK session ended");
  ended_ = true;
}

}  // namespace heron
