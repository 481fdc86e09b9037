#include "relay/report.h"

#include "platform/files.h"
#include "platform/guid.h"
#include "platform/text.h"
#include "service/address.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"

namespace heron {
namespace {

// The explanation of a temporary failure code, in both languages.
struct Explanation {
  int code;
  const char* chinese;
  const char* english;
};

constexpr const char* kChineseTail =
    "有時候伺服器會利用類似暫時性錯誤的訊息以攔截非信任的電子郵件，建議您可以請收件人將您的帳號加入"
    "安全名單。";
constexpr const char* kEnglishTail =
    "Mail servers can use such temporary failures to keep untrusted senders at bay. Relay system "
    "will try again later.";

const Explanation kExplanations[] = {
    {421, "\r\n\r\n這可能只是對方伺服器暫時性的錯誤，系統將自動稍後再試！ ",
     "\r\n\r\nThe server has encountered a temporary failure. "},
    {450, "\r\n\r\n收件人的信箱無效或暫時無法使用，系統將自動稍後再試！ ",
     "\r\n\r\nThe requested command failed because the user's mailbox was unavailable (for "
     "example because it was locked). "},
    {451,
     "\r\n\r\n對方伺服器發生錯誤，指令無法正確傳遞。這並不是您的帳號問題，系統將自動稍後再試！ "
     "你可以將訊息反映給系統管理員， ",
     "\r\n\r\nThe command has been aborted due to a server error. Not your fault. Maybe let the "
     "admin know. "},
    {452, "\r\n\r\n伺服器的空間不足，系統將自動稍後再試！ ",
     "\r\n\r\nThe command has been aborted because the server has insufficient system storage. "},
    {453, "\r\n\r\n這可能只是對方伺服器暫時性的退信，系統將自動稍後再試！ ",
     "\r\n\r\nThe server has encountered a temporary failure. If the command is repeated without "
     "any change, it might be completed. Mail servers can use such temporary failures to keep "
     "untrusted senders at bay."},
};

int LeadingCode(const std::string& text) {
  std::string t = Trim(text);
  if (t.size() < 3) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (t[i] < '0' || t[i] > '9') return 0;
  }
  return ReadDecimal(t.substr(0, 3));
}

// Every line holding a single "." becomes "..", also where two such lines
// follow each other; leading dots of the text go.
std::string DotSafe(const std::string& body) {
  static constexpr std::string_view kLone = "\r\n.\r\n";
  size_t start = body.find_first_not_of('.');
  if (start == std::string::npos) return {};
  std::string out;
  out.reserve(body.size() + 16);
  size_t pos = start;
  for (size_t at = body.find(kLone, start); at != std::string::npos;
       at = body.find(kLone, at + 3)) {
    out.append(body, pos, at + 3 - pos);
    out += '.';
    pos = at + 3;
  }
  out.append(body, pos, std::string::npos);
  return out;
}

}  // namespace

std::string BuildReport(const MessageHeaderFields& facts, const std::string& recipients,
                        const ReportReasons& reasons, const std::string& server_id,
                        std::time_t now) {
  const std::string& sender = facts.sender;
  std::string domain = DomainOf(sender);
  std::string date = GmtDateText(now);
  std::string zh_extra, en_extra;
  int code = LeadingCode(reasons.english);
  for (const Explanation& e : kExplanations) {
    if (e.code != code) continue;
    zh_extra = std::string(B5(e.chinese)) + B5(kChineseTail);
    en_extra = e.english;
    if (code != 453) en_extra += kEnglishTail;  // 453 has its own ending
  }

  std::string out = "x-sender: MAILER-DAEMON@" + domain + "\r\n";
  out += "x-receiver: " + sender + "\r\n";
  out += "Received: from localhost [127.0.0.1] by " + domain + " with " + server_id + ";\r\n\t" +
         date + "\r\n";
  out += "From: Mailer@" + domain + "\r\n";
  out += "To: " + sender + "\r\n";
  out += "Subject: Returned Mail:see transcript for details\r\n";
  out += "Date: " + date + "\r\n\r\n";

  std::string body = B5("無法將信件正確傳遞至下列收件者： \r\n") + recipients + "\r\n";
  body +=
      B5("時間：") + facts.date + B5("\r\n寄件人：") + sender + B5("\r\n主旨：") + facts.subject;
  body += B5("\r\n\r\n------------- 錯誤訊息 -------------\r\n\r\n") + reasons.chinese + zh_extra;
  body += "\r\n\r\n====================================\r\n\r\n";
  body += "The original message could not send to the following addresses properly: \r\n" +
          recipients + "\r\n";
  body +=
      B5("Date：") + facts.date + "\r\nMail From:" + sender + B5("\r\nSubject：") + facts.subject;
  body += "\r\n\r\n---------- Error Message -----------\r\n\r\n" + reasons.english + en_extra;
  out += DotSafe(body);
  out += "\r\n\r\n.";
  return out;
}

bool WriteReport(const std::string& mail_root, const std::string& message_path,
                 const std::string& recipients, const ReportReasons& reasons,
                 const std::string& server_id, std::time_t now) {
  std::string content;
  // The header facts are read up to the first empty line.
  if (!ReadFileHead(message_path, 256 * 1024, content)) return false;
  MessageHeaderFields facts = ReadHeaderFields(content);
  auto folder = FindMailbox(mail_root, MailboxOf(facts.sender));
  if (!folder) return false;
  std::string report = BuildReport(facts, recipients, reasons, server_id, now);
  return WriteFileAtomic(FolderPath(mail_root, kTempFolder),
                         *folder + "/" + MessageFileName(NewGuidHex()), report);
}

}  // namespace heron
