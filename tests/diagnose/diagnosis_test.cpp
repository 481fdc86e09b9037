#include "diagnose/diagnosis.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "diagnose/smtp_probe.h"
#include "tests/relay/scripted_peer.h"

namespace heron::skylark {
namespace {

TEST(SkylarkCommandLineTest, TargetSwitch) {
  struct Row {
    std::vector<std::string> args;
    const char* domain;
    const char* server;
  } rows[] = {
      {{"/H:example.com"}, "example.com", ""},
      {{"/h:\"example.com , 168.95.1.1\""}, "example.com", "168.95.1.1"},
      {{"/Hexample.com,8.8.8.8"}, "example.com", "8.8.8.8"},
      {{"plain", "/X:ignored", "/H:a.b"}, "a.b", ""},
      {{}, "", ""},
  };
  for (const Row& r : rows) {
    Target t = ParseCommandLine(r.args);
    EXPECT_EQ(t.domain, r.domain);
    EXPECT_EQ(t.dns_server, r.server);
  }
  EXPECT_EQ(ChooseDnsServer(DnsPresets()[0].name), DnsPresets()[0].address);
  EXPECT_EQ(ChooseDnsServer("dns.example"), "dns.example");
}

TEST(SkylarkResultsTest, PublicAddressAndListCap) {
  EXPECT_EQ(PublicAddressFrom("203.0.113.7\n"), "203.0.113.7");
  EXPECT_EQ(PublicAddressFrom("Current IP Address: 198.51.100.2</body>"), "198.51.100.2");
  EXPECT_EQ(PublicAddressFrom("no address here 1.2.3"), "");

  ResultList list;
  for (int i = 0; i < 251; ++i) EXPECT_FALSE(list.Add({std::to_string(i), kRed}));
  EXPECT_TRUE(list.Add({"new", kRed}));  // more than 250 held: the oldest goes
  EXPECT_EQ(list.lines().front().text, "1");
  EXPECT_EQ(list.lines().size(), 251u);
  std::tm t{};
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 3;
  EXPECT_EQ(StepLine(t, kRed, "a\r\nb").text, "[09:05:03] ab");
}

// A scripted network: MX answers, echo bodies, host addresses, a probe.
class FakeNet : public DiagnosisNet {
 public:
  MxAnswer mx{true, "", {}};
  std::map<std::string, std::optional<std::string>> bodies;
  std::map<std::string, std::string> addresses;
  std::vector<std::string> queried, probed;
  bool probe_throws = false;

  MxAnswer QueryMx(const std::string& server, const std::string& domain) override {
    queried.push_back(server + " " + domain);
    return mx;
  }
  std::optional<std::string> HttpGet(const std::string& url) override { return bodies[url]; }
  std::string ResolveIPv4(const std::string& host) override { return addresses[host]; }
  bool ProbeSmtp(const std::string& host, SmtpSink& sink) override {
    probed.push_back(host);
    if (probe_throws) throw std::runtime_error("boom");
    sink.ShowText("完成！");
    return true;
  }
  std::vector<std::string> EchoUrls() override { return {"http://one/", "http://two/"}; }
  std::tm Now() override { return {}; }
};

class Lines : public DiagnosisOutput {
 public:
  std::vector<ResultLine> lines;
  void Add(const ResultLine& line) override { lines.push_back(line); }
  // The texts without separators or time stamps.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const ResultLine& l : lines) {
      if (l.colour == kSeparatorColour) continue;
      out.push_back(l.text.rfind("[00:00:00] ", 0) == 0 ? l.text.substr(11) : l.text);
    }
    return out;
  }
};

TEST(SkylarkFlowTest, StopsWithTheReasonOfEachFailedStep) {
  {
    FakeNet net;
    Lines out;
    EXPECT_FALSE(RunDiagnosis("", "x", net, out));
    EXPECT_TRUE(out.lines.empty());
    EXPECT_FALSE(RunDiagnosis("Example.COM", "", net, out));
    EXPECT_EQ(out.Texts(),
              (std::vector<std::string>{"開始進行 [ Example.COM ]之 DNS 與網路設定測試...",
                                        "無法取得 DNS 伺服器資料。"}));
    EXPECT_EQ(out.lines.back().colour, kRed);
  }
  {
    FakeNet net;
    net.mx = {false, "無法解析 DNS 伺服器 'x'", {}};
    Lines out;
    EXPECT_FALSE(RunDiagnosis("Example.COM", "x", net, out));
    EXPECT_EQ(net.queried, std::vector<std::string>{"x example.com"});
    EXPECT_EQ(out.Texts().back(), "無法解析 DNS 伺服器 'x'");
  }
  {
    FakeNet net;  // no MX records
    Lines out;
    EXPECT_FALSE(RunDiagnosis("example.com", "x", net, out));
    EXPECT_EQ(out.Texts()[2], "無法取得 MX Record ，請依下列步驟排除。");
    EXPECT_EQ(out.lines.back().colour, kSeparatorColour);
  }
}

TEST(SkylarkFlowTest, TheLaterMatchingExchangerIsProbed) {
  FakeNet net;
  net.mx.entries = {"10 mx1.example.com", "20 ghost.example.com", "30 mx3.example.com"};
  net.bodies["http://one/"] = std::nullopt;  // the first service fails: the second answers
  net.bodies["http://two/"] = "203.0.113.7\n";
  net.addresses = {{"mx1.example.com", "203.0.113.7"}, {"mx3.example.com", "203.0.113.7"}};
  Lines out;
  EXPECT_TRUE(RunDiagnosis("example.com", DnsPresets()[1].name, net, out));
  EXPECT_EQ(net.queried,
            std::vector<std::string>{std::string(DnsPresets()[1].address) + " example.com"});
  EXPECT_EQ(net.probed, std::vector<std::string>{"mx3.example.com"});
  std::vector<std::string> t = out.Texts();
  auto has = [&](const std::string& s) { return std::find(t.begin(), t.end(), s) != t.end(); };
  EXPECT_TRUE(has("IP: 203.0.113.7"));
  EXPECT_TRUE(has("20 ghost.example.com [  ]"));
  EXPECT_TRUE(has("::: 無法解析 IP 位置，請稍後再試或更換 DNS 伺服器IP。"));
  EXPECT_TRUE(has("MX 紀錄與 IP 相符。 30 mx3.example.com [ 203.0.113.7 ]"));
  EXPECT_EQ(t.back(), "完成！");
}

TEST(SkylarkFlowTest, NoMatchAndAProbeThatRaises) {
  FakeNet net;
  net.mx.entries = {"10 mx.example.com"};
  net.addresses = {{"mx.example.com", "198.51.100.1"}};
  net.bodies["http://one/"] = "203.0.113.7";
  Lines out;
  EXPECT_FALSE(RunDiagnosis("example.com", "x", net, out));
  EXPECT_TRUE(net.probed.empty());
  std::vector<std::string> t = out.Texts();
  EXPECT_EQ(t[t.size() - 5], "沒有對應這台主機的 MX 紀錄！");
  EXPECT_EQ(t[t.size() - 4], "::: 寄到 example.com 網域的信件將無法成功傳遞到這台主機！");

  net.addresses["mx.example.com"] = "203.0.113.7";
  net.probe_throws = true;
  Lines again;
  EXPECT_FALSE(RunDiagnosis("example.com", "x", net, again));
  EXPECT_EQ(again.Texts().back(), "連線異常...");
}

class Shown : public SmtpSink {
 public:
  std::vector<std::string> lines;
  void ShowText(const std::string& text) override { lines.push_back(text); }
};

TEST(SkylarkSmtpProbeTest, Conversations) {
  struct Row {
    std::vector<std::string> replies;
    bool finished;
    std::vector<std::string> shown;  // after "Connected to SMTP host"
    std::string sent;
  } rows[] = {
      {{"220-first\r\n220-100% ready\r\n220 go\r\n", "250 hi\r\n", "221 bye\r\n"},
       true,
       {"220-first", "220-100% ready", "220 go", "HELO probe.test", "250 hi",
        " 恭喜您，網路連線正常！", "QUIT", "221 bye", "完成！"},
       "HELO probe.test\r\nQUIT\r\n"},
      {{"220 go\r\n", "550 no\r\n"},
       false,
       {"220 go", "HELO probe.test", "550 no", "無效的回應！"},
       "HELO probe.test\r\n"},
      {{"554 go away\r\n"}, false, {"554 go away", "無效的回應(伺服器名稱無法解析)"}, ""},
  };
  for (const Row& r : rows) {
    heron::testing::ScriptedPeer peer(r.replies);
    Shown sink;
    CSmtpSocket socket(sink, "probe.test");
    socket.reply_timeout = std::chrono::milliseconds(2000);
    EXPECT_EQ(socket.Run("127.0.0.1", peer.port()), r.finished);
    ASSERT_FALSE(sink.lines.empty());
    EXPECT_EQ(sink.lines[0], "Connected to SMTP host");
    EXPECT_EQ(std::vector<std::string>(sink.lines.begin() + 1, sink.lines.end()), r.shown);
    EXPECT_EQ(peer.received(), r.sent);
  }
}

TEST(SkylarkSmtpProbeTest, NobodyListening) {
  asio::io_context io;
  asio::ip::tcp::acceptor probe(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
  uint16_t port = probe.local_endpoint().port();
  probe.close();
  Shown sink;
  CSmtpSocket socket(sink, "probe.test");
  EXPECT_FALSE(socket.Run("127.0.0.1", port));
  ASSERT_EQ(sink.lines.size(), 5u);
  EXPECT_EQ(sink.lines[0], "無法與伺服器溝通，請依序檢查下列事項：");
  EXPECT_EQ(sink.lines[1], "\t服務是否已啟動！");
}

}  // namespace
}  // namespace heron::skylark
