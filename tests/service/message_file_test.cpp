#include "service/message_file.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

constexpr std::time_t kDec6 = 1796576779;  // 2026-12-06 17:06:19 UTC

TEST(MessageFileTest, DatesAreGmtInEnglish) {
  EXPECT_EQ(GmtDateText(kDec6), "Sun, 06 Dec 2026 17:06:19 GMT");
  EXPECT_EQ(GmtDateText(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(GmtDateText(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
}

TEST(MessageFileTest, FileHoldsEnvelopeTraceLineAndTrimmedData) {
  MessageEnvelope env;
  env.sender = "<a@remote.org> SIZE=10";
  env.recipients = {"<b@local.org>", "<c@remote.org>"};
  env.helo = "client.example";
  env.client_ip = "192.0.2.7";
  env.by_domain = "local.org";
  env.server_id = "Heron Mail Server";
  env.when = kDec6;
  const std::string head =
      "x-sender: <a@remote.org> SIZE=10\r\n"
      "x-receiver: <b@local.org>\r\n"
      "x-receiver: <c@remote.org>\r\n"
      "Received: from client.example ([192.0.2.7]) by local.org with Heron Mail Server;\r\n"
      "\tSun, 06 Dec 2026 17:06:19 GMT\r\n";
  EXPECT_EQ(BuildMessageFile(env, "Hello\r\n.\r\n"), head + "Hello\r\n");
  EXPECT_EQ(BuildMessageFile(env, "S: x\r\n\r\n..dots\r\n..\r\n.\r\n"),
            head + "S: x\r\n\r\n..dots\r\n..\r\n");
  EXPECT_EQ(BuildMessageFile(env, "Wait...\r\n.\r\n"), head + "Wait...\r\n");
  EXPECT_EQ(BuildMessageFile(env, ".\r\n"), head);
}

TEST(MessageFileTest, RecipientsComeFromTheEnvelopeBlockInLowerCase) {
  std::string file =
      "X-Sender: <A@x.org>\r\n"
      "X-Receiver: <Bob@Local.org>\r\n"
      "x-receiver:   <c@d.org>  \r\n"
      "Received: from h ([1.2.3.4]) by x with y;\r\n"
      "\tSun, 06 Dec 2026 17:06:19 GMT\r\n"
      "Subject: Hi There\r\n"
      "Date: Sun, 06 Dec 2026 17:00:00 +0800\r\n"
      "Subject:  Second \r\n"
      "\r\n"
      "x-receiver: <late@x.org>\r\n"
      "Subject: body\r\n";
  EXPECT_EQ(ReadRecipients(file), (std::vector<std::string>{"<bob@local.org>", "<c@d.org>"}));
  EXPECT_TRUE(ReadRecipients("\r\nx-receiver: <a@b>\r\n").empty());
  EXPECT_TRUE(ReadRecipients("").empty());
  EXPECT_EQ(ReadRecipients("x-receiver: <a@b>"), std::vector<std::string>{"<a@b>"});

  MessageHeaderFields f = ReadHeaderFields(file);
  EXPECT_EQ(f.sender, "<a@x.org>");
  EXPECT_EQ(f.date, "sun, 06 dec 2026 17:00:00 +0800");
  EXPECT_EQ(f.subject, "second");
}

}  // namespace
}  // namespace heron
