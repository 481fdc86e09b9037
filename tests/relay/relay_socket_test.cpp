#include "relay/relay_socket.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/relay/scripted_peer.h"

namespace heron {
namespace {

struct Sink : CRelayEventSink {
  void OnMessage(const std::string& text) override { log += text + "\n"; }
  void OnDisconnected() override { ++disconnects; }
  std::string log;
  int disconnects = 0;
};

struct Outcome {
  bool ran, delivered;
  int code;
  std::string reply, failure, log, received;
};

Outcome Deliver(std::vector<std::string> script, int timeout = 5,
                const std::string& recipients = "<b@far.net>") {
  testing::ScriptedPeer peer(std::move(script));
  Sink sink;
  CRelaySocket s;
  s.SetSink(&sink);
  s.SetHeloName("mx.local.org");
  s.SetReplyTimeout(timeout);
  bool ran = s.Deliver("127.0.0.1", peer.port(), "<a%d@local.org>", recipients,
                       "Subject: x\r\n\r\nbody\r\n\r\n.");
  s.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return {ran,      s.IsDelivered(), s.LastCode(), s.GetLastReply(), s.FailureText(),
          sink.log, peer.received()};
}

const std::vector<std::string> kGood = {"220 hi\r\n", "250 hello\r\n",  "250 ok\r\n", "250 ok\r\n",
                                        "354 go\r\n", "250 queued\r\n", "221 bye\r\n"};

TEST(RelaySocketTest, DeliversWithMultiLineRepliesAndSendsTextUnchanged) {
  auto script = kGood;
  script[0] = "220-mx.far.net ESMTP\r\n220-second line\r\n220 ready\r\n";
  script[1] = "250-first\r\n251 other code\r\n250 done\r\n";
  Outcome r = Deliver(script);
  EXPECT_TRUE(r.ran);
  EXPECT_TRUE(r.delivered);
  EXPECT_EQ(r.received,
            "HELO mx.local.org\r\nMAIL FROM: <a%d@local.org>\r\nRCPT TO: <b@far.net>\r\n"
            "DATA\r\nSubject: x\r\n\r\nbody\r\n\r\n.\r\nQUIT\r\n");
  EXPECT_NE(r.log.find("MAIL FROM: <a%d@local.org>\n"), std::string::npos);  // as sent
  EXPECT_NE(r.log.find("220-mx.far.net ESMTP\n"), std::string::npos);
}

TEST(RelaySocketTest, RefusedStepsAndQuitAfterSuccess) {
  struct Case {
    size_t at;
    std::string reply;
    bool delivered;
    const char* text;
  };
  const Case cases[] = {
      {4, "250 no data for you\r\n", false, "無效回應， DATA: 指令的有效回應必須是 354."},
      {6, "250 not bye\r\n", true, "Invalid response, expecting 221."},
      {3, "550 no such user\r\n", false, "無效回應， RCPT TO: 指令的有效回應必須是 250."},
  };
  for (const Case& c : cases) {
    auto script = kGood;
    script[c.at] = c.reply;
    script.resize(c.at + 2, "221 bye\r\n");
    Outcome r = Deliver(script);
    EXPECT_EQ(r.delivered, c.delivered) << c.text;
    EXPECT_NE(r.log.find(B5(c.text)), std::string::npos) << c.text;
    if (c.at == 4) {
      EXPECT_EQ(r.received.find("Subject:"), std::string::npos);
    }
    if (c.at == 3) {
      EXPECT_EQ(r.code, 550);
      EXPECT_EQ(r.reply, "550 no such user");
    }
  }
}

TEST(RelaySocketTest, SilentOrMissingPeersGiveTheClientsOwnText) {
  Outcome silent = Deliver({""}, 1);  // never greets
  EXPECT_TRUE(silent.ran);
  EXPECT_FALSE(silent.delivered);
  EXPECT_EQ(silent.code, 0);
  EXPECT_EQ(silent.failure, B5("連線逾時..."));

  CRelaySocket s;
  s.SetReplyTimeout(1);
  asio::io_context io;
  asio::ip::tcp::acceptor a(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
  uint16_t port = a.local_endpoint().port();
  a.close();  // nothing listens there now
  EXPECT_FALSE(s.Deliver("127.0.0.1", port, "<a@b.c>", "<d@e.f>", "."));
  EXPECT_EQ(s.FailureText(), B5("無法與遠端伺服器建立連線"));

  Outcome closed = Deliver({"220 hi\r\n"}, 2);  // closes after the greeting's answer is due
  EXPECT_FALSE(closed.delivered);
  EXPECT_FALSE(closed.failure.empty());
}

TEST(RelaySocketTest, HostileLinesAreBounded) {
  std::string endless(3 * CRelaySocket::kMaxLine, 'x');
  Outcome r = Deliver({"220" + endless + "\r\n"});
  EXPECT_LE(r.log.find('\n'), CRelaySocket::kMaxLine);
  EXPECT_TRUE(r.received.starts_with("HELO "));  // the greeting still counted
}

}  // namespace
}  // namespace heron
