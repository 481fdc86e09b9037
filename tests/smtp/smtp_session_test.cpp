#include "smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <utility>

#include "platform/text.h"
#include "service/accounts.h"
#include "service/address_cache.h"
#include "service/base64.h"
#include "service/login_guard.h"
#include "smtp/message_edits.h"
#include "tests/service/memory_accounts.h"

namespace heron {
namespace {

// Records what the session hands to its thread; owns a real account store
// over an account list in memory.
class FakeHost : public SmtpSessionHost {
 public:
  FakeHost() { accounts_.Load(); }
  void Log(const std::string& text) override { logs.push_back(text); }
  void Touch() override { ++touches; }
  AccountStore& accounts() override { return accounts_; }
  LoginGuard* logins() override { return guard; }
  LoginGuard* guard = nullptr;
  bool HasMailbox(const std::string& name) override { return storage.HasFolder(name); }
  void EnsureMailbox(const std::string& name) override { storage.EnsureMailbox(name); }
  bool ReadLogTail(size_t limit, std::string& out) override {
    if (!log) return false;
    size_t want = std::min(log->size(), limit);
    out = log->substr(log->size() - (want > 0 ? want - 1 : 0));
    return true;
  }
  std::string NewMessageId() override { return StrPrintf("%032X", ++ids); }
  std::time_t Now() override { return 1796576779; }
  bool Listed(const std::string& query) override {
    queries.push_back(query);
    return listed;
  }
  ReverseName Reverse(const std::string&) override {
    ++reverse_lookups;
    return reverse;
  }
  bool InCache(bool rejected, const std::string& address) override {
    return (rejected ? rejected_cache : passed_cache).Contains(address);
  }
  void AddToCache(bool rejected, const std::string& address) override {
    (rejected ? rejected_cache : passed_cache).Add(address, cache_size);
  }
  bool StoreMessage(const std::string& name,
                    const std::function<void(const MessageWriter&)>& produce) override {
    if (fail_store) return false;
    std::string content;
    produce([&content](std::string_view piece) { content.append(piece); });
    stored.emplace_back(name, content);
    return true;
  }
  bool Logged(const std::string& text) const {
    return std::find(logs.begin(), logs.end(), text) != logs.end();
  }
  bool LogContains(const std::string& part) const {
    for (const auto& l : logs) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }

  testing::MemoryAccounts storage{
      {{"admin", "Administrator", "adminpw", 0}, {"bob", "", "pw", 0}, {"nox", "", "pw", 1}}};
  std::optional<std::string> log;  // the trace log, when there is one
  // Screening: blocklist answers, the reverse name, the caches.
  bool listed = false;
  ReverseName reverse{true, true, "client.example.net"};
  std::vector<std::string> queries;
  int reverse_lookups = 0;
  AddressCache passed_cache, rejected_cache;
  int cache_size = 50;
  std::vector<std::string> logs;
  std::vector<std::pair<std::string, std::string>> stored;
  bool fail_store = false;
  int touches = 0;
  unsigned ids = 0;

 private:
  AccountStore accounts_{storage};
};

const std::string kOk = "250 OK\r\n";
const std::string kNotAuth = "551 Client was not authenticated\r\n";
const std::string kUnknown = "550 Recipient unknown.\r\n";

std::string Plain(const std::string& authz, const std::string& user, const std::string& pw) {
  return Base64Encode(authz + '\0' + user + '\0' + pw);
}

bool Queued(const std::string& out) {
  return std::regex_match(out, std::regex("250 OK: Queued as: [0-9A-F]{32}\r\n"));
}

class SmtpSessionTest : public ::testing::Test {
 protected:
  SmtpSessionTest() {
    cfg.host_name = "mx.local.org";
    cfg.dns_server = "192.0.2.53";
    cfg.domains = {"local.org"};
    cfg.catch_all_account = Utf8ToBig5("-停用-");
    cfg.cc_account = Utf8ToBig5("-無-");
  }
  // Starts a session and returns the greeting.
  std::string Open(const std::string& ip = "192.0.2.10", int count = 1, int same_address = 0) {
    s = std::make_unique<CSmtpSocket>(cfg, ip, host, tls);
    s->Start(count, same_address);
    return s->TakeOutput();
  }
  std::string Send(const std::string& bytes) {
    s->Receive(bytes);
    return s->TakeOutput();
  }
  // Greeted, EHLO given, sender accepted.
  void Ready(const std::string& from = "<a@remote.org>") {
    Open();
    Send("EHLO client.example\r\n");
    ASSERT_EQ(Send("MAIL FROM:" + from + "\r\n"), kOk);
  }

  FakeHost host;
  OspreySettings cfg;
  TlsPolicy tls;
  std::unique_ptr<CSmtpSocket> s;
};

TEST_F(SmtpSessionTest, GreetingNamesHostServerAndRelayMode) {
  EXPECT_EQ(Open(), "220 mx.local.org Heron Mail Server ESMTP LOC\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kConnected);
  EXPECT_FALSE(s->ended());
  cfg.relay_messages = 1;
  EXPECT_EQ(Open(), "220 mx.local.org Heron Mail Server ESMTP INT\r\n");
}

TEST_F(SmtpSessionTest, ConnectionLimitAndAddressFilter) {
  EXPECT_EQ(Open("192.0.2.10", 500).substr(0, 4), "220 ");
  EXPECT_EQ(Open("192.0.2.10", 501), "421 Service not available. Too many users!\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_TRUE(host.Logged("Connection denied: Too many users!"));
  EXPECT_EQ(Send("NOOP\r\n"), "");

  cfg.ip_filter = {"192.0.2.*"};
  cfg.safe_ip = {"192.0.2.10"};
  EXPECT_EQ(Open("192.0.2.10").substr(0, 4), "220 ");
  EXPECT_TRUE(s->safe_client());
  EXPECT_EQ(Open("192.0.2.11"), "421 Service not available\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_TRUE(host.Logged("Connection denied: IP address was rejected by the server."));
  EXPECT_EQ(Open("198.51.100.1").substr(0, 4), "220 ");
  EXPECT_FALSE(s->safe_client());
}

TEST_F(SmtpSessionTest, OnlyGreetingCommandsBeforeHelo) {
  Open();
  EXPECT_EQ(Send("MAIL FROM:<a@b.org>\r\n"),
            "503 Bad sequence of commands (given out of order)\r\n");
  EXPECT_EQ(Send("NOOP\r\n"), "503 Bad sequence of commands (given out of order)\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kConnected);
  EXPECT_EQ(Send("VERS\r\n"), "258 mx.local.org LOC [192.0.2.53] v:420018\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_TRUE(host.Logged("VERS "));
  EXPECT_FALSE(host.LogContains("258 "));
  EXPECT_EQ(Send("quit\r\n"), "221 Bye\r\n");
  EXPECT_TRUE(s->ended());
}

TEST_F(SmtpSessionTest, SimpleCommandsAndLineSplitting) {
  Open();
  EXPECT_EQ(Send("EHLO any thing\r\n"),
            "250-Supported extensions:\r\n250-AUTH PLAIN LOGIN\r\n250-VRFY\r\n250 OK\r\n");
  EXPECT_TRUE(host.Logged("EHLO any thing"));
  EXPECT_EQ(Send("NOOP\r\n\r\nnoop\r\n"), kOk + kOk);
  EXPECT_EQ(Send("NO"), "");
  EXPECT_EQ(Send("OP\r\nRSET\r"), kOk);
  EXPECT_EQ(Send("\n"), kOk);
  // A bare LF does not end a line.
  EXPECT_EQ(Send("NOOP\nNOOP\r\n"), "500 Command not implemented.\r\n");
  EXPECT_EQ(Send("HELP\r\n"),
            "214-This server supports the following commands:\r\n"
            "214 HELO EHLO RCPT DATA RSET MAIL QUIT VRFY HELP NOOP\r\n");
  EXPECT_EQ(Send("VRFY bob\r\n"), "252 Cannot VRFY user\r\n");
  // CPWD is switched on by default; ADMN is not.
  for (const char* cmd : {"FOO\r\n", "ADMN\r\n", "STARTTLS\r\n"}) {
    EXPECT_EQ(Send(cmd), "500 Command not implemented.\r\n") << cmd;
  }
  EXPECT_EQ(Send("HELO again\r\n"), kOk);
  EXPECT_EQ(Send("QUIT\r\nNOOP\r\n"), "221 Bye\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_EQ(Send("NOOP\r\n"), "");
  EXPECT_EQ(host.touches, 13);
}

TEST_F(SmtpSessionTest, AuthLoginWithAndWithoutInitialResponse) {
  Open();
  Send("EHLO c\r\n");
  EXPECT_EQ(Send("AUTH LOGIN\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAuthUser);
  EXPECT_EQ(Send(Base64Encode("BOB") + "\r\n"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAuthPassword);
  EXPECT_EQ(Send(Base64Encode("PW") + "\r\n"), "235 Authentication successful.\r\n");
  EXPECT_TRUE(s->authenticated());
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);

  Send("EHLO c\r\n");
  EXPECT_FALSE(s->authenticated());
  EXPECT_EQ(Send("auth login  " + Base64Encode("bob") + " \r\n"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Send(Base64Encode("wrong") + "\r\n"), "501 Authentication failed.\r\n");
  EXPECT_FALSE(s->authenticated());
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_EQ(Send("NOOP\r\n"), kOk);

  // Other mechanisms fall back to the user-name prompt.
  EXPECT_EQ(Send("AUTH CRAM-MD5\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAuthUser);
  Send("!!!!\r\n");
  EXPECT_EQ(Send("====\r\n"), "501 Authentication failed.\r\n");

  // Credentials never reach the log.
  EXPECT_TRUE(host.Logged("****"));
  EXPECT_TRUE(host.Logged("AUTH login ****"));
  for (const char* secret : {"BOB", "PW", "bob", "wrong"}) {
    EXPECT_FALSE(host.LogContains(Base64Encode(secret))) << secret;
  }
  EXPECT_FALSE(host.LogContains("!!!!"));
  EXPECT_FALSE(host.LogContains("===="));
}

TEST_F(SmtpSessionTest, AuthPlainPromptedOrWithInitialResponse) {
  Open();
  Send("EHLO c\r\n");
  EXPECT_EQ(Send("AUTH PLAIN\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAuthPlain);
  EXPECT_EQ(Send(Plain("", "bob", "pw") + "\r\n"), "235 Authentication successful.\r\n");
  EXPECT_TRUE(s->authenticated());

  Send("HELO c\r\n");
  std::string blob = Plain("admin", "Bob", "PW");
  EXPECT_EQ(Send("AUTH PLAIN " + blob + "\r\n"), "235 Authentication successful.\r\n");
  EXPECT_TRUE(s->authenticated());
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);

  Send("HELO c\r\n");
  EXPECT_EQ(Send("AUTH PLAIN " + Plain("", "bob", "nope") + "\r\n"),
            "501 Authentication failed.\r\n");
  EXPECT_FALSE(s->authenticated());
  EXPECT_EQ(Send("AUTH PLAIN\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(Send(Base64Encode("no nul at all") + "\r\n"), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);

  EXPECT_TRUE(host.Logged("AUTH PLAIN ****"));
  EXPECT_FALSE(host.LogContains(blob));
  EXPECT_FALSE(host.LogContains(Plain("", "bob", "pw")));
  // However the command is written, the credentials stay out of the log.
  for (const char* form : {"AUTH\tPLAIN ", "  auth plain ", "\tAuth=Login "}) {
    Send(form + Plain("", "bob", "pw") + "\r\n");
    EXPECT_FALSE(host.LogContains(Plain("", "bob", "pw"))) << form;
  }
}

TEST_F(SmtpSessionTest, EmptyAnswerToAnAuthPromptIsAnEmptyCredential) {
  Open();
  Send("EHLO c\r\n");
  Send("AUTH LOGIN\r\n");
  EXPECT_EQ(Send(Base64Encode("ADMIN") + "\r\n"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Send("\r\n"), "501 Authentication failed.\r\n");
  Send("HELO c\r\n");
  EXPECT_EQ(Send("AUTH PLAIN\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(Send("\r\n"), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_EQ(Send("\r\n"), "");  // empty command lines stay ignored
}

TEST(Base64Test, DecodingSkipsForeignCharactersAndStopsAtNul) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("A"), "QQ==");
  EXPECT_EQ(Base64Encode("AB"), "QUI=");
  EXPECT_EQ(Base64Encode("ABC"), "QUJD");
  EXPECT_EQ(Base64Decode("QUJD"), "ABC");
  EXPECT_EQ(Base64Decode("Q U=J\r\nD=="), "ABC");
  EXPECT_EQ(Base64Decode(std::string("QUJD\0RA==", 9)), "ABC");
  EXPECT_EQ(Base64Decode("QQ"), "A");
  EXPECT_EQ(Base64Decode("Q"), "");
  EXPECT_EQ(Base64Decode("!!!!"), "");
  EXPECT_EQ(Base64Decode("AGJvYgBwdw=="), std::string("\0bob\0pw", 7));
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST_F(SmtpSessionTest, RemoteRecipientsNeedLoginAndPermission) {
  Ready();
  EXPECT_EQ(Send("RCPT TO:<x@remote.org>\r\n"), kNotAuth);
  ASSERT_EQ(Send("AUTH PLAIN " + Plain("", "bob", "pw") + "\r\n"),
            "235 Authentication successful.\r\n");
  EXPECT_EQ(Send("RCPT TO:<x@remote.org>\r\n"), kOk);
  // A second HELO ends the login but keeps the envelope.
  EXPECT_EQ(Send("HELO c\r\n"), kOk);
  EXPECT_EQ(s->recipients(), std::vector<std::string>{"<x@remote.org>"});
  EXPECT_EQ(Send("RCPT TO:<y@remote.org>\r\n"), kNotAuth);

  // An account barred from external mail is refused even when logged in.
  ASSERT_EQ(Send("AUTH PLAIN " + Plain("", "nox", "pw") + "\r\n"),
            "235 Authentication successful.\r\n");
  EXPECT_EQ(Send("RCPT TO:<y@remote.org>\r\n"),
            Utf8ToBig5("551 Server deny to relay messages for this account！") + "\r\n");
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"), kOk);

  cfg.auth_remote = 0;
  Ready();
  EXPECT_EQ(Send("RCPT TO:<x@remote.org>\r\n"), kOk);
}

TEST_F(SmtpSessionTest, LocalSendersNeedLoginWhenAuthLocalIsOn) {
  Open();
  Send("EHLO c\r\n");
  EXPECT_EQ(Send("MAIL FROM:<bob@LOCAL.org>\r\n"), kNotAuth);
  EXPECT_EQ(s->sender(), "");
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"), "503 Need MAIL FROM: first\r\n");
  EXPECT_EQ(Send("DATA\r\n"), "503 Need MAIL command\r\n");
  EXPECT_EQ(Send("mail from:  <a@remote.org> SIZE=10 \r\n"), kOk);
  EXPECT_EQ(s->sender(), "<a@remote.org> SIZE=10");
  EXPECT_EQ(Send("DATA\r\n"), "503 Need RCPT command\r\n");
  EXPECT_EQ(Send("MAIL <c@remote.org>\r\n"), kOk);
  EXPECT_EQ(s->sender(), "<c@remote.org>");
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"), kOk);
  EXPECT_EQ(Send("RSET\r\n"), kOk);
  EXPECT_EQ(s->sender(), "");
  EXPECT_TRUE(s->recipients().empty());

  cfg.auth_local = 0;
  Ready("<bob@local.org>");
}

TEST_F(SmtpSessionTest, LocalRecipientsMustBeKnownAndSafe) {
  Ready();
  EXPECT_EQ(Send("RCPT TO:<nobody@local.org>\r\n"), kUnknown);
  EXPECT_EQ(Send("RCPT TO:<BOB@Local.Org>\r\n"), kOk);
  EXPECT_EQ(Send("RCPT <bob@local.org>\r\n"), kOk);
  for (const char* bad : {"<../etc@local.org>", "<queue@local.org>", "<.hidden@local.org>",
                          "<a/b@local.org>", "<ZQueue@local.org>", "<.tmp@local.org>"}) {
    EXPECT_EQ(Send(std::string("RCPT TO:") + bad + "\r\n"), kUnknown) << bad;
  }
  EXPECT_EQ(s->recipients(), (std::vector<std::string>{"<BOB@Local.Org>", "<bob@local.org>"}));

  // A folder without an account is a mailbox; an account whose folder is
  // missing gets it back.
  host.storage.folders.insert("shared");
  EXPECT_EQ(Send("RCPT TO:<Shared@local.org>\r\n"), kOk);
  host.storage.folders.erase("nox");
  EXPECT_EQ(Send("RCPT TO:<nox@local.org>\r\n"), kOk);
  EXPECT_TRUE(host.storage.HasFolder("nox"));

  cfg.catch_all_account = "catch";
  Ready();
  EXPECT_EQ(Send("RCPT TO:<nobody@local.org>\r\n"), kOk);
  EXPECT_EQ(Send("RCPT TO:<../etc@local.org>\r\n"), kUnknown);
  EXPECT_FALSE(host.storage.HasFolder("../etc"));
  EXPECT_FALSE(host.storage.HasFolder("nobody"));
}

TEST_F(SmtpSessionTest, ForwardRulesAddExpandedTargets) {
  cfg.forward_rules = {"bob@local.org|*@remote.org", "bob@local.org|archive@local.org",
                       "bob@local.org|../x@local.org"};
  cfg.auth_forward = 1;
  Ready();
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"), kOk);
  EXPECT_TRUE(
      host.Logged("Forwarding email to: <bob@remote.org>,<archive@local.org>,<../x@local.org>"));
  EXPECT_EQ(s->recipients(), std::vector<std::string>{"<archive@local.org>"});

  cfg.forward_rules = {"bob@local.org|boss@remote.org"};
  Ready();
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"),
            "551 Client was not authenticated to forward mail!\r\n");
  EXPECT_TRUE(s->recipients().empty());

  cfg.auth_forward = 0;
  Ready();
  EXPECT_EQ(Send("RCPT TO:<bob@local.org>\r\n"), kOk);
  EXPECT_EQ(s->recipients(), std::vector<std::string>{"<boss@remote.org>"});
}

TEST_F(SmtpSessionTest, MessageIsStoredWithEnvelopeAndFooter) {
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  int touches = host.touches;
  std::string out = Send("DATA\r\nSubject: t\r\n\r\nHello\r\n..dots\r\n.\r\n");
  EXPECT_EQ(host.touches, touches + 1);  // message data is not a command
  ASSERT_EQ(host.stored.size(), 1u);
  const auto& [name, content] = host.stored[0];
  EXPECT_TRUE(std::regex_match(name, std::regex("[0-9A-F]{32}"))) << name;
  EXPECT_EQ(out, "354 End with <CRLF>.<CRLF>\r\n250 OK: Queued as: " + name + "\r\n");
  EXPECT_TRUE(host.Logged("250 OK: Queued as: " + name));

  const std::string head =
      "x-sender: <a@remote.org>\r\n"
      "x-receiver: <bob@local.org>\r\n"
      "Received: from client.example ([192.0.2.10]) by local.org with Heron Mail Server;\r\n\t";
  ASSERT_EQ(content.substr(0, head.size()), head);
  size_t date_end = content.find("\r\n", head.size());
  ASSERT_NE(date_end, std::string::npos);
  EXPECT_TRUE(std::regex_match(content.substr(head.size(), date_end - head.size()),
                               std::regex("[A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                                          "\\d\\d:\\d\\d:\\d\\d GMT")));
  EXPECT_EQ(content.substr(date_end + 2),
            "Subject: t\r\n\r\nHello\r\n..dots\r\n " + std::string(50, '_') +
                " \r\n Powered By Heron Mail Server \r\n Made In Taiwan\r\n " + kFooterLine2 +
                "\r\n");

  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_EQ(s->sender(), "");
  EXPECT_TRUE(s->recipients().empty());
  EXPECT_EQ(Send("DATA\r\n"), "503 Need MAIL command\r\n");
}

TEST_F(SmtpSessionTest, EndMarkerRules) {
  // Split over chunks, and larger in all than the command line limit.
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  Send("DATA\r\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(std::string(4096, 'x')), "");
  EXPECT_EQ(Send("\r\n."), "");
  EXPECT_TRUE(Queued(Send("\r\n")));
  EXPECT_FALSE(s->ended());

  // The data ends at the first end marker: what follows in the same read
  // are commands, answered at once (a pipelined QUIT does not hang).
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  std::string out = Send("DATA\r\nHello\r\n.\r\nQUIT\r\n");
  ASSERT_EQ(host.stored.size(), 2u);
  EXPECT_EQ(out, "354 End with <CRLF>.<CRLF>\r\n250 OK: Queued as: " + host.stored[1].first +
                     "\r\n221 Bye\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_EQ(host.stored[1].second.find("QUIT"), std::string::npos);
  // Also when the marker is split over reads, and several messages in one.
  Ready();
  Send("RCPT TO:<bob@local.org>\r\nDATA\r\nA\r");
  EXPECT_EQ(Send("\n."), "");
  EXPECT_TRUE(Queued(Send("\r\n")));
  std::string two =
      Send("MAIL FROM:<a@remote.org>\r\nRCPT TO:<bob@local.org>\r\nDATA\r\nB\r\n.\r\nNOOP\r\n");
  ASSERT_EQ(host.stored.size(), 4u);
  EXPECT_TRUE(two.ends_with("250 OK: Queued as: " + host.stored[3].first + "\r\n250 OK\r\n"));
  EXPECT_NE(host.stored[3].second.find("\r\nB\r\n"), std::string::npos);
  EXPECT_EQ(host.stored[3].second.find("NOOP"), std::string::npos);
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);

  // A lone "." right after the DATA line is an empty message.
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  EXPECT_EQ(Send("DATA\r\n"), "354 End with <CRLF>.<CRLF>\r\n");
  EXPECT_TRUE(Queued(Send(".\r\n")));
  ASSERT_EQ(host.stored.size(), 5u);
  const std::string& empty = host.stored[4].second;
  EXPECT_EQ(empty.substr(empty.size() - 5), "GMT\r\n");
}

TEST_F(SmtpSessionTest, SizeLimitRefusesAndEnds) {
  cfg.max_message_size = 1;
  const std::string chunk(4096, 'a');
  // Exactly 1 MB, end marker included, is accepted.
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  Send("DATA\r\n");
  for (int i = 0; i < 255; ++i) ASSERT_EQ(Send(chunk), "");
  EXPECT_TRUE(Queued(Send(chunk.substr(5) + "\r\n.\r\n")));
  ASSERT_EQ(host.stored.size(), 1u);

  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  Send("DATA\r\n");
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Send(chunk), "");
  EXPECT_EQ(Send("a"),
            "523 Message length exceeds limit. Mail messages are limited to 1 MB in size, "
            "including attachments.\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_EQ(s->sender(), "");
  EXPECT_TRUE(s->recipients().empty());
  EXPECT_EQ(Send("\r\n.\r\n"), "");
  EXPECT_EQ(host.stored.size(), 1u);
}

TEST_F(SmtpSessionTest, FailedStoreIsNotAcknowledged) {
  host.fail_store = true;
  Ready();
  Send("RCPT TO:<bob@local.org>\r\n");
  EXPECT_EQ(Send("DATA\r\nHi\r\n.\r\n"),
            "354 End with <CRLF>.<CRLF>\r\n451 Requested action aborted: local error in "
            "processing\r\n");
  EXPECT_TRUE(host.stored.empty());
  EXPECT_FALSE(s->ended());
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_EQ(s->sender(), "");
}

TEST_F(SmtpSessionTest, SpamMarkTagsEveryLaterMessage) {
  Ready();
  s->set_spam_mark();
  for (int i = 0; i < 2; ++i) {
    if (i == 1) {
      ASSERT_EQ(Send("MAIL FROM:<a@remote.org>\r\n"), kOk);
    }
    Send("RCPT TO:<bob@local.org>\r\n");
    Send("DATA\r\nSubject: hi\r\n\r\nbody\r\n.\r\n");
    ASSERT_EQ(host.stored.size(), i + 1u);
    EXPECT_NE(host.stored[i].second.find("\r\nSubject: [--SPAM--] hi\r\n"), std::string::npos);
  }
  EXPECT_TRUE(host.Logged(Utf8ToBig5("標示為垃圾郵件，主旨加註 [--SPAM--] ")));
}

TEST_F(SmtpSessionTest, HostileInputEndsCleanly) {
  Open();
  Send("EHLO c\r\n");
  EXPECT_EQ(Send(std::string("NO\0OP\xff\xfe\r\n", 9)), "500 Command not implemented.\r\n");
  // A NUL, CR or LF in an envelope argument would forge envelope lines.
  const std::string kSyntax = "501 Syntax error in parameters or arguments\r\n";
  EXPECT_EQ(Send(std::string("MAIL FROM:<\0\x80@x.org>\r\n", 22)), kSyntax);
  EXPECT_EQ(Send("MAIL FROM:<a@x.org>\nx-receiver: <v@far.net>\r\n"), kSyntax);
  EXPECT_EQ(Send("HELO a\rb\r\n"), kSyntax);
  EXPECT_EQ(Send("MAIL FROM:<\x80@x.org>\r\n"), kOk);
  EXPECT_EQ(Send("RCPT TO:<a@local.org>\rx\r\n"), kSyntax);
  EXPECT_EQ(Send("RCPT TO:<\xff\xfe@local.org>\r\n"), kUnknown);
  EXPECT_EQ(Send(std::string("AUTH PLAIN \x01\x80\0\r\n", 16)), "501 Authentication failed.\r\n");

  // 8192 pending bytes are allowed; one more ends the session silently.
  Send(std::string(4096, 'x'));
  EXPECT_EQ(Send(std::string(4096, 'x')), "");
  EXPECT_FALSE(s->ended());
  EXPECT_EQ(Send("\r"), "");
  EXPECT_TRUE(s->ended());
  EXPECT_EQ(host.logs.back(), "Buffer overflow");
}

TEST_F(SmtpSessionTest, ThousandsOfRecipients) {
  cfg.auth_remote = 0;
  Ready();
  const int n = 5000;
  std::string out, chunk;
  for (int i = 0; i < n; ++i) {
    std::string line = StrPrintf("RCPT TO:<u%d@remote.org>\r\n", i);
    if (chunk.size() + line.size() > CSmtpSocket::kReadSize) out += Send(std::exchange(chunk, ""));
    chunk += line;
  }
  out += Send(chunk);
  std::string expected;
  for (int i = 0; i < n; ++i) expected += kOk;
  EXPECT_EQ(out, expected);
  ASSERT_EQ(s->recipients().size(), static_cast<size_t>(n));
  Send("DATA\r\nx\r\n.\r\n");
  ASSERT_EQ(host.stored.size(), 1u);
  EXPECT_NE(host.stored[0].second.find("x-receiver: <u4999@remote.org>\r\nReceived: "),
            std::string::npos);
}

// An account without a password (the fresh admin) never logs in, by any
// door: AUTH LOGIN, AUTH PLAIN, CPWD's old password, ADMN.
TEST_F(SmtpSessionTest, AnEmptyPasswordNeverAuthenticates) {
  ASSERT_TRUE(host.accounts().SetPassword("admin", ""));
  cfg.manage_remote = 1;
  Open();
  Send("EHLO c\r\n");
  Send("AUTH LOGIN " + Base64Encode("admin") + "\r\n");
  EXPECT_EQ(Send("\r\n"), "501 Authentication failed.\r\n");
  EXPECT_EQ(Send("AUTH PLAIN " + Plain("", "admin", "") + "\r\n"),
            "501 Authentication failed.\r\n");
  EXPECT_FALSE(s->authenticated());
  Send("CPWD\r\n");
  Send(Base64Encode("admin") + "\r\n");
  EXPECT_EQ(Send("\r\n"), "501 Authentication failed.\r\n");
  Send("ADMN\r\n");
  EXPECT_EQ(Send("\r\n"), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
}

// The screening at MAIL in its order: block mode refuses with the exact
// replies, filter mode marks; caches spare lookups; private, safe and
// authenticated clients skip the address tests.
TEST_F(SmtpSessionTest, ScreeningAtMail) {
  const std::string kMail = "MAIL FROM:<a@remote.org>\r\n";
  cfg.block_mail_from = {"*@junk.example"};
  Open("192.0.2.10");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send(kMail), kOk);
  EXPECT_EQ(host.queries, std::vector<std::string>{"10.2.0.192.zen.spamhaus.org"});
  EXPECT_TRUE(host.passed_cache.Contains("192.0.2.10"));
  EXPECT_EQ(Send("MAIL FROM:<x@junk.example>\r\n"),
            "550 Sender was blocked by Heron Mail Server!\r\n");
  EXPECT_EQ(s->sender(), "");
  EXPECT_EQ(host.queries.size(), 1u);  // passed: no second lookup

  host.listed = true;
  Open("192.0.2.11");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send(kMail),
            "550 We generally do not accept email from IPs if they were identified by "
            "https://www.spamhaus.org/\r\n");
  EXPECT_TRUE(s->spam_mark());
  EXPECT_EQ(Send(kMail),
            "551 Connection denied: IP address was listed on Spam Mail Blacklist.\r\n");
  host.listed = false;
  host.reverse = {true, true, "nodot"};
  Open("192.0.2.12");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send(kMail),
            "550 Sender verify failed, smtp relay was rejected by Heron Mail Server!\r\n");

  // Filter mode: all pass, marked, and the subject is tagged.
  cfg.filter_mode = 1;
  cfg.block_dyn_ip = 0;
  host.listed = true;
  Open("192.0.2.13");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send("MAIL FROM:<x@junk.example>\r\n"), kOk);
  EXPECT_EQ(host.queries.back(), "13.2.0.192.sbl-xbl.spamhaus.org");
  EXPECT_TRUE(s->spam_mark());
  Send("RCPT TO:<bob@local.org>\r\nDATA\r\nSubject: hi\r\n\r\nx\r\n.\r\n");
  EXPECT_NE(host.stored.back().second.find("Subject: [--SPAM--] hi"), std::string::npos);

  // Private and authenticated clients are never looked up; patterns still
  // apply to the private one. IpCacheSize 0: no cache, a lookup each time.
  cfg.filter_mode = 0;
  size_t lookups = host.queries.size();
  Open("192.168.1.5");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send("MAIL FROM:<x@junk.example>\r\n"),
            "550 Sender was blocked by Heron Mail Server!\r\n");
  Open("192.0.2.14");
  Send("EHLO c\r\nAUTH PLAIN " + Plain("", "bob", "pw") + "\r\n");
  EXPECT_EQ(Send("MAIL FROM:<x@junk.example>\r\n"), kOk);
  EXPECT_EQ(host.queries.size(), lookups);
  cfg.ip_cache_size = host.cache_size = 0;
  host.listed = false;
  host.reverse = {true, true, "ok.example.org"};
  for (int i = 0; i < 2; ++i) {
    Open("192.0.2.15");
    Send("EHLO c\r\n");
    EXPECT_EQ(Send(kMail), kOk);
  }
  EXPECT_EQ(host.queries.size(), lookups + 2);
  EXPECT_EQ(host.passed_cache.size(), 0u);
}

TEST(AccountListReplyTest, HasExactBytes) {
  std::vector<CUserAccount> list{{"admin", "Administrator", "", 0}};
  EXPECT_EQ(AccountListReply(list), "250-User Accounts:\r\n" +
                                        Utf8ToBig5("250-帳號：[ admin ]  全名:Administrator\r\n") +
                                        "250 OK");
  list.push_back({"carol", "", "pw", 0});
  EXPECT_EQ(AccountListReply(list), "250-User Accounts:\r\n" +
                                        Utf8ToBig5("250-帳號：[ admin ]  全名:Administrator\r\n") +
                                        Utf8ToBig5("250-帳號：[ carol ]\r\n") + "250 OK");
}

// The administrative dialogues; every answer is Base64.
class SmtpAdminTest : public SmtpSessionTest {
 protected:
  SmtpAdminTest() { cfg.manage_remote = 1; }
  std::string Answer(const std::string& text) { return Send(Base64Encode(text) + "\r\n"); }
  // ADMN with the admin password, then a task word.
  std::string Task(const std::string& task) {
    EXPECT_EQ(Send("ADMN\r\n"), "334 UGFzc3dvcmQ6\r\n");
    EXPECT_EQ(Answer("adminpw"), "334 TASK\r\n");
    return Answer(task);
  }
  void Greeted() {
    Open();
    Send("HELO x\r\n");
  }
};

TEST_F(SmtpAdminTest, CommandsNeedTheirSwitches) {
  cfg.manage_remote = 0;
  cfg.cpwd_remote = 0;
  Greeted();
  EXPECT_EQ(Send("ADMN\r\n"), "500 Command not implemented.\r\n");
  EXPECT_EQ(Send("CPWD\r\n"), "500 Command not implemented.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  Open();
  EXPECT_EQ(Send("ADMN\r\n"), "503 Bad sequence of commands (given out of order)\r\n");
}

TEST_F(SmtpAdminTest, AdminPasswordAndTaskWords) {
  Greeted();
  EXPECT_EQ(Send("ADMN\r\n"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Answer("wrong"), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  EXPECT_EQ(Task("qusr"), "500 Command not implemented.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAdmnTask);
  EXPECT_EQ(Answer("NONE"), kOk);
  EXPECT_EQ(Task("QUSR"),
            "250-User Accounts:\r\n" + Utf8ToBig5("250-帳號：[ admin ]  全名:Administrator\r\n") +
                Utf8ToBig5("250-帳號：[ bob ]\r\n250-帳號：[ nox ]\r\n") + "250 OK\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  // Passwords never reach the log; other answers do, as received.
  EXPECT_TRUE(host.Logged("****"));
  EXPECT_FALSE(host.LogContains(Base64Encode("wrong")));
  // Answer lines are logged like command lines: the word upper-cased.
  EXPECT_TRUE(host.LogContains(ToUpperAscii(Base64Encode("QUSR"))));
}

TEST_F(SmtpAdminTest, AccountTasks) {
  Greeted();
  EXPECT_EQ(Task("AUSR"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(Answer("Bob"), "334 UGFzc3dvcmQ6\r\n");
  // An existing name keeps the dialogue on the password.
  EXPECT_EQ(Answer("x"), "501 Fail to add account!\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kAdmnAddPassword);
  Open();
  Send("HELO x\r\n");
  Task("AUSR");
  Answer("carol");
  EXPECT_EQ(Answer("pw2"), "250 A new user account is created!\r\n");
  EXPECT_TRUE(host.accounts().CheckPassword("CAROL", "PW2"));
  Task("DUSR");
  EXPECT_EQ(Answer("nobody"), "250 A user account is deleted!\r\n");
  Task("DUSR");
  EXPECT_EQ(Answer("carol"), "250 A user account is deleted!\r\n");
  EXPECT_FALSE(host.accounts().Exists("carol"));
  Task("EUSR");
  Answer("ghost");
  EXPECT_EQ(Answer("pw"), "501 Fail to change user's password!\r\n");
  Task("EUSR");
  Answer("bob");
  EXPECT_EQ(Answer("new"), "250 Password Changed!\r\n");
  EXPECT_TRUE(host.accounts().CheckPassword("bob", "new"));
  Task("APWD");
  EXPECT_EQ(Answer("root"), kOk);
  EXPECT_TRUE(host.accounts().CheckPassword("admin", "root"));
}

TEST_F(SmtpAdminTest, UnsafeOrUnstorableAccountsAreRefused) {
  Greeted();
  Task("AUSR");
  Answer("../etc");
  EXPECT_EQ(Answer("x"), "501 Fail to add account!\r\n");
  // Nor may an account be named like one of the service's folders.
  for (const char* folder : {"zqueue", "Drop", ".tmp"}) {
    Open();
    Send("HELO x\r\n");
    Task("AUSR");
    Answer(folder);
    EXPECT_EQ(Answer("x"), "501 Fail to add account!\r\n") << folder;
    EXPECT_FALSE(host.accounts().Exists(folder)) << folder;
  }
  // A list too long to store is a failure, not a success.
  Open();
  Send("HELO x\r\n");
  Task("AUSR");
  Answer("big");
  EXPECT_EQ(Answer(std::string(4090, 'p')), "501 Fail to add account!\r\n");
  EXPECT_FALSE(host.accounts().Exists("big"));
  Open();
  Send("HELO x\r\n");
  EXPECT_EQ(Send("CPWD\r\n"), "334 VXNlcm5hbWU6\r\n");
  Answer("bob");
  Answer("pw");
  EXPECT_EQ(Answer(std::string(4090, 'p')), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kCpwdNew);
  EXPECT_TRUE(host.accounts().CheckPassword("bob", "pw"));
}

TEST_F(SmtpAdminTest, ChangePassword) {
  Greeted();
  EXPECT_EQ(Send("CPWD\r\n"), "334 VXNlcm5hbWU6\r\n");
  EXPECT_EQ(Answer("BOB"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Answer("bad"), "501 Authentication failed.\r\n");
  EXPECT_EQ(s->state(), CSmtpSocket::kReady);
  Send("CPWD\r\n");
  Answer("bob");
  EXPECT_EQ(Answer("PW"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Answer("fresh"), kOk);
  Send("AUTH LOGIN " + Base64Encode("bob") + "\r\n");
  EXPECT_EQ(Answer("fresh"), "235 Authentication successful.\r\n");
  EXPECT_FALSE(host.LogContains(Base64Encode("fresh")));
}

TEST_F(SmtpAdminTest, MailTheTraceLog) {
  std::string log = "[1]partial line\r\n..first\r\n.\r\nmiddle\r\n.\r\nlast\r\n";
  host.log = log;
  Greeted();
  EXPECT_EQ(Task("VLOG"), "334 UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(Answer("ops@far.net"), "250 Log Sent!\r\n");
  ASSERT_EQ(host.stored.size(), 1u);
  const std::string& c = host.stored[0].second;
  EXPECT_EQ(c.rfind("x-sender: <admin@local.org>\r\nx-receiver: ops@far.net\r\nReceived: from "
                    "mx.local.org ([192.0.2.10]) by local.org with Heron Mail Server;\r\n\t",
                    0),
            0u);
  EXPECT_NE(c.find("\r\nFrom: <admin@local.org>\r\nTo: <ops@far.net>\r\n" +
                   Utf8ToBig5("Subject: 系統紀錄") + "\r\nDate: "),
            std::string::npos);
  // The partial first line and the leading dots go; lone dots are doubled.
  std::string expected_text = "first\r\n..\r\nmiddle\r\n..\r\nlast\r\n";
  EXPECT_TRUE(c.ends_with("\r\n\r\n" + expected_text + "\r\n\r\n.")) << c;

  // An address that would add envelope lines is refused.
  Task("VLOG");
  EXPECT_EQ(Answer("a@b.org\r\nx-receiver: v@far.net"),
            "501 Syntax error in parameters or arguments\r\n");
  EXPECT_EQ(host.stored.size(), 1u);

  // Without a local domain nothing is written.
  cfg.domains.clear();
  Greeted();
  Task("VLOG");
  EXPECT_EQ(Answer("ops@far.net"), "550 No local domain configured\r\n");
  EXPECT_EQ(host.stored.size(), 1u);
}

TEST_F(SmtpSessionTest, PerAddressCapAndGuardedAuth) {
  cfg.max_connections_per_ip = 3;
  EXPECT_EQ(Open("192.0.2.10", 5, 3), "421 Service not available. Too many users!\r\n");
  ASSERT_TRUE(host.accounts().SetPassword("admin", "root"));
  LoginGuard guard;
  host.guard = &guard;
  cfg.robot_protected = 1;
  const std::string wrong = "AUTH PLAIN " + Base64Encode(std::string("\0admin\0x", 8)) + "\r\n";
  const std::string right = "AUTH PLAIN " + Base64Encode(std::string("\0admin\0root", 11)) + "\r\n";
  Open("192.0.2.10");
  Send("EHLO c\r\n");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Send(wrong), "501 Authentication failed.\r\n");
  EXPECT_EQ(Send(right), "501 Authentication failed.\r\n");
  Open("192.0.2.99");
  Send("EHLO c\r\n");
  EXPECT_EQ(Send(right), "235 Authentication successful.\r\n");
}

TEST_F(SmtpSessionTest, StartTlsOfferRequirementAndFreshStart) {
  const std::string with_auth =
      "250-Supported extensions:\r\n250-AUTH PLAIN LOGIN\r\n250-VRFY\r\n250 OK\r\n";
  const std::string must_tls = "530 Must issue a STARTTLS command first\r\n";
  const std::string login = "AUTH PLAIN " + Plain("", "bob", "pw") + "\r\n";
  const std::string ok_login = "235 Authentication successful.\r\n";
  cfg.manage_remote = 1;
  tls = {true, true, false};
  // Offered and required: from the network, no password dialogue in clear.
  Open("192.0.2.10");
  EXPECT_EQ(Send("EHLO c\r\n"),
            "250-Supported extensions:\r\n250-VRFY\r\n250-STARTTLS\r\n250 OK\r\n");
  for (const char* cmd : {"AUTH LOGIN\r\n", "AUTH=LOGIN\r\n", "CPWD\r\n", "ADMN\r\n"}) {
    EXPECT_EQ(Send(cmd), must_tls) << cmd;
  }
  EXPECT_EQ(Send(login), must_tls);
  EXPECT_EQ(Send("STARTTLS now\r\n"), "501 Syntax error (no parameters allowed)\r\n");
  EXPECT_FALSE(s->TakeTlsRequest());
  // Commands sent in clear behind STARTTLS are dropped, never run later.
  EXPECT_EQ(Send("MAIL FROM:<a@remote.org>\r\nSTARTTLS\r\nRSET\r\nNOOP\r\n"),
            kOk + "220 Ready to start TLS\r\n");
  EXPECT_TRUE(s->TakeTlsRequest());
  EXPECT_FALSE(s->TakeTlsRequest());
  s->TlsStarted();
  EXPECT_TRUE(s->tls_active());
  EXPECT_EQ(s->TakeOutput(), "");
  EXPECT_TRUE(s->sender().empty());
  EXPECT_EQ(Send("MAIL FROM:<a@remote.org>\r\n"),
            "503 Bad sequence of commands (given out of order)\r\n");
  EXPECT_EQ(Send("EHLO c\r\n"), with_auth);
  EXPECT_EQ(Send("STARTTLS\r\n"), "503 TLS already active\r\n");
  EXPECT_EQ(Send(login), ok_login);

  // Clients on this machine, or TlsRequired off: logins in clear as before.
  for (auto [ip, required] : {std::pair{"127.0.0.5", true}, {"::1", true}, {"192.0.2.10", false}}) {
    tls = {true, required, false};
    Open(ip);
    EXPECT_EQ(Send("EHLO c\r\n"),
              "250-Supported extensions:\r\n250-AUTH PLAIN LOGIN\r\n250-VRFY\r\n"
              "250-STARTTLS\r\n250 OK\r\n")
        << ip;
    EXPECT_EQ(Send(login), ok_login) << ip;
  }
  // Encrypted from the first byte: nothing to start, logins allowed.
  tls = {true, true, true};
  Open("192.0.2.10");
  EXPECT_EQ(Send("EHLO c\r\n"), with_auth);
  EXPECT_EQ(Send(login), ok_login);
}

}  // namespace
}  // namespace heron
