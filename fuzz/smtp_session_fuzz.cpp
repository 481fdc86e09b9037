// Everything a client sends reaches the SMTP line splitter and dispatcher.
// The input is cut into reads at 0xFF bytes, so that lines and commands are
// split across reads as a network would split them.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/feed_reads.h"
#include "platform/registry.h"
#include "service/accounts.h"
#include "service/settings_store.h"
#include "smtp/smtp_session.h"

namespace {

struct Host : heron::SmtpSessionHost {
  explicit Host(heron::AccountStore& a) : store(a) {}
  void Log(const std::string&) override {}
  void Touch() override {}
  heron::AccountStore& accounts() override { return store; }
  bool StoreMessage(const std::string&, const std::string& content) override {
    return !content.empty();
  }
  heron::AccountStore& store;
};

struct World {
  World() {
    char tmpl[] = "/tmp/heron-fuzz-XXXXXX";
    dir = mkdtemp(tmpl);
    reg = new heron::Registry(dir + "/registry.db");
    store = new heron::SettingsStore(*reg);
    accounts = new heron::AccountStore(*store, [this] { return dir + "/Mailboxes"; });
    accounts->Load();
    settings.mail_folder = dir + "/Mailboxes";
    settings.domains = {"example.com"};
    settings.forward_rules = {"*@example.com|*@far.net", "a?c@*|x@example.com"};
    settings.max_message_size = 1;
  }
  std::string dir;
  heron::Registry* reg;
  heron::SettingsStore* store;
  heron::AccountStore* accounts;
  heron::OspreySettings settings;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  Host host(*world.accounts);
  heron::CSmtpSocket session(world.settings, "192.0.2.7", host);
  session.Start(0);
  FeedReads(session, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
