#include "service/mailbox_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "service/mail_folders.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

TEST(MailboxNameTest, OnlySafeNamesOutsideTheServiceFolders) {
  for (const char* good : {"bob", "Bob.Smith", "a-b_c", "x..y"}) {
    EXPECT_TRUE(IsMailboxName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", ".x", "a/b", "../etc", "queue", "Drop", "XQUEUE", "yqueue",
                          "BadMail", "zqueue", "ZQueue", ".tmp", "a\tb", "a\x7f"}) {
    EXPECT_FALSE(IsMailboxName(bad)) << bad;
  }
  EXPECT_FALSE(IsMailboxName(std::string("a\0b", 3)));
}

TEST(MailboxFolderTest, FoldersAreFoundWithoutRegardToCase) {
  testing::TempDir dir;
  const std::string root = MailRoot(dir / "Mailboxes//");
  EXPECT_EQ(root, dir / "Mailboxes");
  ASSERT_TRUE(CreateFolderPath(root + "/Bob"));
  ASSERT_TRUE(CreateFolderPath(dir / "secret"));

  EXPECT_EQ(FindMailbox(root, "BOB"), root + "/Bob");
  EXPECT_EQ(FindMailbox(root, "carol"), std::nullopt);
  EXPECT_EQ(FindMailbox(root, "../secret"), std::nullopt);
  EXPECT_EQ(FindMailbox(root, ".."), std::nullopt);

  // A plain file is not a mailbox.
  ASSERT_TRUE(WriteFileAtomic(root, root + "/file", "x"));
  EXPECT_EQ(FindMailbox(root, "file"), std::nullopt);

  // An exact spelling wins over another case form.
  ASSERT_TRUE(CreateFolderPath(root + "/bob"));
  EXPECT_EQ(FindMailbox(root, "bob"), root + "/bob");

  EXPECT_EQ(EnsureMailbox(root, "BOB"), FindMailbox(root, "BOB"));
  EXPECT_FALSE(FileExists(root + "/BOB"));
  EXPECT_EQ(EnsureMailbox(root, "new"), root + "/new");
  EXPECT_TRUE(StatFile(root + "/new")->is_dir);
  EXPECT_EQ(EnsureMailbox(root, "../made"), std::nullopt);
  EXPECT_EQ(EnsureMailbox(root, "Queue"), std::nullopt);
  EXPECT_FALSE(FileExists(dir / "made"));
  EXPECT_FALSE(FileExists(root + "/Queue"));
}

TEST(MailboxFolderTest, FilesAreListedFromTheFolderFoundWithoutRegardToCase) {
  testing::TempDir dir;
  const std::string root = dir.path();
  EXPECT_TRUE(ListMailboxFiles(root, "admin").empty());  // no folder: an empty mailbox
  ASSERT_TRUE(CreateFolderPath(root + "/admin/sub"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/admin/m1.eml", "hello\r\n"));
  auto files = ListMailboxFiles(root, "ADMIN");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, root + "/admin/m1.eml");
  EXPECT_EQ(files[0].size, 7u);
  EXPECT_TRUE(ListMailboxFiles(root, "../" + root.substr(root.rfind('/') + 1)).empty());
}

TEST(MailboxFolderTest, DeletingAMailboxTakesItsMessagesOnly) {
  testing::TempDir dir;
  const std::string root = dir.path();
  EXPECT_EQ(DeleteMailbox(root, "nobody"), 0);
  ASSERT_TRUE(CreateFolderPath(root + "/bob") && CreateFolderPath(root + "/carol"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/bob/1.eml", "x"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/bob/2.EML", "x"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/carol/notes.txt", "keep"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/carol/1.eml", "x"));
  EXPECT_EQ(DeleteMailbox(root, "BOB"), 0);
  EXPECT_FALSE(FileExists(root + "/bob"));
  // Other files keep the folder, and the failure is told.
  EXPECT_NE(DeleteMailbox(root, "carol"), 0);
  EXPECT_TRUE(FileExists(root + "/carol/notes.txt"));
  EXPECT_FALSE(FileExists(root + "/carol/1.eml"));
  EXPECT_EQ(DeleteMailbox(root, ".."), 0);
  EXPECT_TRUE(FileExists(root + "/carol"));
  // A mailbox that is a link, or a mail folder that is empty, relative or
  // "/", is never emptied.
  ASSERT_TRUE(CreateFolderPath(root + "/elsewhere"));
  ASSERT_TRUE(WriteFileAtomic(root, root + "/elsewhere/1.eml", "x"));
  ASSERT_EQ(symlink((root + "/elsewhere").c_str(), (root + "/dave").c_str()), 0);
  EXPECT_NE(DeleteMailbox(root, "dave"), 0);
  for (const char* bad_root : {"", "/", "relative/Mailboxes"}) {
    EXPECT_NE(DeleteMailbox(MailRoot(bad_root), "elsewhere"), 0) << bad_root;
  }
  EXPECT_TRUE(FileExists(root + "/elsewhere/1.eml"));
}

}  // namespace
}  // namespace heron
