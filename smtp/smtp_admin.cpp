// The administrative dialogues of an SMTP session: CPWD (a user changes
// their password) and ADMN (the admin account manages accounts and has the
// trace log mailed). Every answer arrives Base64-encoded, already decoded
// here.
#include "platform/text.h"
#include "service/message_file.h"
#include "smtp/smtp_session.h"

namespace heron {
namespace {

constexpr const char* kAuthFailed = "501 Authentication failed.";

// The log text of the mail: the partial first line dropped, leading dots
// removed, and every line that is a lone "." doubled.
std::string LogMailText(std::string text) {
  size_t first = text.find("\r\n");
  text.erase(0, first == std::string::npos ? text.size() : first + 2);
  text.erase(0, text.find_first_not_of('.') == std::string::npos ? text.size()
                                                                 : text.find_first_not_of('.'));
  std::string out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find("\r\n", pos);
    std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end) - pos);
    out.append(line == "." ? ".." : line);
    if (end == std::string::npos) break;
    out += "\r\n";
    pos = end + 2;
  }
  return out;
}

}  // namespace

std::string AccountListReply(const std::vector<CUserAccount>& accounts) {
  std::string out = "250-User Accounts:\r\n";
  for (const auto& a : accounts) {
    out += B5("250-帳號：[ ");
    out += a.name;
    out += " ]";
    if (!a.full_name.empty()) {
      out += B5("  全名:");
      out += a.full_name;
    }
    out += "\r\n";
  }
  out += "250 OK";
  return out;
}

void CSmtpSocket::AdminStep(const std::string& answer) {
  AccountStore& accounts = host_.accounts();
  switch (state_) {
    case kCpwdUser:
      admin_user_ = answer;
      state_ = kCpwdOld;
      Reply(kPasswordPrompt);
      break;
    case kCpwdOld:
      state_ = kReady;
      if (PasswordOk(admin_user_, answer)) {
        state_ = kCpwdNew;
        Reply(kPasswordPrompt);
      } else {
        Reply(kAuthFailed);
      }
      break;
    case kCpwdNew:
      // A change that could not be stored is a failure, never "250".
      if (accounts.SetPassword(admin_user_, answer)) {
        state_ = kReady;
        Reply("250 OK");
      } else {
        Reply(kAuthFailed);
      }
      break;
    case kAdmnPassword:
      state_ = kReady;
      if (PasswordOk("admin", answer)) {
        state_ = kAdmnTask;
        Reply("334 TASK");
      } else {
        Reply(kAuthFailed);
      }
      break;
    case kAdmnTask:
      AdminTask(answer);
      break;
    case kAdmnAddUser:
      admin_user_ = answer;
      state_ = kAdmnAddPassword;
      Reply(kPasswordPrompt);
      break;
    case kAdmnAddPassword:
      // Fails for an existing or unsafe name and when the list cannot be
      // stored; the next line is again taken as the password.
      if (accounts.Add(admin_user_, answer)) {
        state_ = kReady;
        Reply("250 A new user account is created!");
      } else {
        Reply("501 Fail to add account!");
      }
      break;
    case kAdmnDeleteUser:
      state_ = kReady;
      accounts.Delete(answer);
      Reply("250 A user account is deleted!");
      break;
    case kAdmnChangeUser:
      admin_user_ = answer;
      state_ = kAdmnChangePassword;
      Reply(kPasswordPrompt);
      break;
    case kAdmnChangePassword:
      state_ = kReady;
      Reply(accounts.SetPassword(admin_user_, answer) ? "250 Password Changed!"
                                                      : "501 Fail to change user's password!");
      break;
    case kAdmnAdminPassword:
      if (accounts.SetPassword("admin", answer)) {
        state_ = kReady;
        Reply("250 OK");
      } else {
        Reply(kAuthFailed);
      }
      break;
    case kAdmnLogRecipient:
      state_ = kReady;
      MailTraceLog(answer);
      break;
    default:
      state_ = kReady;
      break;
  }
}

void CSmtpSocket::AdminTask(const std::string& task) {
  if (task == "NONE") {
    state_ = kReady;
    Reply("250 OK");
  } else if (task == "AUSR") {
    state_ = kAdmnAddUser;
    Reply(kUserPrompt);
  } else if (task == "DUSR") {
    state_ = kAdmnDeleteUser;
    Reply(kUserPrompt);
  } else if (task == "EUSR") {
    state_ = kAdmnChangeUser;
    Reply(kUserPrompt);
  } else if (task == "QUSR") {
    state_ = kReady;
    Reply(AccountListReply(host_.accounts().accounts()));
  } else if (task == "APWD") {
    state_ = kAdmnAdminPassword;
    Reply(kPasswordPrompt);
  } else if (task == "VLOG") {
    state_ = kAdmnLogRecipient;
    Reply(kPasswordPrompt);
  } else {
    Reply("500 Command not implemented.");
  }
}

void CSmtpSocket::MailTraceLog(const std::string& address) {
  // Without a local domain there is no sender address to mail from.
  if (cfg_.domains.empty()) {
    Reply("550 No local domain configured");
    return;
  }
  // The address becomes an envelope line: it must not forge others.
  if (address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    Reply("501 Syntax error in parameters or arguments");
    return;
  }
  sender_ = "<admin@" + cfg_.domains.front() + ">";
  recipients_ = {address};
  std::string log;
  if (!host_.ReadLogTail(kLogMailBytes, log)) {
    Reply("250 Log Sent!");  // nothing to send; the reply is unchanged
    return;
  }
  MessageEnvelope env;
  env.sender = sender_;
  env.recipients = recipients_;
  env.helo = cfg_.host_name;
  env.client_ip = client_ip_;
  env.by_domain = cfg_.domains.front();
  env.server_id = cfg_.server_id;
  env.when = host_.Now();
  std::string date = GmtDateText(env.when);
  // The text ends in an end marker of its own, kept as it is.
  std::string content = MessageFileHead(env) + "From: " + sender_ + "\r\nTo: <" + address +
                        ">\r\n" + B5("Subject: 系統紀錄") + "\r\nDate: " + date + "\r\n\r\n" +
                        LogMailText(std::move(log)) + "\r\n\r\n.";
  if (host_.StoreMessage(host_.NewMessageId(),
                         [&content](const MessageWriter& write) { write(content); })) {
    Reply("250 Log Sent!");
  } else {
    Reply("451 Requested action aborted: local error in processing");
  }
}

}  // namespace heron
