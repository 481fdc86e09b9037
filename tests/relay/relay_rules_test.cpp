#include "relay/relay_rules.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace heron {
namespace {

TEST(RelayRulesTest, RetryStepsInTheirOrder) {
  struct Case {
    RelayKind kind;
    int64_t age;  // seconds
    int count;
    RetryStep step;
  };
  const int64_t m = 60, h = 3600;
  const Case cases[] = {
      {RelayKind::kY, 4 * m + 59, 0, RetryStep::kTooYoung},
      {RelayKind::kY, 5 * m, 0, RetryStep::kRetry},
      {RelayKind::kY, 2 * h - 1, 0, RetryStep::kRetry},        // 1 h 59 min: retried
      {RelayKind::kY, 2 * h, 99, RetryStep::kHandOver},        // before the other tests
      {RelayKind::kZ, 2 * h, 0, RetryStep::kRetry},            // no hand-over from Z
      {RelayKind::kZ, 25 * h, 99, RetryStep::kExpired},        // RetryTimeout before RetryTimes
      {RelayKind::kZ, 24 * h + 59 * m, 0, RetryStep::kRetry},  // 24 whole hours: not over
      {RelayKind::kY, 10 * m, 11, RetryStep::kExhausted},
      {RelayKind::kY, 10 * m, 10, RetryStep::kRetry},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecideRetry(VariantOf(c.kind), c.age, c.count, 24, 10), c.step)
        << VariantOf(c.kind).name << " " << c.age << " " << c.count;
  }
  EXPECT_TRUE(IsExpired(25 * h, 24));
  EXPECT_FALSE(IsExpired(24 * h + 59 * m, 24));
}

TEST(RelayRulesTest, DomainsAndRetryNames) {
  EXPECT_EQ(GetDomain("<Bob@Far.Example> x"), "Far.Example");
  EXPECT_EQ(GetDomain("  host.only "), "host.only");
  EXPECT_TRUE(IsUsableDomain("far.example"));
  for (const char* bad : {"under_score.example", "nodot", "a b.example", "x,y.example"}) {
    EXPECT_FALSE(IsUsableDomain(bad)) << bad;
  }
  EXPECT_EQ(RetryRecipientOf("0123[bob@far.example]#3.eml"), "<bob@far.example>");
  EXPECT_EQ(RetryRecipientOf("0123[bob@[10.0.0.1]]#0.eml"), "<bob@[10.0.0.1]>");
  EXPECT_EQ(RetryRecipientOf("0123.eml"), "");
  EXPECT_EQ(SplitHostList("a.example|b.example|"),
            (std::vector<std::string>{"a.example", "b.example"}));
  EXPECT_EQ(SplitHostList("a.example||b.example|"), (std::vector<std::string>{"a.example"}));
  EXPECT_EQ(SplitHostList("single.example"), (std::vector<std::string>{"single.example"}));
}

TEST(RelayRulesTest, MessageTextLeavesTheEnvelopeAndCannotEndEarly) {
  MessageText m = LoadMessageText(
      "x-sender: <a@local.org>\r\nx-receiver: <b@far.net>\r\nReceived: by x\r\n"
      "Subject: hi\r\n\r\nx-receiver: <spoof@evil.net>\r\nx-sender: <ceo@local.org>\r\n"
      "..dotted\r\nbare\n.\nMAIL FROM:<x@y>\r\nend");
  EXPECT_EQ(m.sender, "<a@local.org>");
  EXPECT_EQ(m.text,
            "Received: by x\r\nSubject: hi\r\n\r\nx-receiver: <spoof@evil.net>\r\n"
            "x-sender: <ceo@local.org>\r\n..dotted\r\nbare\r\n..\r\nMAIL FROM:<x@y>\r\nend\r\n"
            "\r\n.");
}

struct FakeDns : MxLookup {
  Outcome Lookup(const std::string& server, const std::string& domain,
                 std::vector<std::string>& results, std::string& error_text) override {
    asked.push_back(server + " " + domain);
    if (domain == "down.example") {
      error_text = "no server";
      return Outcome::kFailed;
    }
    if (domain == "silent.example") return Outcome::kNoAnswer;
    if (domain == "order.example") results = {"20 second.order.example", "10 first.order.example"};
    return Outcome::kAnswered;
  }
  std::vector<std::string> asked;
};

TEST(RelayRulesTest, ResolveMxFromTableCacheDnsAndDomainAsHost) {
  FakeDns dns;
  std::string log;
  auto logger = [&log](const std::string& t) { log += t + "\n"; };
  std::string hosts;
  const auto kFound = MxResolver::Result::kFound, kNoHost = MxResolver::Result::kNoHost;

  MxResolver fixed(MxResolver::FixedHosts({"*|smart.host", "Special.Example|special.host"}),
                   "127.0.0.53", false, dns, logger);
  EXPECT_EQ(kFound, fixed.ResolveMx("special.example", hosts));
  EXPECT_EQ(hosts, "special.host");
  EXPECT_EQ(kFound, fixed.ResolveMx("any.example", hosts));
  EXPECT_EQ(hosts, "smart.host");
  EXPECT_TRUE(dns.asked.empty());

  MxResolver plain({}, "127.0.0.53", false, dns, logger);
  EXPECT_EQ(kFound, plain.ResolveMx("order.example", hosts));
  EXPECT_EQ(hosts, "second.order.example|first.order.example|");  // answer order
  EXPECT_EQ(kFound, plain.ResolveMx("order.example", hosts));     // from the cache now
  EXPECT_EQ(dns.asked.size(), 1u);
  EXPECT_EQ(kNoHost, plain.ResolveMx("empty.example", hosts));
  EXPECT_NE(log.find(B5("'empty.example' DNS 查詢失敗！")), std::string::npos);
  EXPECT_EQ(kNoHost, plain.ResolveMx("down.example", hosts));
  EXPECT_NE(log.find(B5("'down.example' DNS 查詢失敗：  no server")), std::string::npos);

  // No answer is no verdict on the domain, domain as host or not.
  EXPECT_EQ(MxResolver::Result::kTryLater, plain.ResolveMx("silent.example", hosts));

  MxResolver as_host({}, "127.0.0.53", true, dns, logger);
  EXPECT_EQ(kFound, as_host.ResolveMx("empty.example", hosts));
  EXPECT_EQ(hosts, "empty.example");
}

}  // namespace
}  // namespace heron
