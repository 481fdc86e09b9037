// Everything a client sends reaches the POP3 line splitter and dispatcher,
// logged in or not. The input is cut into reads at 0xFF bytes, so that lines
// and commands are split across reads as a network would split them.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/feed_reads.h"
#include "platform/files.h"
#include "pop3/pop3_session.h"
#include "service/mailbox.h"

namespace {

// Accepts admin with any password, so that inputs reach the transaction state.
struct Host : heron::Pop3SessionHost {
  void Log(const std::string&) override {}
  void Touch() override {}
  bool CheckPassword(const std::string& user, const std::string&) override {
    return heron::EqualsNoCase(user, "admin");
  }
};

struct World {
  World() {
    char tmpl[] = "/tmp/heron-fuzz-XXXXXX";
    dir = mkdtemp(tmpl);
    box = dir + "/Mailboxes/admin";
    heron::CreateFolderPath(box + "/sub");
    cfg.mail_folder = dir + "/Mailboxes/";
    cfg.ip_filter = {"198.51.100.*"};
  }
  // QUIT of an earlier input may have deleted them; TOP and RETR need files.
  void Refill() {
    Put("0123456789ABCDEF0123456789ABCDEF.eml",
        "X-Sender: a@b.org\r\nX-Receiver: admin@local.org\r\n\r\nHi.\r\n..\r\nend.\r\n");
    Put("plain", std::string("  Subject: x\n\nbody\0tail\n.", 25));
  }
  void Put(const std::string& name, const std::string& content) {
    std::string path = box + "/" + name;
    if (!heron::FileExists(path)) heron::WriteFileAtomic(dir + "/tmp", path, content);
  }
  std::string dir;
  std::string box;
  heron::CPop3Socket::Config cfg;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  world.Refill();
  Host host;
  heron::CPop3Socket session(world.cfg, "192.0.2.7", host);
  session.Start(0);
  FeedReads(session, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
