#include "service/mail_rules.h"

#include <gtest/gtest.h>

#include <chrono>

#include "service/wildcard.h"

namespace heron {
namespace {

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

TEST(CopyRuleTest, TargetsOfTheMailboxInListOrderTrimmed) {
  std::vector<std::string> rules{"bob|carol", "BOB| dave , erin ", "other|x", "no bar", "bob|"};
  EXPECT_EQ(CopyTargets("Bob", rules), (std::vector<std::string>{"carol", "dave", "erin", ""}));
  EXPECT_TRUE(CopyTargets("nobody", rules).empty());
}

}  // namespace
}  // namespace heron
