#include "service/settings.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/list_rules.h"
#include "service/settings_store.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

TEST(SettingsTableTest, NamesKindsDefaultsAndRanges) {
  struct Case {
    const char* name;
    ScalarSetting::Kind kind;
    int32_t number;
    std::string text;
    int32_t good, bad;  // a value accepted and one refused (bad == good: no range)
  };
  using K = ScalarSetting::Kind;
  const Case cases[] = {
      {"loglevel", K::kNumber, 2, "", 3, 4},
      {"MaxLog", K::kNumber, 2, "", 1000, 0},
      {"Port", K::kNumber, 110, "", 65535, 65536},
      {"RetryTimes", K::kNumber, 10, "", 99, 100},
      {"RetryTimeout", K::kNumber, 24, "", 999, 0},
      {"FilterMode", K::kNumber, 0, "", 1, 2},
      {"Timeout", K::kNumber, 90, "", 9999, -1},
      {"ScanInterval", K::kNumber, 60, "", -5, -5},
      {"RobotProtected", K::kNumber, 1, "", 0, 2},
      {"MaxConnectionsPerIp", K::kNumber, 20, "", 0, -1},
      {"SmtpsPort", K::kNumber, 0, "", 465, 65536},
      {"TlsRequired", K::kNumber, 1, "", 0, 2},
      {"TlsCertificateFile", K::kText, 0, "", 0, 0},
      {"SpamTag", K::kText, 0, "[--SPAM--]", 0, 0},
      {"ServerID", K::kText, 0, "Heron Mail Server", 0, 0},
      {"CcAccount", K::kText, 0, Utf8ToBig5("-無-"), 0, 0},
      {"CatchAllAccount", K::kText, 0, Utf8ToBig5("-停用-"), 0, 0},
  };
  for (const Case& c : cases) {
    const ScalarSetting* s = FindScalarSetting(c.name);
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(s->kind, c.kind) << c.name;
    if (c.kind == K::kNumber) {
      EXPECT_EQ(s->number_default, c.number) << c.name;
    } else {
      EXPECT_EQ(s->TextDefault(), c.text) << c.name;
    }
    EXPECT_TRUE(s->Accepts(c.good)) << c.name;
    EXPECT_EQ(s->Accepts(c.bad), c.good == c.bad) << c.name;
  }
  EXPECT_EQ(FindScalarSetting("NoSuchSetting"), nullptr);

  // Each name once; the service holds every value of the table but the log
  // settings and those the applet alone reads.
  std::set<std::string> names;
  for (const ScalarSetting& s : ScalarSettings()) {
    EXPECT_TRUE(names.insert(ToLowerAscii(s.name)).second) << s.name;
    bool held = s.number || s.text;
    bool others = names.size() <= 3 || std::string(s.name) == "StartTime";
    EXPECT_NE(held, others) << s.name;
  }
  EXPECT_EQ(names.size(), 40u);
}

TEST(SettingsTableTest, HeldSettingsStartAtTheirDefaults) {
  OspreySettings s;
  EXPECT_EQ(s.port, 110);
  EXPECT_EQ(s.connections_limit, 500);
  EXPECT_EQ(s.log.level, 2);
  EXPECT_EQ(s.log.max_log, 2);
  EXPECT_EQ(s.server_id, "Heron Mail Server");
  EXPECT_FALSE(s.CcAccountOn());
  EXPECT_FALSE(s.CatchAllOn());
  // What depends on the machine is read from the store, never assumed.
  EXPECT_EQ(s.mail_folder, "");
  EXPECT_EQ(s.host_name, "");
  s.cc_account = "boss";
  s.catch_all_account = "catch";
  EXPECT_TRUE(s.CcAccountOn());
  EXPECT_TRUE(s.CatchAllOn());
}

TEST(SettingsTableTest, ReadsStoredValuesWithTheTableDefaults) {
  testing::TempDir dir(true);
  Registry reg(dir / "registry.db");
  SettingsStore store(reg);
  store.WriteNumber(kSettingsKey, "SmtpPort", 2525);
  store.WriteText(kSettingsKey, "HostName", "mx.example.org");
  OspreySettings s;
  ReadScalarSettings(store, s);
  EXPECT_EQ(s.smtp_port, 2525);
  EXPECT_EQ(s.port, 110);
  EXPECT_EQ(s.host_name, "mx.example.org");
  EXPECT_EQ(s.mail_folder, HeronHome() + "/Mailboxes/");
  EXPECT_EQ(ReadNumberSetting(store, *FindScalarSetting("RobotProtected")), 1);
}

TEST(ListRulesTest, EntriesThatAreTheSameAsOneAlready) {
  using C = ListCheck;
  struct Row {
    const char* list;
    std::vector<std::string> entries;
    const char* entry;
    ListCheck check;
  } rows[] = {
      {"Domains", {"Example.com"}, "EXAMPLE.COM", C::kDuplicate},
      {"ForwardRules", {"a@x|b@x"}, "B@x|A@x", C::kMutualForward},
      {"ForwardRules", {"a@x|b@x"}, "a@x|a@x", C::kToItself},
      {"ForwardRules", {"a@x|b@x"}, "|b@x", C::kNotARule},
      // Ranges compare by their ends, whatever the separator.
      {"IpFilter", {"10.0.0.1-10.0.0.9"}, "10.0.0.1 10.0.0.9", C::kDuplicate},
      {"IpFilter", {"10.0.0.1 10.0.0.1"}, "10.0.0.1", C::kDuplicate},
      {"SafeIp", {"10.0.0.1"}, "10.0.0.1 10.0.0.2", C::kOk},
      {"BlockMailFrom", {"10.0.0.1-10.0.0.9"}, "10.0.0.1 10.0.0.9", C::kOk},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CheckListAdd(*FindEditableList(r.list), r.entries, r.entry), r.check) << r.entry;
  }
  EXPECT_EQ(StoredIpEntry("10.0.0.1;10.0.0.9"), "10.0.0.1 10.0.0.9");
  EXPECT_EQ(StoredIpEntry("192.168.*.*"), "192.168.*.* 192.168.*.*");
}

}  // namespace
}  // namespace heron
