#include "relay/report.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

const MessageHeaderFields kFacts = {"<amy@local.org>", "mon, 07 dec 2026 10:00:00 +0800", "hello"};
constexpr std::time_t kNow = 1796637600;  // Tue, 08 Dec 2026 10:00:00 GMT

TEST(ReportTest, BytesOfAFinalFailure) {
  std::string r = BuildReport(kFacts, "<bob@far.net>", {"550 no such user", "550 no such user"},
                              "Heron Mail Server SMTP (4.2.0)", kNow);
  std::string date = GmtDateText(kNow);
  std::string expected =
      "x-sender: MAILER-DAEMON@local.org\r\nx-receiver: <amy@local.org>\r\n"
      "Received: from localhost [127.0.0.1] by local.org with Heron Mail Server SMTP (4.2.0);"
      "\r\n\t" +
      date +
      "\r\nFrom: Mailer@local.org\r\nTo: <amy@local.org>\r\n"
      "Subject: Returned Mail:see transcript for details\r\nDate: " +
      date + "\r\n\r\n" +
      B5("無法將信件正確傳遞至下列收件者： \r\n<bob@far.net>\r\n時間：mon, 07 dec 2026 10:00:00 "
         "+0800\r\n寄件人：<amy@local.org>\r\n主旨：hello\r\n\r\n------------- 錯誤訊息 "
         "-------------\r\n\r\n550 no such user\r\n\r\n====================================\r\n\r\n"
         "The original message could not send to the following addresses properly: \r\n"
         "<bob@far.net>\r\nDate：mon, 07 dec 2026 10:00:00 +0800\r\nMail From:<amy@local.org>\r\n"
         "Subject：hello\r\n\r\n---------- Error Message -----------\r\n\r\n550 no such user") +
      "\r\n\r\n.";
  EXPECT_EQ(r, expected);
}

TEST(ReportTest, TemporaryCodesAreExplainedAndLoneDotsDoubled) {
  std::string r = BuildReport(kFacts, "<bob@far.net>", {"450 busy", "450 busy"}, "id", kNow);
  EXPECT_NE(
      r.find(
          B5("系統將自動稍後再試！ 有時候伺服器會利用類似暫時性錯誤的訊息以攔截非信任的電子郵件，"
             "建議您可以請收件人將您的帳號加入安全名單。\r\n\r\n=====")),
      std::string::npos);
  EXPECT_TRUE(r.ends_with(
      "(for example because it was locked). Mail servers can use such temporary failures to "
      "keep untrusted senders at bay. Relay system will try again later.\r\n\r\n."));
  // Each temporary code's own words, in both parts; 453 ends in its own way.
  const std::pair<int, const char*> endings[] = {
      {421, "The server has encountered a temporary failure. Mail servers can use"},
      {451, "Not your fault. Maybe let the admin know. Mail servers can use"},
      {452, "insufficient system storage. Mail servers can use"},
      {453,
       "it might be completed. Mail servers can use such temporary failures to keep untrusted "
       "senders at bay.\r\n\r\n."},
  };
  for (const auto& [code, ending] : endings) {
    std::string reply = std::to_string(code) + " later";
    std::string t = BuildReport(kFacts, "x", {reply, reply}, "id", kNow);
    EXPECT_NE(t.find(ending), std::string::npos) << code;
    EXPECT_NE(t.find(B5("加入安全名單。\r\n\r\n=====")), std::string::npos) << code;
  }
  std::string dots = BuildReport(kFacts, "x", {"a\r\n.\r\n.\r\nb", "e"}, "id", kNow);
  EXPECT_NE(dots.find("a\r\n..\r\n..\r\nb"), std::string::npos);
}

TEST(ReportTest, WrittenOnlyForSendersWithAMailbox) {
  testing::TempDir root;
  CreateFolderPath(root.path() + "/Amy");
  CreateFolderPath(root.path() + "/.tmp");
  std::string msg = root.path() + "/m.eml";
  for (const char* sender : {"<amy@local.org>", "<zed@local.org>"}) {
    WriteFileAtomic(root.path() + "/.tmp", msg,
                    std::string("x-sender: ") + sender + "\r\nx-receiver: <b@far.net>\r\n\r\nx");
    bool amy = std::string(sender).find("amy") != std::string::npos;
    EXPECT_EQ(WriteReport(root.path(), msg, "<b@far.net>", {"550 x", "550 x"}, "id", kNow), amy);
  }
  auto files = ListFolder(root.path() + "/Amy");
  ASSERT_EQ(files.size(), 1u);
  std::string content;
  ReadFile(root.path() + "/Amy/" + files[0].name, content);
  EXPECT_TRUE(
      content.starts_with("x-sender: MAILER-DAEMON@local.org\r\nx-receiver: <amy@local.org>"));
}

}  // namespace
}  // namespace heron
