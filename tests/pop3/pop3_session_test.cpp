#include "pop3/pop3_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "platform/text.h"
#include "service/login_guard.h"
#include "service/message_file.h"

namespace heron {
namespace {

// Records what the session hands to its thread; accounts are checked like the
// real store (name and password without regard to case), mailboxes are kept
// in memory and found without regard to case like the real folders.
class FakeHost : public Pop3SessionHost {
 public:
  void Log(const std::string& text) override { logs.push_back(text); }
  void Touch() override { ++touches; }
  bool CheckPassword(const std::string& user, const std::string& password) override {
    if (accept_all) return true;
    for (const auto& [name, pw] : accounts) {
      if (EqualsNoCase(name, user) && EqualsNoCase(pw, password)) return true;
    }
    return false;
  }
  std::vector<MailboxFile> ListMailbox(const std::string& user) override {
    listed.push_back(user);
    std::vector<MailboxFile> out;
    for (const auto& [path, content] : files) {
      std::string box = path.substr(0, path.rfind('/'));
      if (EqualsNoCase(box, "/Mail/" + user)) out.push_back({path, content.size()});
    }
    return out;
  }
  bool ReadMessage(const std::string& path, std::string& content) override {
    auto it = files.find(path);
    if (it == files.end() || unreadable.count(path)) return false;
    content = it->second;
    return true;
  }
  bool DeleteMessage(const std::string& path) override { return files.erase(path) == 1; }
  LoginGuard* logins() override { return guard; }
  LoginGuard* guard = nullptr;
  size_t ReceiverBytes(const std::string& path) override {
    auto it = files.find(path);
    return it == files.end() ? 0 : ReceiverLineBytes(it->second);
  }
  bool Has(const std::string& path) const { return files.count(path) == 1; }
  // Position of a log line, or -1.
  int LogIndex(const std::string& text) const {
    auto it = std::find(logs.begin(), logs.end(), text);
    return it == logs.end() ? -1 : static_cast<int>(it - logs.begin());
  }
  bool Logged(const std::string& text) const { return LogIndex(text) >= 0; }
  bool LogContains(const std::string& part) const {
    return std::any_of(logs.begin(), logs.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  std::vector<std::pair<std::string, std::string>> accounts{{"admin", ""}, {"bob", "pw"}};
  bool accept_all = false;
  std::map<std::string, std::string> files;  // path "/Mail/<box>/<name>" -> content
  std::set<std::string> unreadable;
  std::vector<std::string> listed;  // mailboxes asked for
  std::vector<std::string> logs;
  int touches = 0;
};

const std::string kNotValid = "-ERR Command not valid in this state\r\n";
const std::string kNoSuch = "-ERR no such message\r\n";
const std::string kAuthOk = "+OK authentication successful\r\n";
const std::string kLoginFailed = "-ERR login failed\r\n";

class Pop3SessionTest : public ::testing::Test {
 protected:
  // Puts one message file into a mailbox; returns its path.
  std::string Put(const std::string& box, const std::string& name, const std::string& content) {
    std::string path = "/Mail/" + box + "/" + name;
    host.files[path] = content;
    return path;
  }
  std::string Open(const std::string& ip = "192.0.2.10", int count = 1, int same_address = 0) {
    s = std::make_unique<CPop3Socket>(cfg, ip, host);
    s->Start(count, same_address);
    return s->TakeOutput();
  }
  std::string Send(const std::string& bytes) {
    s->Receive(bytes);
    return s->TakeOutput();
  }
  void Login(const std::string& user = "admin", const std::string& pw = "") {
    Open();
    ASSERT_EQ(Send("USER " + user + "\r\n"), "+OK\r\n");
    ASSERT_EQ(Send("PASS " + pw + "\r\n"), kAuthOk);
  }
  // The message number of a file in the scanned mailbox (the file system
  // decides the order), as text for commands and replies.
  std::string Num(const std::string& file) const {
    const auto& box = s->mailbox();
    for (size_t i = 0; i < box.size(); ++i) {
      if (box[i].path.ends_with("/" + file)) {
        return std::to_string(i + 1);
      }
    }
    ADD_FAILURE() << file << " not in the mailbox";
    return "0";
  }

  FakeHost host;
  CPop3Socket::Config cfg;
  std::unique_ptr<CPop3Socket> s;
};

TEST_F(Pop3SessionTest, GreetingConnectionLimitAndAddressFilter) {
  EXPECT_EQ(Open(), "+OK Heron Mail Server ready\r\n");
  EXPECT_EQ(s->state(), CPop3Socket::kAuthorization);
  EXPECT_FALSE(s->ended());

  cfg.connections_limit = 3;
  EXPECT_EQ(Open("192.0.2.10", 3), "+OK Heron Mail Server ready\r\n");
  EXPECT_EQ(Open("192.0.2.10", 4), "-ERR too many users\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_TRUE(host.Logged(Utf8ToBig5("拒絕連線：超過連線數限制！")));
  EXPECT_EQ(Send("USER admin\r\n"), "");

  cfg.ip_filter = {"192.0.2.*"};
  EXPECT_EQ(Open("192.0.2.10"), "-ERR forbidden\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_TRUE(host.Logged(Utf8ToBig5("拒絕連線：IP位址已被伺服器封鎖！")));
  EXPECT_EQ(Send("CAPA\r\n"), "");
  EXPECT_EQ(Open("198.51.100.1"), "+OK Heron Mail Server ready\r\n");
}

TEST_F(Pop3SessionTest, AuthorizationStateAndLogging) {
  Open();
  EXPECT_EQ(Send("PASS pw\r\n"), kNotValid);
  for (const char* cmd :
       {"STAT", "LIST", "UIDL 1", "RETR 1", "TOP 1 0", "DELE 1", "LAST", "RSET", "NOOP", "FOO"}) {
    EXPECT_EQ(Send(std::string(cmd) + "\r\n"), kNotValid) << cmd;
  }
  EXPECT_EQ(Send("capa\r\n"), "+OK Capability list follows\r\nTOP\r\nUSER\r\nUIDL\r\n.\r\n");
  EXPECT_EQ(Send("user bob\r\n"), "+OK\r\n");
  EXPECT_EQ(Send("pass Secret\r\n"), kLoginFailed);
  EXPECT_EQ(s->state(), CPop3Socket::kAuthorization);
  // The user name stays set after a failed PASS.
  EXPECT_EQ(Send("pass PW\r\n"), kAuthOk);
  EXPECT_EQ(s->state(), CPop3Socket::kTransaction);
  EXPECT_EQ(Send("stat\r\n"), "+OK 0 0\r\n");  // no folder: an empty mailbox

  EXPECT_TRUE(host.Logged("USER bob"));
  EXPECT_TRUE(host.Logged("CAPA "));
  EXPECT_TRUE(host.Logged("PASS ****"));
  EXPECT_TRUE(host.Logged("+OK authentication successful"));
  EXPECT_FALSE(host.LogContains("Secret"));
  EXPECT_FALSE(host.LogContains("PW"));
  EXPECT_EQ(host.touches, 16);
  for (const char* form : {"PASS\tSecret2", "  pass Secret2", "\tPaSs Secret2"}) {
    Send(std::string(form) + "\r\n");
  }
  EXPECT_FALSE(host.LogContains("Secret2"));
}

TEST_F(Pop3SessionTest, LineSplittingOverflowAndOddBytes) {
  Open();
  EXPECT_EQ(Send("US"), "");
  EXPECT_EQ(Send("ER admin\r"), "");
  EXPECT_EQ(Send("\nPASS \r\n\r\nNOOP\r\nnoop\r\n"), "+OK\r\n" + kAuthOk + "+OK\r\n+OK\r\n");
  const std::string kUnknown = "-ERR Command not implemented.\r\n";
  EXPECT_EQ(Send("NOOP\nNOOP\r\n"), kUnknown);  // a bare LF does not end a line
  for (const char* cmd : {"FOO", "APOP admin x", "AUTH PLAIN", "STLS", " "}) {
    EXPECT_EQ(Send(std::string(cmd) + "\r\n"), kUnknown) << cmd;
  }
  EXPECT_EQ(Send(std::string("NO\0OP\r\n", 7)), kUnknown);
  EXPECT_EQ(Send("\xA4\xA4\xFF \x80\xFE\r\n"), kUnknown);
  EXPECT_EQ(Send(std::string("RETR \xFF\0\r\n", 9)), kNoSuch);

  // 8192 pending bytes are kept; one more byte ends the session.
  EXPECT_EQ(Send(std::string(8190, 'x') + "\r\n"), kUnknown);
  EXPECT_EQ(Send(std::string(8192, 'x')), "");
  EXPECT_FALSE(s->ended());
  EXPECT_FALSE(host.Logged(Utf8ToBig5("緩衝區溢位！")));
  EXPECT_EQ(Send("\r"), "");
  EXPECT_TRUE(s->ended());
  EXPECT_TRUE(host.Logged(Utf8ToBig5("緩衝區溢位！")));
  EXPECT_EQ(Send("NOOP\r\n"), "");

  Open();
  EXPECT_EQ(Send(std::string(8193, 'y')), "");
  EXPECT_TRUE(s->ended());
}

TEST_F(Pop3SessionTest, UnsafeUserNamesNeverLogIn) {
  host.accept_all = true;
  std::string outside = Put("../x", "m.eml", "secret\r\n");
  Put("queue", "q.eml", "queued\r\n");
  for (const std::string name : {"../x", ".x", "..", "a/b", "queue", "QUEUE", "Drop", "badmail",
                                 "zqueue", ".tmp", "a\tb", "a\x01"}) {
    Open();
    EXPECT_EQ(Send("USER " + name + "\r\n"), "+OK\r\n");
    EXPECT_EQ(Send("PASS pw\r\n"), kLoginFailed) << name;
    EXPECT_EQ(s->state(), CPop3Socket::kAuthorization) << name;
  }
  Open();
  Send(std::string("USER a\0b\r\n", 10));
  EXPECT_EQ(Send("PASS pw\r\n"), kLoginFailed);
  EXPECT_TRUE(host.Has(outside));
  EXPECT_TRUE(host.listed.empty());  // never looked for
}

TEST_F(Pop3SessionTest, MailboxFolderFoundWithoutRegardToCase) {
  std::string path = Put("admin", "m1.eml", "hello\r\n");
  Login("ADMIN");
  EXPECT_EQ(Send("STAT\r\n"), "+OK 1 7\r\n");
  ASSERT_EQ(s->mailbox().size(), 1u);
  EXPECT_EQ(s->mailbox()[0].path, path);
}

TEST_F(Pop3SessionTest, StatListUidlDeleAndRset) {
  Put("admin", "0123ABCD.eml", std::string(100, 'a'));
  Put("admin", "9F9F", std::string(200, 'b'));  // no extension
  Put("admin/sub", "inner.eml", "folders are not messages");
  Login();
  ASSERT_EQ(s->mailbox().size(), 2u);
  std::string a = Num("0123ABCD.eml"), b = Num("9F9F");
  EXPECT_EQ(Send("STAT\r\n"), "+OK 2 300\r\n");
  std::string list = a == "1" ? "1 100\r\n2 200\r\n" : "1 200\r\n2 100\r\n";
  std::string uidl = a == "1" ? "1 0123ABCD\r\n2 9F9F\r\n" : "1 9F9F\r\n2 0123ABCD\r\n";
  EXPECT_EQ(Send("LIST\r\n"), "+OK scan listing follows\r\n" + list + ".\r\n");
  EXPECT_EQ(Send("UIDL\r\n"), "+OK unique-id listing follows\r\n" + uidl + ".\r\n");

  EXPECT_EQ(Send("DELE " + a + "\r\n"), "+OK message " + a + " marked as deleted\r\n");
  EXPECT_EQ(Send("DELE " + a + "\r\n"), "-ERR message " + a + " already deleted\r\n");
  EXPECT_EQ(Send("STAT\r\n"), "+OK 1 200\r\n");
  EXPECT_EQ(Send("LIST\r\n"), "+OK scan listing follows\r\n" + b + " 200\r\n.\r\n");
  EXPECT_EQ(Send("UIDL\r\n"), "+OK unique-id listing follows\r\n" + b + " 9F9F\r\n.\r\n");
  for (const char* cmd : {"LIST ", "UIDL ", "RETR "}) {
    EXPECT_EQ(Send(cmd + a + "\r\n"), "-ERR message " + a + " is marked as del\r\n") << cmd;
  }
  EXPECT_EQ(Send("TOP " + a + " 0\r\n"), "-ERR message " + a + " is marked as del\r\n");
  EXPECT_EQ(Send("LIST " + b + "\r\n"), "+OK " + b + " 200\r\n");
  EXPECT_EQ(Send("UIDL " + b + "\r\n"), "+OK " + b + " 9F9F\r\n");

  EXPECT_EQ(Send("RSET\r\n"), "+OK\r\n");
  EXPECT_EQ(Send("STAT\r\n"), "+OK 2 300\r\n");
  EXPECT_EQ(Send("LIST\r\n"), "+OK scan listing follows\r\n" + list + ".\r\n");
  EXPECT_EQ(Send("LIST " + a + "\r\n"), "+OK " + a + " 100\r\n");
}

TEST_F(Pop3SessionTest, BadMessageNumbers) {
  Put("admin", "m1.eml", "one\r\n");
  Put("admin", "m2.eml", "two\r\n");
  Login();
  for (const char* cmd : {"LIST", "UIDL", "RETR", "DELE", "TOP"}) {
    for (const char* n :
         {"0", "-1", "3", "2147483648", "99999999999999999999", "-2147483649", "abc", " "}) {
      std::string line = std::string(cmd) + " " + n + (std::string(cmd) == "TOP" ? " 1" : "");
      EXPECT_EQ(Send(line + "\r\n"), kNoSuch) << line;
    }
  }
  EXPECT_EQ(Send("TOP 1\r\n"), kNoSuch);  // without a second number n is 0
  // Numbers are read as atoi reads them.
  EXPECT_EQ(Send("LIST +1\r\n"), "+OK 1 5\r\n");
  EXPECT_EQ(Send("LIST 2nd\r\n"), "+OK 2 5\r\n");
  EXPECT_EQ(Send("STAT\r\n"), "+OK 2 10\r\n");
}

TEST_F(Pop3SessionTest, LastTracksHighestRetrieved) {
  for (const char* name : {"a.eml", "b.eml", "c.eml"}) Put("admin", name, "x\r\n");
  Login();
  // Nothing retrieved yet: 0, so a client that asks LAST fetches message 1.
  EXPECT_EQ(Send("LAST\r\n"), "+OK 0\r\n");
  Send("RETR 1\r\n");
  EXPECT_EQ(Send("LAST\r\n"), "+OK 1\r\n");
  Send("RETR 3\r\n");
  EXPECT_EQ(Send("LAST\r\n"), "+OK 3\r\n");
  Send("RETR 2\r\nTOP 3 0\r\n");
  EXPECT_EQ(Send("LAST\r\n"), "+OK 3\r\n");
  EXPECT_EQ(Send("RSET\r\nLAST\r\n"), "+OK\r\n+OK 0\r\n");
  EXPECT_EQ(Send("TOP 3 5\r\nLAST\r\n"), "+OK\r\nx\r\n.\r\n+OK 0\r\n");
}

TEST_F(Pop3SessionTest, RetrSendsTheFileTrimmed) {
  struct Case {
    const char* name;
    std::string content;
    std::string body;
  };
  const Case cases[] = {
      {"plain.eml", "From: a\r\n\r\nHi\r\n", "From: a\r\n\r\nHi"},
      {"dot.eml", "Body\r\nends here.\r\n \t\r\n", "Body\r\nends here"},
      {"dots.eml", "x\r\n...\r\n", "x\r\n"},
      {"nul.eml", std::string("head\r\nbody\0tail\r\n", 17), "head\r\nbody"},
      {"pct.eml", "100% %s %d %n\r\n", "100% %s %d %n"},
      {"empty.eml", "", ""},
      // A lone "." inside never ends the reply early, whatever ends its line.
      {"lone.eml", "a\r\n.\r\nb\n.\nc\r.\rd\r\n..\r\ne\r\n",
       "a\r\n..\r\nb\n..\nc\r..\rd\r\n..\r\ne"},
  };
  for (const Case& c : cases) Put("admin", c.name, c.content);
  Login();
  for (const Case& c : cases) {
    EXPECT_EQ(Send("RETR " + Num(c.name) + "\r\n"),
              "+OK " + std::to_string(c.content.size()) + " octets\r\n" + c.body + "\r\n.\r\n")
        << c.name;
  }
  EXPECT_EQ(s->state(), CPop3Socket::kTransaction);
}

TEST_F(Pop3SessionTest, RetrLogsOnlyTheStartOfTheReply) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += "line " + std::to_string(i) + " of the message\r\n";
  Put("admin", "long.eml", text);
  Login();
  std::string reply = Send("RETR 1\r\n");
  ASSERT_EQ(reply.substr(0, 4), "+OK ");
  EXPECT_TRUE(host.Logged(reply.substr(0, 100) + "...")) << host.logs.back();
  EXPECT_FALSE(host.LogContains("line 19"));
  // Other long replies are logged whole.
  std::string top = Send("TOP 1 10\r\n");
  EXPECT_GT(top.size(), 200u);
  EXPECT_TRUE(host.Logged(top.substr(0, top.size() - 2)));
}

// The envelope names every recipient, Bcc ones too: no reader sees them,
// and the sizes given are those of what is sent.
TEST_F(Pop3SessionTest, RecipientEnvelopeLinesAreNeverShown) {
  const std::string head = "x-sender: <a@far.net>\r\n";
  const std::string receivers = "x-receiver: <bob@local.org>\r\nX-Receiver: <secret@local.org>\r\n";
  const std::string rest = "Received: from h\r\nSubject: s\r\n\r\nx-receiver: body text\r\n";
  Put("admin", "m.eml", head + receivers + rest);
  Login();
  size_t shown = head.size() + rest.size();
  EXPECT_EQ(Send("STAT\r\n"), "+OK 1 " + std::to_string(shown) + "\r\n");
  EXPECT_EQ(Send("LIST 1\r\n"), "+OK 1 " + std::to_string(shown) + "\r\n");
  std::string retr = Send("RETR 1\r\n");
  EXPECT_EQ(retr.rfind("+OK " + std::to_string(shown) + " octets\r\n" + head + "Received: ", 0),
            0u);
  EXPECT_EQ(retr.find("local.org"), std::string::npos);
  EXPECT_NE(retr.find("x-receiver: body text"), std::string::npos);  // the body is the body
  EXPECT_EQ(Send("TOP 1 0\r\n").find("secret"), std::string::npos);
}

TEST_F(Pop3SessionTest, TopTakesHeaderAndBodyLines) {
  Put("admin", "m.eml",
      "\r\n \t\r\n  X-Sender: a@b.org\r\nX-Receiver: c@d.org\nSubject: hi\r\n\r\n"
      "body 1\r\n  body 2\n\r\nbody 4\r\n");
  Login();
  const std::string head = "+OK\r\nX-Sender: a@b.org\r\nX-Receiver: c@d.org\r\nSubject: hi\r\n\r\n";
  EXPECT_EQ(Send("TOP 1 0\r\n"), head + ".\r\n");
  EXPECT_EQ(Send("top 1 -3\r\n"), head + ".\r\n");
  EXPECT_EQ(Send("TOP 1 2\r\n"), head + "body 1\r\n  body 2\r\n.\r\n");
  EXPECT_EQ(Send("TOP 1 99\r\n"), head + "body 1\r\n  body 2\r\n\r\nbody 4\r\n.\r\n");
  Put("admin", "n.eml", "S: x\r\n\r\n.\r\nafter\r\n");
  Login();
  EXPECT_EQ(Send("TOP " + Num("n.eml") + " 5\r\n"), "+OK\r\nS: x\r\n\r\n..\r\nafter\r\n.\r\n");
}

TEST_F(Pop3SessionTest, VanishedOrUnreadableFile) {
  std::string gone = Put("admin", "gone.eml", "one\r\n");
  std::string dir_now = Put("admin", "dir.eml", "two\r\n");
  Login();
  std::string g = Num("gone.eml"), d = Num("dir.eml");
  host.files.erase(gone);
  host.unreadable.insert(dir_now);
  for (const std::string& n : {g, d}) {
    EXPECT_EQ(Send("RETR " + n + "\r\n"), kNoSuch);
    EXPECT_EQ(Send("TOP " + n + " 0\r\n"), kNoSuch);
    EXPECT_EQ(Send("LIST " + n + "\r\n"), "+OK " + n + " 5\r\n");  // sizes are from the scan
  }
  Send("DELE " + g + "\r\n");
  EXPECT_EQ(Send("QUIT\r\n"), "+OK session ended\r\n");
  EXPECT_TRUE(host.Logged("Failed to delete: " + gone));
}

TEST_F(Pop3SessionTest, QuitDeletesOnlyMarkedFiles) {
  std::string a = Put("admin", "a.eml", "a\r\n");
  std::string b = Put("admin", "b.eml", "b\r\n");
  std::string c = Put("admin", "c.eml", "c\r\n");
  Login();
  Send("DELE " + Num("a.eml") + "\r\nDELE " + Num("c.eml") + "\r\n");
  EXPECT_EQ(Send("QUIT\r\nNOOP\r\n"), "+OK session ended\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_EQ(Send("NOOP\r\n"), "");
  EXPECT_FALSE(host.Has(a));
  EXPECT_TRUE(host.Has(b));
  EXPECT_FALSE(host.Has(c));
  int deleting = host.LogIndex(Utf8ToBig5("正在刪除訊息..."));
  int del_a = host.LogIndex("Deleting " + a + "...");
  int del_c = host.LogIndex("Deleting " + c + "...");
  EXPECT_GE(deleting, 0);
  EXPECT_GT(del_a, deleting);
  EXPECT_GT(del_c, deleting);
  EXPECT_GT(host.LogIndex("+OK session ended"), std::max(del_a, del_c));
  EXPECT_FALSE(host.LogContains("Deleting " + b));

  // Nothing marked, or not logged in: nothing deleted, nothing logged.
  host.logs.clear();
  Login();
  EXPECT_EQ(Send("QUIT\r\n"), "+OK session ended\r\n");
  Open();
  EXPECT_EQ(Send("QUIT\r\n"), "+OK session ended\r\n");
  EXPECT_TRUE(s->ended());
  EXPECT_FALSE(host.LogContains("Deleting"));
  EXPECT_FALSE(host.Logged(Utf8ToBig5("正在刪除訊息...")));
  EXPECT_TRUE(host.Has(b));
}

TEST_F(Pop3SessionTest, MarksAreCommittedOnlyByQuit) {
  std::string a = Put("admin", "a.eml", "a\r\n");
  std::string b = Put("admin", "b.eml", "b\r\n");
  Login();
  Send("DELE 1\r\nDELE 2\r\n");
  s.reset();  // the connection dropped
  EXPECT_TRUE(host.Has(a));
  EXPECT_TRUE(host.Has(b));

  Login();
  Send("DELE 1\r\nDELE 2\r\n");
  Send(std::string(9000, 'z'));  // overflow
  ASSERT_TRUE(s->ended());
  EXPECT_TRUE(host.Has(a));
  EXPECT_TRUE(host.Has(b));

  // A failed PASS changes nothing; a successful one rescans and drops marks.
  Login();
  Send("DELE 1\r\n");
  EXPECT_EQ(Send("PASS wrong\r\n"), kLoginFailed);
  EXPECT_EQ(s->state(), CPop3Socket::kTransaction);
  EXPECT_EQ(Send("STAT\r\n"), "+OK 1 3\r\n");
  std::string c = Put("admin", "c.eml", "cc\r\n");
  EXPECT_EQ(Send("PASS \r\n"), kAuthOk);
  EXPECT_EQ(Send("STAT\r\n"), "+OK 3 10\r\n");
  EXPECT_EQ(Send("QUIT\r\n"), "+OK session ended\r\n");
  EXPECT_TRUE(host.Has(a));
  EXPECT_TRUE(host.Has(b));
  EXPECT_TRUE(host.Has(c));
}

TEST_F(Pop3SessionTest, OneAddressCanNeitherCrowdOthersOutNorGuessPasswords) {
  cfg.max_connections_per_ip = 2;
  EXPECT_EQ(Open("192.0.2.10", 5, 2), "-ERR too many users\r\n");
  EXPECT_NE(Open("192.0.2.10", 5, 1), "-ERR too many users\r\n");

  int64_t now = 0;
  LoginGuard guard([&] { return now; });
  host.guard = &guard;
  auto pass = [&](const std::string& ip, const std::string& pw) {
    Open(ip);
    Send("USER bob\r\n");
    return Send("PASS " + pw + "\r\n");
  };
  cfg.robot_protected = false;
  for (int i = 0; i < 12; ++i) EXPECT_EQ(pass("192.0.2.10", "guess"), kLoginFailed);
  EXPECT_EQ(pass("192.0.2.10", "pw"), kAuthOk);  // switched off: nothing counted
  cfg.robot_protected = true;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(pass("192.0.2.10", "guess"), kLoginFailed);
  EXPECT_EQ(pass("192.0.2.10", "pw"), kLoginFailed);
  EXPECT_EQ(pass("192.0.2.11", "pw"), kAuthOk);
  now += LoginGuard::kBlock;
  EXPECT_EQ(pass("192.0.2.10", "pw"), kAuthOk);
}

TEST_F(Pop3SessionTest, StlsOfferRequirementAndFreshLogin) {
  const std::string capa = "+OK Capability list follows\r\nTOP\r\nUSER\r\nUIDL\r\n";
  const std::string tls_required = "-ERR TLS required\r\n";
  // Not configured: the replies of a server without TLS.
  Open();
  EXPECT_EQ(Send("CAPA\r\n"), capa + ".\r\n");
  EXPECT_EQ(Send("STLS\r\n"), kNotValid);

  cfg.tls = {true, true, false};
  Open("192.0.2.10");
  EXPECT_EQ(Send("CAPA\r\n"),
            "+OK Capability list follows\r\nTOP\r\nUIDL\r\nSTLS\r\n.\r\n");  // no USER
  EXPECT_EQ(Send("USER bob\r\n"), tls_required);
  EXPECT_EQ(Send("PASS pw\r\n"), tls_required);
  // What follows STLS in clear is dropped.
  EXPECT_EQ(Send("STLS\r\nUSER bob\r\nPASS pw\r\n"), "+OK Begin TLS negotiation\r\n");
  EXPECT_TRUE(s->TakeTlsRequest());
  EXPECT_FALSE(s->TakeTlsRequest());
  s->TlsStarted();
  EXPECT_EQ(s->TakeOutput(), "");
  EXPECT_EQ(Send("PASS pw\r\n"), kNotValid);  // the USER before STLS is forgotten
  EXPECT_EQ(Send("CAPA\r\n"), capa + ".\r\n");
  EXPECT_EQ(Send("STLS\r\n"), "-ERR TLS already active\r\n");
  EXPECT_EQ(Send("USER bob\r\n"), "+OK\r\n");
  EXPECT_EQ(Send("PASS pw\r\n"), kAuthOk);
  EXPECT_EQ(Send("STLS\r\n"), "-ERR TLS already active\r\n");

  // Offered but not yet active: STLS only before the login.
  cfg.tls = {true, false, false};
  Login("bob", "pw");
  EXPECT_EQ(Send("STLS\r\n"), kNotValid);
  EXPECT_EQ(Send("CAPA\r\n"), capa + ".\r\n");
  // This machine's clients log in in clear even when TLS is required.
  cfg.tls = {true, true, false};
  Open("127.0.0.1");
  EXPECT_EQ(Send("USER bob\r\n"), "+OK\r\n");
  EXPECT_EQ(Send("PASS pw\r\n"), kAuthOk);
}

}  // namespace
}  // namespace heron
