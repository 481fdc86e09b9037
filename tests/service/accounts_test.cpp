#include "service/accounts.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/text.h"
#include "service/settings_store.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using testing::Bytes;

using Accounts = std::vector<CUserAccount>;

const CUserAccount kAdmin{"admin", "Administrator", "", 0};

class AccountStoreTest : public ::testing::Test {
 protected:
  std::optional<std::string> Stored() { return store.ReadBytes("UserAccounts", "Users"); }
  void Put(const std::string& bytes) {
    ASSERT_TRUE(store.WriteBytes("UserAccounts", "Users", bytes));
  }
  bool IsFolder(const std::string& path) {
    auto st = StatFile(path);
    return st && st->is_dir;
  }

  testing::TempDir dir;
  Registry reg{dir / "registry.db"};
  SettingsStore store{reg};
  std::string mail = dir / "Mailboxes/";
  AccountStore accounts{store, [this] { return mail; }};
};

TEST(AccountEncodingTest, DefaultAccountHasExactBytesInBothLayouts) {
  std::string current = EncodeAccounts({kAdmin});
  std::string head = Bytes({0x01, 0x00, 0x05}) + "admin" + "\x0D" + "Administrator" + '\0';
  EXPECT_EQ(current, head + std::string(4, '\0'));
  EXPECT_EQ(current.size(), 27u);
  EXPECT_EQ(EncodeAccounts({kAdmin}, /*old_layout=*/true), head);

  EXPECT_EQ(DecodeAccounts(current), Accounts{kAdmin});
  EXPECT_EQ(DecodeAccounts(head, true), Accounts{kAdmin});
  // The old layout runs short as the current one; truncated values fail.
  EXPECT_EQ(DecodeAccounts(head), std::nullopt);
  EXPECT_EQ(DecodeAccounts(current.substr(0, 26)), std::nullopt);
  EXPECT_EQ(DecodeAccounts(""), std::nullopt);

  Accounts flagged{{"bob", "", "pw", 1}, {"x", "Full", "", -1}};
  std::string enc = EncodeAccounts(flagged);
  EXPECT_EQ(enc.substr(enc.size() - 4), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(DecodeAccounts(enc), flagged);
}

TEST_F(AccountStoreTest, EmptyStoreGivesTheDefaultAccountAndItsFolder) {
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kDefault);
  EXPECT_EQ(accounts.accounts(), Accounts{kAdmin});
  EXPECT_TRUE(IsFolder(dir / "Mailboxes/admin"));
  EXPECT_EQ(Stored(), std::nullopt);  // the default is not written

  // The default admin has no password: it never logs in until one is set.
  EXPECT_FALSE(accounts.CheckPassword("ADMIN", ""));
  EXPECT_TRUE(accounts.Exists("Admin"));
  ASSERT_TRUE(accounts.SetPassword("admin", "Root"));
  // Names and passwords are compared without regard to case.
  EXPECT_TRUE(accounts.CheckPassword("ADMIN", "rOOT"));
  EXPECT_FALSE(accounts.CheckPassword("admin", "x"));
  EXPECT_FALSE(accounts.Exists("nobody"));

  Put(EncodeAccounts({{"Bob", "", "Secret", 1}}));
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kLoaded);
  int32_t flag = 0;
  EXPECT_TRUE(accounts.CheckPassword("bob", "sECRET", &flag));
  EXPECT_EQ(flag, 1);
  EXPECT_FALSE(accounts.Exists("admin"));
  EXPECT_TRUE(IsFolder(dir / "Mailboxes/Bob"));
}

TEST_F(AccountStoreTest, StoredUnsafeNamesGetNoFolder) {
  Put(EncodeAccounts({{"../evil", "", "", 0}, {"queue", "", "", 0}, {"ok", "", "", 0}}));
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kLoaded);
  EXPECT_EQ(accounts.accounts().size(), 3u);
  EXPECT_FALSE(FileExists(dir / "evil"));
  EXPECT_FALSE(FileExists(dir / "Mailboxes/queue"));
  EXPECT_TRUE(IsFolder(dir / "Mailboxes/ok"));
}

TEST_F(AccountStoreTest, OldLayoutIsMigratedOnce) {
  Accounts old{{"carol", "Carol C", "pw", 0}, {"dave", "", "", 0}};
  Put(EncodeAccounts(old, /*old_layout=*/true));
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kMigrated);
  EXPECT_EQ(accounts.accounts(), old);
  EXPECT_EQ(Stored(), EncodeAccounts(old));
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kLoaded);
  EXPECT_EQ(accounts.accounts(), old);
  EXPECT_TRUE(IsFolder(dir / "Mailboxes/dave"));
}

TEST_F(AccountStoreTest, AddRefusesCaseDuplicatesAndUnsafeNames) {
  accounts.Load();
  EXPECT_FALSE(accounts.Add("ADMIN", "x"));
  for (const char* bad : {"../x", ".x", "a/b", "queue", "DROP", "", ".", ".."}) {
    EXPECT_FALSE(accounts.Add(bad, "pw")) << bad;
  }
  EXPECT_FALSE(accounts.Add(std::string("a\0b", 3), "pw"));
  EXPECT_FALSE(FileExists(dir / "x"));
  EXPECT_EQ(accounts.accounts(), Accounts{kAdmin});

  ASSERT_TRUE(accounts.Add("carol", "PW"));
  Accounts both{kAdmin, {"carol", "", "PW", 0}};
  EXPECT_EQ(accounts.accounts(), both);
  EXPECT_EQ(Stored(), EncodeAccounts(both));
  EXPECT_TRUE(IsFolder(dir / "Mailboxes/carol"));
  EXPECT_TRUE(accounts.CheckPassword("Carol", "pw"));

  EXPECT_TRUE(accounts.SetPassword("CAROL", "new"));
  EXPECT_TRUE(accounts.CheckPassword("carol", "NEW"));
  EXPECT_FALSE(accounts.SetPassword("nobody", "x"));
}

TEST_F(AccountStoreTest, DeleteReportsSuccessAndRewritesTheList) {
  accounts.Load();
  EXPECT_TRUE(accounts.Delete("nobody"));
  EXPECT_EQ(Stored(), EncodeAccounts({kAdmin}));
  EXPECT_TRUE(accounts.Delete("ADMIN"));
  EXPECT_EQ(Stored(), Bytes({0x00, 0x00}));
  EXPECT_TRUE(accounts.accounts().empty());
  EXPECT_FALSE(accounts.CheckPassword("admin", ""));
}

TEST_F(AccountStoreTest, ListPastTheSizeLimitIsNotStored) {
  accounts.Load();
  const std::string password(200, 'p');  // 210 bytes per account
  int added = 0;
  std::optional<std::string> before;
  Accounts held;
  for (;; ++added) {
    before = Stored();
    held = accounts.accounts();
    if (!accounts.Add(StrPrintf("u%02d", added), password)) break;
    ASSERT_LT(added, 100);
  }
  EXPECT_EQ(added, 19);  // 27 + 19 * 210 = 4017; one more passes 4095
  ASSERT_TRUE(before.has_value());
  EXPECT_LE(before->size(), kMaxAccountBytes);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(accounts.accounts(), held);
  EXPECT_FALSE(accounts.Exists("u19"));

  // A password change that would overflow is not kept either.
  EXPECT_FALSE(accounts.SetPassword("admin", std::string(300, 'x')));
  EXPECT_FALSE(accounts.CheckPassword("admin", std::string(300, 'x')));
  EXPECT_EQ(Stored(), before);
}

TEST_F(AccountStoreTest, ReplaceStoresTheAppletsOrderOrNothing) {
  accounts.Load();
  ASSERT_TRUE(accounts.Replace({{"carol", "", "", 0}, {"Bob", "", "", 0}, kAdmin}));
  Accounts sorted{kAdmin, {"Bob", "", "", 0}, {"carol", "", "", 0}};
  EXPECT_EQ(accounts.accounts(), sorted);
  EXPECT_EQ(Stored(), EncodeAccounts(sorted));
  EXPECT_EQ(StoredAccountNames(store), (std::vector<std::string>{"admin", "Bob", "carol"}));
  EXPECT_FALSE(accounts.Replace({{"x", "", std::string(4095, 'p'), 0}}));
  EXPECT_EQ(accounts.accounts(), sorted);
  EXPECT_EQ(Stored(), EncodeAccounts(sorted));
}

TEST_F(AccountStoreTest, UnreadableValuesKeepTheListHeldBefore) {
  accounts.Load();
  ASSERT_TRUE(accounts.Add("carol", "pw"));
  Accounts held = accounts.accounts();

  Put(Bytes({0x05, 0x00, 0x03}) + "ab");
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kUndecodable);
  EXPECT_EQ(accounts.accounts(), held);

  Put(std::string(kMaxAccountBytes + 1, '\0'));
  EXPECT_EQ(accounts.Load(), AccountStore::LoadResult::kTooLong);
  EXPECT_EQ(accounts.accounts(), held);
}

}  // namespace
}  // namespace heron
