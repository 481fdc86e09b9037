#include "service/settings_store.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/encoded_list.h"
#include "service/settings.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  static std::string Key(const std::string& subkey) { return JoinKey(kRootKey, subkey); }
  void Put(const std::string& name, int type, const std::string& data) {
    ASSERT_TRUE(reg.SetValue(Key("Sub"), name, type, data));
  }

  testing::TempDir dir{/*as_home=*/true};
  Registry reg{dir / "registry.db"};
  SettingsStore store{reg};
};

TEST_F(SettingsStoreTest, NumbersAreLittleEndianWhateverTheType) {
  Put("Sz", kRegSz, std::string("30\0", 3));
  Put("Five", kRegBinary, "12345");
  Put("Two", kRegBinary, "\x34\x12");
  Put("Neg", kRegBinary, "\xFE\xFF\xFF\xFF");
  EXPECT_EQ(store.ReadNumber("Sub", "Sz", -1), 0x3033);
  EXPECT_EQ(store.ReadNumber("Sub", "Five", -1), -1);
  EXPECT_EQ(store.ReadNumber("Sub", "Two", -1), 0x1234);
  EXPECT_EQ(store.ReadNumber("Sub", "Neg", 0), -2);
  EXPECT_EQ(store.ReadNumber("Sub", "Absent", 77), 77);

  ASSERT_TRUE(store.WriteNumber("Sub", "W", 0x01020304));
  auto v = reg.QueryValue(Key("Sub"), "W");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, kRegDword);
  EXPECT_EQ(v->data, "\x04\x03\x02\x01");
}

TEST_F(SettingsStoreTest, TextsEndAtTheFirstNul) {
  Put("Cut", kRegSz, std::string("abc\0def\0", 8));
  Put("NoNul", kRegBinary, "plain");
  EXPECT_EQ(store.ReadText("Sub", "Cut", "d"), "abc");
  EXPECT_EQ(store.ReadText("Sub", "NoNul", "d"), "plain");
  EXPECT_EQ(store.ReadText("Sub", "Absent", "dflt"), "dflt");

  ASSERT_TRUE(store.WriteText("Sub", "T", "hello"));
  auto v = reg.QueryValue(Key("Sub"), "T");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, kRegSz);
  EXPECT_EQ(v->data, std::string("hello\0", 6));
  EXPECT_EQ(store.ReadText("Sub", "T", ""), "hello");
}

TEST_F(SettingsStoreTest, ReadsCreateTheKeyButNoValue) {
  EXPECT_EQ(store.ReadNumber("Fresh", "N", 5), 5);
  EXPECT_EQ(store.ReadText("Fresh", "T", "t"), "t");
  EXPECT_EQ(store.ReadList("Fresh", "L"), std::nullopt);
  EXPECT_TRUE(reg.KeyExists(Key("Fresh")));
  EXPECT_TRUE(reg.ValueNames(Key("Fresh")).empty());
}

TEST_F(SettingsStoreTest, NullTextOrNameDeletes) {
  store.WriteText("Gone", "A", "1");
  store.WriteText("Gone", "B", "2");
  store.WriteText("Gone\\Child", "C", "3");
  ASSERT_TRUE(store.WriteText("Gone", "A", nullptr));
  EXPECT_EQ(reg.ValueNames(Key("Gone")), std::vector<std::string>{"B"});
  ASSERT_TRUE(store.WriteText("Gone", nullptr, "ignored"));
  EXPECT_FALSE(reg.KeyExists(Key("Gone")));
  EXPECT_FALSE(reg.KeyExists(Key("Gone\\Child")));
  EXPECT_EQ(reg.QueryValue(Key("Gone\\Child"), "C"), std::nullopt);
}

TEST_F(SettingsStoreTest, ListsLoadUpToTheSizeLimit) {
  // Count (2) + long prefix (3) + text: 4095 bytes in all, then 4096.
  const std::vector<std::string> fits{std::string(kMaxListBytes - 5, 'a')};
  const std::vector<std::string> over{std::string(kMaxListBytes - 4, 'a')};
  ASSERT_EQ(EncodeList(fits).size(), 4095u);
  store.WriteList("Lists", "Fits", fits);
  store.WriteList("Lists", "Over", over);
  store.WriteBytes("Lists", "Bad", std::string("\x02\x00\x01z", 4));

  bool undecodable = true;
  EXPECT_EQ(store.ReadList("Lists", "Fits", &undecodable), fits);
  EXPECT_FALSE(undecodable);
  undecodable = true;
  EXPECT_EQ(store.ReadList("Lists", "Over", &undecodable), std::nullopt);
  EXPECT_FALSE(undecodable);
  undecodable = true;
  EXPECT_EQ(store.ReadList("Lists", "Absent", &undecodable), std::nullopt);
  EXPECT_FALSE(undecodable);
  EXPECT_EQ(store.ReadList("Lists", "Bad", &undecodable), std::nullopt);
  EXPECT_TRUE(undecodable);
  EXPECT_EQ(store.ReadList("Lists", "Bad"), std::nullopt);
}

TEST_F(SettingsStoreTest, EmptyStoreGivesDefaultsAndWritesNothing) {
  EXPECT_EQ(ReadLogSettings(store), (LogSettings{2, 2, ""}));

  using S = OspreySettings;
  const S defaults;
  int32_t S::*const numbers[] = {&S::port,           &S::smtp_port,         &S::block_dyn_ip,
                                 &S::block_dyn_ip2,  &S::check_dnsbl,       &S::filter_mode,
                                 &S::ip_cache_size,  &S::connections_limit, &S::max_message_size,
                                 &S::timeout,        &S::relay_timeout,     &S::retry_timeout,
                                 &S::retry_times,    &S::auth_local,        &S::auth_remote,
                                 &S::auth_forward,   &S::cpwd_remote,       &S::manage_remote,
                                 &S::relay_messages, &S::domain_as_host,    &S::max_recipients,
                                 &S::scan_interval};
  OspreySettings s;
  for (auto m : numbers) s.*m = -12345;
  s.spam_tag = s.server_id = "stale";
  ReadScalarSettings(store, s);
  for (auto m : numbers) EXPECT_EQ(s.*m, defaults.*m);
  EXPECT_EQ(s.port, 110);
  EXPECT_EQ(s.smtp_port, 25);
  EXPECT_EQ(s.timeout, 90);
  EXPECT_EQ(s.connections_limit, 500);
  EXPECT_EQ(s.server_id, "Heron Mail Server");
  EXPECT_EQ(s.spam_tag, "[--SPAM--]");
  EXPECT_EQ(s.mail_folder, dir.path() + "/Mailboxes/");
  EXPECT_EQ(s.host_name, MachineHostName());
  EXPECT_EQ(s.cc_account, Utf8ToBig5("-無-"));
  EXPECT_EQ(s.catch_all_account, Utf8ToBig5("-停用-"));

  EXPECT_TRUE(reg.KeyExists(Key("Settings")));
  EXPECT_TRUE(reg.ValueNames(Key("Settings")).empty());
}

}  // namespace
}  // namespace heron
