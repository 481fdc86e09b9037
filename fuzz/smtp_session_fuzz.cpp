// Everything a client sends reaches the SMTP line splitter and dispatcher.
// The input is cut into reads at 0xFF bytes, so that lines and commands are
// split across reads as a network would split them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/feed_reads.h"
#include "service/accounts.h"
#include "smtp/smtp_session.h"

namespace {

// The account list lives in memory; mailbox folders are only remembered.
struct Storage : heron::AccountStorage {
  std::optional<std::string> ReadList() override { return bytes; }
  bool WriteList(const std::string& b) override {
    bytes = b;
    return true;
  }
  void EnsureMailboxes(const std::vector<heron::CUserAccount>&) override {}
  std::optional<std::string> bytes;
};

struct Host : heron::SmtpSessionHost {
  Host() : store(storage) { store.Load(); }
  void Log(const std::string&) override {}
  void Touch() override {}
  heron::AccountStore& accounts() override { return store; }
  bool HasMailbox(const std::string& name) override { return name == "box"; }
  void EnsureMailbox(const std::string&) override {}
  bool ReadLogTail(size_t limit, std::string& out) override {
    out = std::string("[1]line\r\n.\r\n..x\r\n").substr(0, limit);
    return true;
  }
  std::string NewMessageId() override { return "0123456789ABCDEF0123456789ABCDEF"; }
  std::time_t Now() override { return 1796576779; }
  bool Listed(const std::string& query) override { return query.size() % 2 == 0; }
  heron::ReverseName Reverse(const std::string& address) override {
    return {!address.empty(), true, "host-1.dsl.example"};
  }
  bool InCache(bool, const std::string&) override { return false; }
  void AddToCache(bool, const std::string&) override {}
  bool StoreMessage(const std::string&,
                    const std::function<void(const heron::MessageWriter&)>& produce) override {
    size_t size = 0;
    produce([&size](std::string_view piece) { size += piece.size(); });
    return size > 0;
  }
  Storage storage;
  heron::AccountStore store;
};

heron::OspreySettings Settings() {
  heron::OspreySettings s;
  s.domains = {"example.com"};
  s.forward_rules = {"*@example.com|*@far.net", "a?c@*|x@example.com"};
  s.max_message_size = 1;
  s.manage_remote = 1;
  s.catch_all_account = "catch";
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const heron::OspreySettings settings = Settings();
  Host host;
  heron::CSmtpSocket session(settings, "192.0.2.7", host, FuzzTlsPolicy(size));
  session.Start(0);
  FeedReads(session, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
