#include "service/mailbox.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

TEST(AddressTest, MailboxAndDomainComeFromTheBracketedAddress) {
  EXPECT_EQ(MailboxOf("<Bob@Example.com>"), "Bob");
  EXPECT_EQ(DomainOf("<Bob@Example.com>"), "Example.com");
  EXPECT_EQ(MailboxOf("Bob Smith < bob @ x.org > SIZE=5"), "bob");
  EXPECT_EQ(DomainOf("Bob Smith < bob @ x.org > SIZE=5"), "x.org");
  EXPECT_EQ(MailboxOf("plain"), "plain");
  EXPECT_EQ(DomainOf("plain"), "");
  EXPECT_EQ(DomainOf("<a@b"), "b");
  EXPECT_TRUE(IsLocalDomain("LOCAL.org", {"other.org", "local.ORG"}));
  EXPECT_FALSE(IsLocalDomain("local.org.evil", {"local.org"}));
  EXPECT_FALSE(IsLocalDomain("", {"local.org"}));
}

TEST(WildcardTest, StarsQuestionMarksAndCase) {
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("*", "anything"));
  EXPECT_TRUE(WildcardMatch("", ""));
  EXPECT_FALSE(WildcardMatch("", "x"));
  EXPECT_TRUE(WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
  EXPECT_FALSE(WildcardMatch("?", ""));
  EXPECT_FALSE(WildcardMatch("Bob@x", "bob@x"));
  EXPECT_TRUE(WildcardMatch("bob@*", "bob@x.org"));
  EXPECT_TRUE(WildcardMatch("abc***", "abc"));
  EXPECT_FALSE(WildcardMatch("abc", "abcd"));
  EXPECT_FALSE(WildcardMatch("abcd", "abc"));
  // Backtracking past an early false lead.
  EXPECT_TRUE(WildcardMatch("a*b*c", "axxbyybzzc"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "abcbc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "axxbyyczzb"));
  EXPECT_TRUE(WildcardMatch("*@*.spam.com", "x@a.b.spam.com"));
  EXPECT_FALSE(WildcardMatch("*@*.spam.com", "x@spam.com"));
}

TEST(WildcardTest, HostilePatternsFinishQuickly) {
  auto start = std::chrono::steady_clock::now();
  std::string text(5000, 'a');
  EXPECT_TRUE(WildcardMatch(std::string(2000, '*'), text));
  EXPECT_FALSE(WildcardMatch(std::string(2000, '*') + "b", text));
  std::string alternating;
  for (int i = 0; i < 1000; ++i) alternating += "*a";
  EXPECT_FALSE(WildcardMatch(alternating + "b", text));
  EXPECT_TRUE(WildcardMatch(alternating, text));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ForwardTest, TargetsExpandPartByPart) {
  EXPECT_EQ(ExpandForwardTarget("bob@example.com", "*@other.org"), "bob@other.org");
  EXPECT_EQ(ExpandForwardTarget("tom@x.org", "?o?@y.org"), "tom@y.org");
  EXPECT_EQ(ExpandForwardTarget("u@mail.example.com", "u2@*"), "u2@mail.example.com");
  // "*" takes the rest of the address part; target text after it is unused.
  EXPECT_EQ(ExpandForwardTarget("ab@d.org", "*z@d.org"), "ab@d.org");
  // Once the address part is used up, plain characters are still copied,
  // while "?" and "*" end the part.
  EXPECT_EQ(ExpandForwardTarget("a@b", "?xyz@b"), "axyz@b");
  EXPECT_EQ(ExpandForwardTarget("ab@x", "?-?q@x"), "a-@x");
  EXPECT_EQ(ExpandForwardTarget("ab@x", "??*z@x"), "ab@x");
  // Without "@" on either side the address itself is the target.
  EXPECT_EQ(ExpandForwardTarget("bob@x.org", "archive"), "bob@x.org");
  EXPECT_EQ(ExpandForwardTarget("bob", "*@y.org"), "bob");
  // Both split at their first "@".
  EXPECT_EQ(ExpandForwardTarget("a@b@c", "x@*"), "x@b@c");
}

TEST(ForwardTest, RulesJoinTheirTargetsInOrder) {
  std::vector<std::string> rules{"bob@*|bob@remote.org", "nomatch|x@y", "no bar here",
                                 "*@local.org|*@archive.org", "?ob@local.org|boss@remote.org"};
  EXPECT_EQ(ForwardTargets(" <bob@local.org> ", rules),
            "<bob@remote.org>,<bob@archive.org>,<boss@remote.org>");
  EXPECT_EQ(ForwardTargets("bob@other.org", rules), "<bob@remote.org>");
  EXPECT_EQ(ForwardTargets("<BOB@other.org>", rules), "");  // patterns keep case
  EXPECT_EQ(ForwardTargets("bob@local.org", {}), "");
}

TEST(MailboxNameTest, OnlySafeNamesOutsideTheServiceFolders) {
  for (const char* good : {"bob", "Bob.Smith", "a-b_c", "x..y"}) {
    EXPECT_TRUE(IsMailboxName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", ".x", "a/b", "../etc", "queue", "Drop", "XQUEUE", "yqueue",
                          "BadMail", "a\tb", "a\x7f"}) {
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

}  // namespace
}  // namespace heron
