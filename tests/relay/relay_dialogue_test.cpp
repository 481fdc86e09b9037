#include "relay/relay_dialogue.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace heron {
namespace {

TEST(ReplyReaderTest, MultiLineRepliesEndAtTheirCodeAndABlank) {
  ReplyReader r;
  EXPECT_FALSE(r.Add("220-mx.example ESMTP"));
  EXPECT_FALSE(r.Add("220-second"));
  EXPECT_TRUE(r.Add("220 ready"));
  EXPECT_EQ(r.text(), "220-mx.example ESMTP\n220-second\n220 ready");
  EXPECT_EQ(r.code(), 220);
  r.Clear();
  EXPECT_FALSE(r.Add("250-first"));
  EXPECT_FALSE(r.Add("251 other code"));  // not the code: read on
  EXPECT_FALSE(r.Add("ok"));              // too short: read on
  EXPECT_TRUE(r.Add("250 done"));
  EXPECT_EQ(r.code(), 250);
  r.Clear();
  EXPECT_EQ(r.code(), 0);  // nothing received
  EXPECT_TRUE(r.Add("xyz"));
  EXPECT_EQ(r.code(), 0);
  // A reply that never ends is taken as complete with its 512th line.
  r.Clear();
  for (size_t i = 1; i < ReplyReader::kMaxLines; ++i) ASSERT_FALSE(r.Add("220-more"));
  EXPECT_TRUE(r.Add("220-more"));
  EXPECT_EQ(r.code(), 220);
}

TEST(RelayDialogueTest, StepsAndTheirRefusals) {
  struct Case {
    std::vector<int> replies;
    std::vector<std::string> sent;
    bool delivered;
    std::string refusal;  // UTF-8, empty when none
  };
  const std::string data = "Subject: x\r\n\r\nbody\r\n.";
  const Case cases[] = {
      {{220, 250, 250, 250, 250, 354, 250, 221},
       {"HELO mx.local.org", "MAIL FROM: <a@local.org>", "RCPT TO: <b@far.net>",
        "RCPT TO: <c@far.net>", "DATA", data, "QUIT"},
       true,
       ""},
      {{220, 250, 250, 250, 250, 250},
       {"HELO mx.local.org", "MAIL FROM: <a@local.org>", "RCPT TO: <b@far.net>",
        "RCPT TO: <c@far.net>", "DATA"},
       false,
       "無效回應， DATA: 指令的有效回應必須是 354."},
      {{220, 250, 250, 250, 250, 354, 250, 250},
       {"HELO mx.local.org", "MAIL FROM: <a@local.org>", "RCPT TO: <b@far.net>",
        "RCPT TO: <c@far.net>", "DATA", data, "QUIT"},
       true,
       "Invalid response, expecting 221."},
      {{0}, {}, false, "無效回應， 有效回應必須是 220 "},
      {{220, 250, 250, 451},
       {"HELO mx.local.org", "MAIL FROM: <a@local.org>", "RCPT TO: <b@far.net>"},
       false,
       "無效回應， RCPT TO: 指令的有效回應必須是 250."},
  };
  for (const Case& c : cases) {
    CRelayDialogue d("mx.local.org", "<a@local.org>", "<b@far.net>, <c@far.net>", data);
    std::vector<std::string> sent;
    std::string refusal;
    for (int code : c.replies) {
      CRelayDialogue::Action a = d.OnReply(code);
      if (!a.send.empty()) sent.push_back(a.send);
      if (!a.log.empty()) refusal = Big5ToUtf8(a.log);
      if (!a.go_on) break;
    }
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(d.delivered(), c.delivered);
    EXPECT_EQ(refusal, c.refusal);
  }
}

}  // namespace
}  // namespace heron
