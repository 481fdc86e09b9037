#include "smtp/distribution.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "tests/platform/temp_dir.h"
#include "tests/service/memory_accounts.h"

namespace heron {
namespace {

using testing::Contents;

class DistributionTest : public ::testing::Test {
 protected:
  DistributionTest() {
    settings.mail_folder = dir / "Mail/";
    settings.domains = {"local.org"};
    accounts.Load();
  }
  // Writes a drop file for the recipients; returns its path.
  std::string Drop(const std::string& name, const std::vector<std::string>& to) {
    std::string content = "x-sender: <a@far.net>\r\n";
    for (const auto& r : to) content += "x-receiver: " + r + "\r\n";
    content += "Received: from h ([192.0.2.1]) by local.org with x;\r\n\tdate\r\n\r\nbody\r\n";
    CreateFolderPath(root + "/drop");
    EXPECT_TRUE(WriteFileAtomic(root, root + "/drop/" + name, content));
    return root + "/drop/" + name;
  }
  bool Has(const std::string& folder, const std::string& name) {
    return FileExists(root + "/" + folder + "/" + name);
  }
  bool Logged(const std::string& utf8) {
    return std::find(logs.begin(), logs.end(), Utf8ToBig5(utf8)) != logs.end();
  }

  testing::TempDir dir;
  std::string root = dir / "Mail";
  OspreySettings settings;
  testing::MemoryAccounts storage{{{"admin", "", "pw", 0}, {"Bob", "", "pw", 0}}};
  AccountStore accounts{storage};
  std::vector<std::string> logs;
  CDistribution distribution{
      [this] { return std::shared_ptr<const OspreySettings>(std::shared_ptr<void>(), &settings); },
      accounts, [this](int, const std::string& text) { logs.push_back(text); }};
};

TEST_F(DistributionTest, LocalCopiesOneQueueCopyAndTheCopyAccount) {
  ASSERT_TRUE(CreateFolderPath(root + "/carol"));
  std::string drop = Drop("m1.eml", {"<carol@LOCAL.org>", "<x@far.net>", "<y@far.net>"});
  EXPECT_TRUE(distribution.Distribute(drop));
  EXPECT_FALSE(FileExists(drop));
  EXPECT_TRUE(Has("carol", "m1.eml"));
  EXPECT_EQ(Contents(root + "/queue/m1.eml"), Contents(root + "/carol/m1.eml"));
  EXPECT_NE(Contents(root + "/queue/m1.eml").find("x-receiver: <carol@LOCAL.org>"),
            std::string::npos);
  EXPECT_TRUE(Logged("<SMTP> 訊息接收中: m1.eml"));
  EXPECT_TRUE(Logged("<SMTP> 複製訊息到： " + root + "/carol/"));
  EXPECT_TRUE(Logged("<SMTP> 複製訊息到： " + root + "/queue/"));

  settings.cc_account = "boss";
  EXPECT_TRUE(distribution.Distribute(Drop("m2.eml", {"<x@far.net>", "<y@far.net>"})));
  EXPECT_TRUE(Has("queue", "m2.eml"));
  EXPECT_TRUE(Has("boss", "m2.eml"));
  EXPECT_TRUE(Logged("<SMTP> 複製寄件複本到： " + root + "/boss/"));
}

TEST_F(DistributionTest, AccountsCatchAllAndCopyRules) {
  // An account without a folder gets one in its own spelling; copy rules
  // reach only targets that have a folder.
  ASSERT_TRUE(CreateFolderPath(root + "/archive"));
  settings.copy_rules = {"bob|archive, nofolder", "other|archive"};
  EXPECT_TRUE(distribution.Distribute(Drop("m1.eml", {"<BOB@local.org>", "<ghost@local.org>"})));
  EXPECT_TRUE(Has("Bob", "m1.eml"));
  EXPECT_TRUE(Has("archive", "m1.eml"));
  EXPECT_FALSE(FileExists(root + "/nofolder"));
  EXPECT_FALSE(FileExists(root + "/ghost"));  // catch-all off: nothing

  settings.catch_all_account = "catch";
  EXPECT_TRUE(distribution.Distribute(Drop("m2.eml", {"<ghost@local.org>"})));
  EXPECT_TRUE(Has("catch", "m2.eml"));
  EXPECT_TRUE(Logged("<SMTP> 收件人帳號不存在，複製訊息到： " + root + "/catch/"));
}

TEST_F(DistributionTest, ServiceFoldersAreNeverMailboxes) {
  for (const char* folder : {"zqueue", ".tmp", "drop", "badmail"}) {
    ASSERT_TRUE(CreateFolderPath(root + "/" + folder));
  }
  std::string drop = Drop("m1.eml", {"<zqueue@local.org>", "<Drop@local.org>", "<.tmp@local.org>"});
  EXPECT_TRUE(distribution.Distribute(drop));
  EXPECT_FALSE(Has("zqueue", "m1.eml"));
  EXPECT_FALSE(Has(".tmp", "m1.eml"));
  EXPECT_FALSE(FileExists(drop));

  // Nor can a setting make one of them the catch-all or the copy account.
  settings.catch_all_account = "ZQueue";
  settings.cc_account = "badmail";
  EXPECT_TRUE(distribution.Distribute(Drop("m2.eml", {"<nobody@local.org>", "<x@far.net>"})));
  EXPECT_FALSE(Has("zqueue", "m2.eml"));
  EXPECT_FALSE(Has("badmail", "m2.eml"));
  EXPECT_TRUE(Logged("<SMTP> 帳號名稱無法作為信箱： ZQueue"));
}

TEST_F(DistributionTest, AFailedCopyKeepsTheDropFileForLater) {
  ASSERT_TRUE(CreateFolderPath(root));
  ASSERT_TRUE(WriteFileAtomic(dir.path(), root + "/queue", "in the way"));
  std::string drop = Drop("m1.eml", {"<bob@local.org>", "<x@far.net>"});
  EXPECT_FALSE(distribution.Distribute(drop));
  EXPECT_TRUE(FileExists(drop));
  EXPECT_TRUE(Has("Bob", "m1.eml"));
  EXPECT_TRUE(Logged("<SMTP> 複製失敗： " + root + "/queue/"));

  // At the next start: partial writes go, the kept file is distributed again
  // together with the other leftovers, oldest first.
  ASSERT_TRUE(DeleteFile(root + "/queue"));
  ASSERT_TRUE(WriteFileAtomic(dir.path(), root + "/.tmp/partial", "x"));
  std::string newer = Drop("m0.eml", {"<admin@local.org>"});
  struct utimbuf old_times = {1000, 1000};
  ASSERT_EQ(utime(drop.c_str(), &old_times), 0);
  logs.clear();
  for (const std::string& leftover : distribution.TakeLeftovers()) {
    distribution.Distribute(leftover);
  }
  EXPECT_FALSE(FileExists(root + "/.tmp/partial"));
  EXPECT_FALSE(FileExists(drop));
  EXPECT_FALSE(FileExists(newer));
  EXPECT_TRUE(Has("queue", "m1.eml"));
  EXPECT_TRUE(Has("admin", "m0.eml"));
  auto first = std::find(logs.begin(), logs.end(), Utf8ToBig5("<SMTP> 訊息接收中: m1.eml"));
  auto second = std::find(logs.begin(), logs.end(), Utf8ToBig5("<SMTP> 訊息接收中: m0.eml"));
  EXPECT_LT(first, second);

  EXPECT_TRUE(distribution.kept().empty());
  EXPECT_FALSE(FileExists(root + "/drop/m1.eml.done"));

  // A drop file that cannot be read is left alone.
  EXPECT_FALSE(distribution.Distribute(root + "/drop/gone.eml"));
  EXPECT_TRUE(Logged("<SMTP> 無法讀取訊息： " + root + "/drop/gone.eml"));
}

TEST_F(DistributionTest, AKeptFileNeverGivesAFolderASecondCopy) {
  ASSERT_TRUE(CreateFolderPath(root));
  ASSERT_TRUE(WriteFileAtomic(dir.path(), root + "/queue", "in the way"));
  std::string drop = Drop("m1.eml", {"<bob@local.org>", "<admin@local.org>", "<x@far.net>"});
  EXPECT_FALSE(distribution.Distribute(drop));
  EXPECT_EQ(distribution.kept(), std::vector<std::string>{drop});
  EXPECT_EQ(Contents(root + "/drop/m1.eml.done"), "Bob\nadmin\n");

  // Bob fetches and deletes his copy; the retry must not bring it back, nor
  // touch admin's, and succeeds once the queue can be written.
  ASSERT_TRUE(DeleteFile(root + "/Bob/m1.eml"));
  logs.clear();
  distribution.RetryKept();
  EXPECT_FALSE(Has("Bob", "m1.eml"));
  EXPECT_FALSE(Logged("<SMTP> 複製訊息到： " + root + "/Bob/"));
  EXPECT_EQ(distribution.kept().size(), 1u);
  ASSERT_TRUE(DeleteFile(root + "/queue"));
  distribution.RetryKept();
  EXPECT_TRUE(Has("queue", "m1.eml"));
  EXPECT_FALSE(Has("Bob", "m1.eml"));
  EXPECT_TRUE(distribution.kept().empty());
  EXPECT_FALSE(FileExists(drop));
  EXPECT_FALSE(FileExists(root + "/drop/m1.eml.done"));

  // A journal left without its drop file goes at the next start.
  ASSERT_TRUE(WriteFileAtomic(dir.path(), root + "/drop/gone.eml.done", "Bob\n"));
  EXPECT_TRUE(distribution.TakeLeftovers().empty());
  EXPECT_FALSE(FileExists(root + "/drop/gone.eml.done"));
}

}  // namespace
}  // namespace heron
