#include "relay/relay_thread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "dns/dns_lookup.h"
#include "platform/files.h"
#include "platform/text.h"
#include "service/mail_folders.h"
#include "service/minute_timer.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using testing::Contents;

// Answers by recipient: "host recipient" -> reply code (250 delivers).
struct FakeTransport : RelayTransport {
  AttemptResult Attempt(const std::string& host, const std::string&, const std::string& rcpt,
                        const std::string&, const std::function<void()>& answered) override {
    attempts.push_back(host + " " + rcpt);
    auto it = codes.find(host + " " + rcpt);
    int code = it == codes.end() ? 250 : it->second;
    if (code) answered();
    return {code == 250, code, code ? std::to_string(code) + " scripted" : "no connection"};
  }
  std::map<std::string, int> codes;
  std::vector<std::string> attempts;
};

struct NoDns : MxLookup {
  Outcome Lookup(const std::string&, const std::string& domain, std::vector<std::string>&,
                 std::string& error) override {
    error = "none";
    return domain == "silent.net" ? Outcome::kNoAnswer : Outcome::kFailed;
  }
};

class RelayPassTest : public ::testing::Test {
 protected:
  RelayPassTest() {
    config.mail_root = dir.path();
    config.domains = {"local.org"};
    config.mx_records = {"*|mx.far"};
    CreateFolderPath(dir / "amy");  // the sender's mailbox
  }
  void Pass(RelayKind kind) {
    RelayContext ctx{[this](const std::string& t) { log += t + "\n"; },
                     [] { return std::time(nullptr); }, nullptr, nullptr};
    RelayWorker w(kind, config, ctx, dns, transport, claims);
    w.Pass();
  }
  std::string Put(const std::string& folder, const std::string& name,
                  const std::vector<std::string>& rcpts, int64_t age = 0) {
    std::string text = "x-sender: <amy@local.org>\r\n";
    for (const auto& r : rcpts) text += "x-receiver: " + r + "\r\n";
    text += "Subject: hi\r\n\r\nbody";
    CreateFolderPath(dir / folder);
    std::string path = dir / (folder + "/" + name);
    WriteFileAtomic(dir.path(), path, text);
    struct timespec t[2] = {{std::time(nullptr) - age, 0}, {std::time(nullptr) - age, 0}};
    utimensat(AT_FDCWD, path.c_str(), t, 0);
    return path;
  }
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : ListFolder(dir / folder)) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  size_t Reports() { return ListFolder(dir / "amy").size(); }

  testing::TempDir dir;
  RelayConfig config;
  FakeTransport transport;
  NoDns dns;
  std::shared_ptr<RelayFileClaims> claims = std::make_shared<RelayFileClaims>();
  std::string log;
  const std::string id = std::string(32, 'a');
};

TEST_F(RelayPassTest, MainPassSplitsOutcomesPerRecipient) {
  transport.codes["mx.far <c@far.net>"] = 451;
  transport.codes["mx.far <d@far.net>"] = 550;
  Put("queue", id + ".eml", {"<b@far.net>", "<c@far.net>", "<d@far.net>", "<e@local.org>"});
  Pass(RelayKind::kMain);
  EXPECT_TRUE(Names("queue").empty());
  EXPECT_EQ(Names("yqueue"), std::vector<std::string>{id + "[c@far.net]#0.eml"});
  EXPECT_EQ(Names("badmail"), std::vector<std::string>{id + ".eml"});
  EXPECT_EQ(transport.attempts.size(), 3u);  // the local recipient is not relayed
  EXPECT_EQ(Reports(), 2u);
  EXPECT_NE(log.find(B5("稍後重試...")), std::string::npos);
}

TEST_F(RelayPassTest, RecipientLimitIsExactAndReported) {
  config.max_recipients = 2;
  Put("queue", id + ".eml", {"<1@far.net>", "<2@far.net>", "<3@far.net>", "<4@far.net>"});
  Pass(RelayKind::kMain);
  EXPECT_EQ(transport.attempts,
            (std::vector<std::string>{"mx.far <1@far.net>", "mx.far <2@far.net>"}));
  EXPECT_EQ(Reports(), 2u);
  EXPECT_NE(log.find(B5("收件人數超過系統限制!")), std::string::npos);
}

TEST_F(RelayPassTest, InterruptedPassResumesWithoutRepeatingDelivered) {
  std::string work = Put("queue", "r_" + id + ".eml", {"<b@far.net>", "<c@far.net>"});
  WriteFileAtomic(dir.path(), CopyJournalName(work), "<b@far.net>\n");
  Pass(RelayKind::kMain);
  EXPECT_EQ(Names("xqueue"), (std::vector<std::string>{id + ".eml", id + ".eml.done"}));
  ASSERT_EQ(Reports(), 1u);  // deferred, naming only the one still due
  std::string report = Contents(dir / ("amy/" + ListFolder(dir / "amy")[0].name));
  EXPECT_NE(report.find("\t<c@far.net>\r\n"), std::string::npos);
  EXPECT_EQ(report.find("\t<b@far.net>"), std::string::npos);
  Pass(RelayKind::kX);
  EXPECT_EQ(transport.attempts, std::vector<std::string>{"mx.far <c@far.net>"});
  EXPECT_TRUE(Names("xqueue").empty());
}

TEST_F(RelayPassTest, RetryFoldersFollowAgeAndCount) {
  transport.codes["mx.far <c@far.net>"] = 452;
  transport.codes["mx.far <d@far.net>"] = 0;  // unreachable: tried again too
  Put("yqueue", id + "[young@far.net]#0.eml", {}, 4 * 60);
  Put("yqueue", id + "[c@far.net]#3.eml", {}, 10 * 60);
  Put("yqueue", id + "[d@far.net]#0.eml", {}, 10 * 60);
  Put("yqueue", id + "[old@far.net]#0.eml", {}, 2 * 3600);
  Put("yqueue", id + "[tired@far.net]#11.eml", {}, 10 * 60);
  Pass(RelayKind::kY);
  EXPECT_EQ(Names("yqueue"),
            (std::vector<std::string>{id + "[c@far.net]#4.eml", id + "[d@far.net]#1.eml",
                                      id + "[young@far.net]#0.eml"}));
  EXPECT_EQ(Names("zqueue"), std::vector<std::string>{id + "[old@far.net]#0.eml"});
  EXPECT_EQ(Names("badmail"), std::vector<std::string>{id + "[tired@far.net]#11.eml"});
  EXPECT_NE(log.find(id + B5("[tired@far.net]#11.eml超過重寄次數")), std::string::npos);
  EXPECT_EQ(Reports(), 1u);  // the one given up is told of

  transport.codes["mx.far <c@far.net>"] = 250;
  Put("zqueue", id + "[late@far.net]#0.eml", {}, 25 * 3600);
  Put("zqueue", id + "[c@far.net]#0.eml", {}, 3 * 3600);
  Pass(RelayKind::kZ);
  EXPECT_EQ(Names("zqueue"), std::vector<std::string>{id + "[old@far.net]#0.eml"});  // too young
  EXPECT_EQ(Reports(), 2u);
}

TEST_F(RelayPassTest, XPassGivesUpExpiredAndUnreadableFiles) {
  Put("xqueue", id + ".eml", {"<b@far.net>"}, 25 * 3600);
  Put("xqueue", std::string(32, 'b') + ".eml", {});
  Pass(RelayKind::kX);
  EXPECT_TRUE(transport.attempts.empty());
  EXPECT_EQ(Names("badmail"),
            (std::vector<std::string>{id + ".eml", std::string(32, 'b') + ".eml"}));
  EXPECT_EQ(Reports(), 2u);
}

TEST_F(RelayPassTest, DomainsWithoutHostsAndHostsInTurn) {
  config.mx_records = {"two.net|a.two|b.two|"};
  transport.codes["a.two <x@two.net>"] = 550;  // the next host takes it
  Put("queue", id + ".eml", {"<b@bad_domain.net>", "<s@silent.net>", "<x@two.net>"});
  Pass(RelayKind::kMain);
  EXPECT_EQ(transport.attempts,
            (std::vector<std::string>{"a.two <x@two.net>", "b.two <x@two.net>"}));
  // Unusable: given up without a lookup; no DNS answer: tried again later.
  EXPECT_EQ(Names("badmail"), std::vector<std::string>{id + ".eml"});
  EXPECT_EQ(Names("yqueue"), std::vector<std::string>{id + "[s@silent.net]#0.eml"});
  EXPECT_NE(log.find(B5("DNS 查詢失敗：找不到 bad_domain.net 的郵件主機")), std::string::npos);
  EXPECT_EQ(Reports(), 2u);  // none for the one delivered
}

// The delivery workers of the main relay thread, with an exchanger whose
// greeting takes a while: files for it wait their turn and are all
// delivered, none taken for left over.
struct SlowTransport : RelayTransport {
  AttemptResult Attempt(const std::string&, const std::string&, const std::string& rcpt,
                        const std::string&, const std::function<void()>& answered) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(first.exchange(false) ? 300 : 5));
    answered();
    std::lock_guard<std::mutex> lock(mu);
    delivered.push_back(rcpt);
    return {true, 250, ""};
  }
  std::atomic<bool> first{true};
  std::mutex mu;
  std::vector<std::string> delivered;
};

TEST_F(RelayPassTest, WorkersHoldFilesBackWhileAHostIsStillToGreet) {
  SlowTransport slow;
  std::atomic<bool> stop{false};
  RelayContext ctx{[](const std::string&) {}, [] { return std::time(nullptr); }, &stop, nullptr};
  RelayWorker w(RelayKind::kMain, config, ctx, dns, slow, claims);
  for (int i = 0; i < 6; ++i) {
    Put("queue", std::string(31, 'a') + std::to_string(i) + ".eml", {"<b@far.net>"});
  }
  std::thread t([&] { w.Run(); });
  for (int i = 0; i < 100 && Names("queue").size() + Names("xqueue").size() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  t.join();
  EXPECT_EQ(slow.delivered.size(), 6u);
  EXPECT_TRUE(Names("queue").empty());
  EXPECT_TRUE(Names("xqueue").empty());
}

}  // namespace
}  // namespace heron

namespace heron {
namespace {

// A relay thread whose DNS server never answers, as the minute check sees
// it three minutes into the lookup.
struct StuckRelayHost : MinuteHost {
  explicit StuckRelayHost(CRelayThreadBase& t) : thread(t) {}
  int64_t Now() override { return std::time(nullptr) + 180; }
  void Sleep(std::chrono::seconds) override {}
  void Log(int level, const std::string& text) override {
    calls.push_back(std::to_string(level) + " " + text);
  }
  bool StopRequested() override { return false; }
  bool ServersRunning() override { return true; }
  bool StartServers() override { return true; }
  void StopServers() override {}
  void ArchiveTraceLog() override {}
  void WriteCounters(int, int) override {}
  bool RelayOn() override { return true; }
  std::optional<RelayState> RelayThread(Relay kind) override {
    if (kind != kMainRelay || stopped) return std::nullopt;
    const RelayThreadStatus& s = thread.status();
    auto lookup = s.OldestLookup();
    return RelayState{lookup.has_value(), lookup.value_or(0), s.last_activity};
  }
  void ClearInLookup(Relay) override {}
  void StartRelayThread(Relay, bool) override { started = true; }
  void StopRelayThread(Relay, bool) override {
    thread.RequestStop();
    stopped = thread.WaitEnded(std::chrono::seconds(5));
  }
  void RestartRelayThread(Relay) override {}
  std::optional<int64_t> LastAccept(Listener) override { return std::nullopt; }
  bool RecreateListener(Listener) override { return true; }

  CRelayThreadBase& thread;
  bool stopped = false, started = false;
  std::vector<std::string> calls;
};

TEST(RelayThreadTest, AThreadStuckInALookupIsRestartedByTheMinuteCheck) {
  testing::TempDir dir;
  asio::io_context io;
  asio::ip::udp::socket silent(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
  CDnsLookup::SetServerPortForTesting(silent.local_endpoint().port());
  RelayConfig config;
  config.mail_root = dir.path();
  config.dns_server = "127.0.0.1";
  CreateFolderPath(dir / "queue");
  WriteFileAtomic(dir.path(), dir / ("queue/" + std::string(32, 'c') + ".eml"),
                  "x-sender: <a@local.org>\r\nx-receiver: <b@far.example>\r\n\r\nbody");
  auto thread = MakeRelayThread(
      RelayKind::kMain, config, [](int, uint32_t, std::string) {},
      std::make_shared<RelayFileClaims>());
  thread->Start();
  for (int i = 0; i < 100 && !thread->status().OldestLookup(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(thread->status().OldestLookup());
  StuckRelayHost host(*thread);
  MinuteTimer timer(host);
  EXPECT_TRUE(timer.CheckServers());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"1 DNS 查尋失敗，伺服器無回應...",
                                                  "2 Relay Checking...", "2 Relay OK..."}));
  EXPECT_TRUE(host.stopped);  // the lookup gives way to the stop at once
  EXPECT_TRUE(host.started);
  // Cut short, the lookup says nothing of the domain: the file waits.
  EXPECT_TRUE(ListFolder(dir / "badmail").empty());
  EXPECT_EQ(ListFolder(dir / "queue").size(), 1u);
  CDnsLookup::SetServerPortForTesting(53);
}

}  // namespace
}  // namespace heron
