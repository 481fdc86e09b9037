#include "service/address.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace heron
