#include "service/mail_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

TEST(MailFoldersTest, EveryServiceFolderIsReservedWhateverItsCase) {
  for (const char* name :
       {"drop", "QUEUE", "XQueue", "yqueue", "zqueue", "ZQUEUE", "BadMail", ".tmp", ".TMP"}) {
    EXPECT_TRUE(IsServiceFolder(name)) << name;
  }
  for (const char* name : {"", "bob", "queue2", "tmp", "zqueue "}) {
    EXPECT_FALSE(IsServiceFolder(name)) << name;
  }
  EXPECT_EQ(MailRoot("/srv/mail//"), "/srv/mail");
  EXPECT_EQ(FolderPath("/srv/mail", kZQueueFolder), "/srv/mail/zqueue");
}

TEST(MailFoldersTest, QueueFileNames) {
  const std::string id = "0123456789ABCDEF0123456789ABCDEF";
  ASSERT_EQ(id.size(), kMessageIdDigits);
  EXPECT_EQ(MessageFileName(id), id + ".eml");
  EXPECT_EQ(WorkFileName(id + ".eml"), "r_" + id + ".eml");
  EXPECT_EQ(RetryFileName(id, "<Bob@Far.NET>", 0), id + "[bob@far.net]#0.eml");
  EXPECT_TRUE(HasMessageExtension("a.eml"));
  EXPECT_FALSE(HasMessageExtension(".eml"));
  EXPECT_FALSE(HasMessageExtension("a.eml.part"));

  struct Case {
    std::string name, without_prefix, without_extension;
    int retries;
  };
  const Case cases[] = {
      {"r_" + id + ".eml", id + ".eml", "r_" + id, 0},
      {id + "[bob@far.net]#7.eml", id + "[bob@far.net]#7.eml", id + "[bob@far.net]#7", 7},
      {id + "[a#b@far.net]#11.eml", id + "[a#b@far.net]#11.eml", id + "[a#b@far.net]#11", 11},
      // The trims take characters, not the exact texts.
      {"rr__x.mel", "x.mel", "rr__x", 0},
      {"r_", "", "r_", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimWorkPrefix(c.name), c.without_prefix) << c.name;
    EXPECT_EQ(TrimExtension(c.name), c.without_extension) << c.name;
    EXPECT_EQ(RetryCount(c.name), c.retries) << c.name;
  }
  EXPECT_EQ(WithRetryCount(id + "[bob@far.net]#10.eml", 11), id + "[bob@far.net]#11.eml");
  EXPECT_EQ(WithRetryCount(id + ".eml", 1), id + "#1.eml");
}

TEST(MailFoldersTest, MoveIsACopyThenADelete) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateFolderPath(dir / "queue"));
  ASSERT_TRUE(CreateFolderPath(dir / "xqueue"));
  ASSERT_TRUE(WriteFileAtomic(dir.path(), dir / "queue/m.eml", "body"));
  EXPECT_EQ(MoveFile(dir / "queue/m.eml", dir / "xqueue/m.eml", dir.path()), MoveResult::kMoved);
  EXPECT_FALSE(FileExists(dir / "queue/m.eml"));
  EXPECT_EQ(testing::Contents(dir / "xqueue/m.eml"), "body");
  EXPECT_EQ(MoveFile(dir / "queue/m.eml", dir / "badmail/m.eml", dir.path()),
            MoveResult::kCopyFailed);
  EXPECT_TRUE(FileExists(dir / "xqueue/m.eml"));
  if (geteuid() != 0) {  // root deletes from a read-only folder
    ASSERT_EQ(chmod((dir / "xqueue").c_str(), 0500), 0);
    EXPECT_EQ(MoveFile(dir / "xqueue/m.eml", dir / "queue/m.eml", dir.path()),
              MoveResult::kDeleteFailed);
    chmod((dir / "xqueue").c_str(), 0700);
  }
}

TEST(MailFoldersTest, WaitsOnlyWhileAccessIsRefused) {
  testing::TempDir dir;
  int pauses = 0;
  auto pause = [&pauses] { ++pauses; };
  EXPECT_FALSE(WaitUntilReadable(dir / "missing.eml", pause));
  EXPECT_EQ(pauses, 0);  // any other failure skips at once
  ASSERT_TRUE(WriteFileAtomic(dir.path(), dir / "m.eml", "x"));
  EXPECT_TRUE(WaitUntilReadable(dir / "m.eml", pause));
  EXPECT_EQ(pauses, 0);
  if (geteuid() != 0) {  // root reads whatever the mode
    ASSERT_EQ(chmod((dir / "m.eml").c_str(), 0), 0);
    EXPECT_FALSE(WaitUntilReadable(dir / "m.eml", pause, 3));
    EXPECT_EQ(pauses, 3);
  }
}

}  // namespace
}  // namespace heron
