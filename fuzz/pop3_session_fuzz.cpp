// Everything a client sends reaches the POP3 line splitter and dispatcher,
// logged in or not. The input is cut into reads at 0xFF bytes, so that lines
// and commands are split across reads as a network would split them.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/feed_reads.h"
#include "platform/text.h"
#include "pop3/pop3_session.h"
#include "service/message_file.h"

namespace {

// Accepts admin with any password, so that inputs reach the transaction
// state; the mailbox is filled afresh for every input, since QUIT deletes.
struct Host : heron::Pop3SessionHost {
  Host() {
    files["/m/admin/0123456789ABCDEF0123456789ABCDEF.eml"] =
        "X-Sender: a@b.org\r\nX-Receiver: admin@local.org\r\n\r\nHi.\r\n..\r\nend.\r\n";
    files["/m/admin/plain"] = std::string("  Subject: x\n\nbody\0tail\n.", 25);
  }
  void Log(const std::string&) override {}
  void Touch() override {}
  bool CheckPassword(const std::string& user, const std::string&) override {
    return heron::EqualsNoCase(user, "admin");
  }
  std::vector<heron::MailboxFile> ListMailbox(const std::string& user) override {
    std::vector<heron::MailboxFile> out;
    if (!heron::EqualsNoCase(user, "admin")) return out;
    for (const auto& [path, content] : files) out.push_back({path, content.size()});
    return out;
  }
  bool ReadMessage(const std::string& path, std::string& content) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    content = it->second;
    return true;
  }
  bool DeleteMessage(const std::string& path) override { return files.erase(path) == 1; }
  size_t ReceiverBytes(const std::string& path) override {
    auto it = files.find(path);
    return it == files.end() ? 0 : heron::ReceiverLineBytes(it->second);
  }
  std::map<std::string, std::string> files;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  heron::CPop3Socket::Config cfg;
  cfg.ip_filter = {"198.51.100.*"};
  cfg.tls = FuzzTlsPolicy(size);
  Host host;
  heron::CPop3Socket session(cfg, "192.0.2.7", host);
  session.Start(0);
  FeedReads(session, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
