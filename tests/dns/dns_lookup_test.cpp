#include "dns/dns_lookup.h"

#include <gtest/gtest.h>

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "tests/dns/dns_builder.h"

namespace heron {
namespace {

using namespace dnstest;
using asio::ip::udp;
using Texts = std::vector<std::string>;

// A datagram the scripted server sends back. It comes from the server's own
// socket unless `from_address` is set: then from that address, with the
// server's port or (from_server_port false) any other.
struct Datagram {
  Datagram(std::string b, std::string from = "", bool server_port = true)
      : bytes(std::move(b)), from_address(std::move(from)), from_server_port(server_port) {}
  std::string bytes;
  std::string from_address;
  bool from_server_port;
};

// A DNS server on a loopback address that answers each request as its
// script says, on a thread of its own.
class ScriptedServer {
 public:
  using Script = std::function<std::vector<Datagram>(const std::string& request)>;

  ScriptedServer(const char* address, uint16_t port, Script script)
      : socket_(io_, udp::endpoint(asio::ip::make_address_v4(address), port)),
        script_(std::move(script)) {
    Receive();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~ScriptedServer() {
    io_.stop();
    thread_.join();
  }
  uint16_t port() const { return socket_.local_endpoint().port(); }
  Texts requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Receive() {
    socket_.async_receive_from(asio::buffer(buffer_), peer_, [this](asio::error_code ec, size_t n) {
      if (ec) return;
      std::string request(buffer_.data(), n);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      for (const Datagram& d : script_(request)) Send(d);
      Receive();
    });
  }
  void Send(const Datagram& d) {
    asio::error_code ec;
    if (d.from_address.empty()) {
      socket_.send_to(asio::buffer(d.bytes), peer_, 0, ec);
    } else {
      udp::socket other(io_);
      other.open(udp::v4(), ec);
      if (!ec) {
        other.bind(udp::endpoint(asio::ip::make_address_v4(d.from_address),
                                 d.from_server_port ? port() : 0),
                   ec);
      }
      if (!ec) other.send_to(asio::buffer(d.bytes), peer_, 0, ec);
    }
    EXPECT_FALSE(ec) << ec.message();
  }

  asio::io_context io_;
  udp::socket socket_;
  Script script_;
  std::array<char, 4096> buffer_{};
  udp::endpoint peer_;
  std::mutex mutex_;
  Texts requests_;
  std::thread thread_;
};

ScriptedServer::Script Answer(std::vector<std::string> answers,
                              uint16_t flags = kFlagsAuthoritative) {
  return [answers, flags](const std::string& request) {
    return std::vector<Datagram>{{ReplyTo(request, flags, answers)}};
  };
}

// Points the client at the scripted servers' port, and back at 53 after.
class DnsLookupTest : public ::testing::Test {
 protected:
  void UsePort(uint16_t port) { CDnsLookup::SetServerPortForTesting(port); }
  void TearDown() override { CDnsLookup::SetServerPortForTesting(53); }
};

TEST_F(DnsLookupTest, AnswersInServerOrderFromDottedAddress) {
  // 127.0.0.3 has no reverse name: the address is used as it is.
  ScriptedServer server("127.0.0.3", 0,
                        Answer({Mx(10, "mx1.example.com"), Mx(5, "mx2.example.com"),
                                A(Pointer(kQuestionName), 192, 0, 2, 1)}));
  UsePort(server.port());
  CDnsLookup lookup;
  Texts results{"left over"};
  EXPECT_TRUE(lookup.Lookup("127.0.0.3", "example.com", results));
  EXPECT_EQ(results, (Texts{"10 mx1.example.com", "05 mx2.example.com", "192.0.2.1"}));
  EXPECT_EQ(lookup.GetErrorText(), "");
  EXPECT_EQ(server.requests(), Texts{*EncodeMxQuery("example.com")});
}

TEST_F(DnsLookupTest, UnresolvableServerFails) {
  // The over-long label makes the system resolver refuse the name without
  // asking any name server, so no query leaves the machine.
  const std::string server = "no.such.host." + std::string(64, 'x') + ".invalid";
  CDnsLookup lookup;
  Texts results{"left over"};
  EXPECT_FALSE(lookup.Lookup(server, "example.com", results));
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(lookup.GetErrorText(), "Unable to resolve '" + server + "'");
}

TEST_F(DnsLookupTest, InvalidDomainSendsNothing) {
  ScriptedServer server("127.0.0.1", 0, Answer({Mx(10, "mx.example.com")}));
  UsePort(server.port());
  CDnsLookup lookup;
  Texts results{"left over"};
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", "mail." + std::string(64, 'a') + ".com", results));
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(lookup.GetErrorText(), "Query is not a valid domain");
  // A valid lookup after it: the server's first request is that one.
  CDnsLookup second;
  EXPECT_TRUE(second.Lookup("127.0.0.1", "example.com", results));
  EXPECT_EQ(results, Texts{"10 mx.example.com"});
  EXPECT_EQ(server.requests(), Texts{*EncodeMxQuery("example.com")});
}

// The referral budget is shared by the whole process, so one test spends it
// all: each referral goes to the glue address, the fourth referring reply is
// used as it is.
TEST_F(DnsLookupTest, ReferralsFollowedThreeTimesPerProcess) {
  const std::string ns = "ns2.example.com";
  const std::string aaaa_glue = Record(Name(ns), 28, std::string(15, '\0') + '\x01');
  const std::string a_glue = A(Name(ns), 127, 0, 0, 2);
  const std::string other_glue = A(Name("ns9.example.com"), 127, 0, 0, 9);
  // Referral variants: plain glue; glue after an address of another name and
  // an AAAA record of the same name; the name server's name in other case.
  const std::vector<std::vector<std::string>> glue = {
      {a_glue}, {other_glue, aaaa_glue, a_glue}, {A(Name("NS2.Example.COM"), 127, 0, 0, 2)}};
  std::atomic<int> variant{0};
  ScriptedServer referring("127.0.0.1", 0, [&](const std::string& request) {
    return std::vector<Datagram>{
        {ReplyTo(request, kFlagsResponse, {Mx(1, "referring.example.com")},
                 {Record(Pointer(kQuestionName), kTypeNs, Name(ns))}, glue[variant % 3])}};
  });
  ScriptedServer referred("127.0.0.2", referring.port(), Answer({Mx(20, "mx.example.com")}));
  UsePort(referring.port());

  const std::string query = *EncodeMxQuery("example.com");
  const int first = CDnsLookup::ReferralCount();
  for (int count = first; count < kDnsMaxReferrals; ++count) {
    SCOPED_TRACE(count);
    variant = count;
    CDnsLookup lookup;
    Texts results;
    EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
    EXPECT_EQ(results, Texts{"20 mx.example.com"});
    EXPECT_EQ(CDnsLookup::ReferralCount(), count + 1);
    EXPECT_EQ(referred.requests(), Texts(count - first + 1, query));
  }
  CDnsLookup lookup;
  Texts results;
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
  EXPECT_EQ(results, Texts{"01 referring.example.com"});
  EXPECT_EQ(CDnsLookup::ReferralCount(), kDnsMaxReferrals);
  EXPECT_EQ(referred.requests().size(), static_cast<size_t>(kDnsMaxReferrals - first));
}

TEST_F(DnsLookupTest, LostReplyEndsEmptyAfterTimeOut) {
  ScriptedServer server("127.0.0.1", 0, [](const std::string&) { return std::vector<Datagram>{}; });
  UsePort(server.port());
  CDnsLookup lookup;
  Texts results{"left over"};
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_GE(waited, kDnsReplyTimeout - std::chrono::seconds(1));
  EXPECT_LE(waited, std::chrono::seconds(20));
}

TEST_F(DnsLookupTest, RepliesFromElsewhereAreIgnored) {
  ScriptedServer server("127.0.0.1", 0, [](const std::string& request) {
    std::string spoofed = ReplyTo(request, kFlagsAuthoritative, {Mx(1, "spoofed.example.com")});
    return std::vector<Datagram>{
        {spoofed, "127.0.0.1", false},
        {spoofed, "127.0.0.5", true},
        {ReplyTo(request, kFlagsAuthoritative, {Mx(10, "real.example.com")})}};
  });
  UsePort(server.port());
  CDnsLookup lookup;
  Texts results;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
  EXPECT_EQ(results, Texts{"10 real.example.com"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(DnsLookupTest, RepliesWithoutUsableAnswersGiveEmptyList) {
  const std::vector<ScriptedServer::Script> scripts = {
      [](const std::string&) { return std::vector<Datagram>{{std::string("\x00\x01garbage", 9)}}; },
      [](const std::string& request) {  // cut inside the answer
        std::string reply = ReplyTo(request, kFlagsAuthoritative, {Mx(10, "mx.example.com")});
        return std::vector<Datagram>{{reply.substr(0, reply.size() - 3)}};
      },
      [](const std::string& request) {  // name error
        return std::vector<Datagram>{{ReplyTo(request, kFlagsAuthoritative | 3, {})}};
      },
      [](const std::string& request) {  // the answer name points past the end
        return std::vector<Datagram>{{ReplyTo(request, kFlagsAuthoritative,
                                              {Record(Pointer(0x3FFF), 15, U16(1) + Name("x"))})}};
      },
  };
  for (size_t i = 0; i < scripts.size(); ++i) {
    SCOPED_TRACE(i);
    ScriptedServer server("127.0.0.1", 0, scripts[i]);
    UsePort(server.port());
    CDnsLookup lookup;
    Texts results{"left over"};
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
    EXPECT_TRUE(results.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(DnsLookupTest, ConcurrentLookupsGetTheirOwnReplies) {
  // Each reply names the domain asked for, a little late so that all wait.
  ScriptedServer server("127.0.0.1", 0, [](const std::string& request) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string domain = std::string(&request[13], static_cast<uint8_t>(request[12]));
    return std::vector<Datagram>{
        {ReplyTo(request, kFlagsAuthoritative, {Mx(10, "mx." + domain + ".example")})}};
  });
  UsePort(server.port());
  std::vector<Texts> results(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] {
      CDnsLookup lookup;
      lookup.Lookup("127.0.0.1", "d" + std::to_string(i) + ".example", results[i]);
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i], Texts{"10 mx.d" + std::to_string(i) + ".example"});
  }
}

TEST_F(DnsLookupTest, ChineseTextsAreBig5) {
  const DnsTexts& zh = DnsTexts::Chinese();
  EXPECT_EQ(std::string(zh.unable_to_resolve), Utf8ToBig5("無法解析 '%s'"));
  EXPECT_EQ(std::string(zh.unable_to_bind), Utf8ToBig5("無法繫結本機位址"));
  EXPECT_EQ(std::string(zh.invalid_domain), Utf8ToBig5("網域名稱無效"));
  EXPECT_EQ(std::string(zh.unable_to_send), Utf8ToBig5("無法傳遞 UDP 要求 (%u)"));
  EXPECT_EQ(std::string(zh.unsupported), Utf8ToBig5("不支援"));

  // A client made with them uses them.
  ScriptedServer server(
      "127.0.0.1", 0,
      Answer({Record(Pointer(kQuestionName), kTypeTxt, "\x02hi"), Mx(10, "mx.example.com")}));
  UsePort(server.port());
  CDnsLookup lookup(zh);
  Texts results;
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", "example.com", results));
  EXPECT_EQ(results, (Texts{Utf8ToBig5("不支援"), "10 mx.example.com"}));
  EXPECT_TRUE(lookup.Lookup("127.0.0.1", std::string(64, 'a'), results));
  EXPECT_EQ(lookup.GetErrorText(), Utf8ToBig5("網域名稱無效"));
  const std::string bad = "no.such.host." + std::string(64, 'x') + ".invalid";
  EXPECT_FALSE(lookup.Lookup(bad, "example.com", results));
  EXPECT_EQ(lookup.GetErrorText(), Utf8ToBig5("無法解析 '" + bad + "'"));
}

}  // namespace
}  // namespace heron
