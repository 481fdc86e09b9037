// The administrative dialogues of an SMTP session: CPWD (a user changes
// their password) and ADMN (the admin account manages accounts and has the
// trace log mailed). Every answer arrives Base64-encoded, already decoded
// here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/guid.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/mailbox.h"
#include "smtp/message_file.h"
#include "smtp/smtp_session.h"

namespace heron {
namespace {

constexpr const char* kAuthFailed = "501 Authentication failed.";

// The last `limit` - 1 bytes of the file, or nothing when it cannot be read.
bool ReadTail(const std::string& path, size_t limit, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok) {
    size_t size = static_cast<size_t>(st.st_size);
    size_t want = size < limit ? size : limit;
    want = want > 0 ? want - 1 : 0;
    out.assign(want, '\0');
    size_t got = 0;
    off_t from = static_cast<off_t>(size - want);
    while (got < want) {
      ssize_t n = pread(fd, out.data() + got, want - got, from + static_cast<off_t>(got));
      if (n <= 0) break;  // the file shrank meanwhile: keep what was read
      got += static_cast<size_t>(n);
    }
    out.resize(got);
  }
  close(fd);
  return ok;
}

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
      if (accounts.CheckPassword(admin_user_, answer)) {
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
      if (accounts.CheckPassword("admin", answer)) {
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
    std::string list;
    if (host_.accounts().ListText(list)) {
      state_ = kReady;
      Reply(list);
    } else {
      Reply("501 Fail to get user accounts!");
    }
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
  if (!ReadTail(LogFilePathFor(cfg_.log, HeronHome()), kLogMailBytes, log)) {
    Reply("250 Log Sent!");  // nothing to send; the reply is unchanged
    return;
  }
  std::string date = GmtDateText(std::time(nullptr));
  std::string content = "x-sender: " + sender_ + "\r\nx-receiver: " + address +
                        "\r\nReceived: from " + cfg_.host_name + " ([" + client_ip_ + "]) by " +
                        cfg_.domains.front() + " with " + cfg_.server_id + ";\r\n\t" + date +
                        "\r\nFrom: " + sender_ + "\r\nTo: <" + address + ">\r\n" +
                        B5("Subject: 系統紀錄") + "\r\nDate: " + date + "\r\n\r\n" +
                        LogMailText(std::move(log)) + "\r\n\r\n.";
  if (host_.StoreMessage(NewGuidHex(), content)) {
    Reply("250 Log Sent!");
  } else {
    Reply("451 Requested action aborted: local error in processing");
  }
}

}  // namespace heron
