#include "smtp/screening.h"

#include <gtest/gtest.h>

#include "service/address_cache.h"

namespace heron {
namespace {

TEST(ScreeningTest, PrivateAddressesAndBlocklistNames) {
  for (const char* a :
       {"", "127.0.0.1", "10.1.2.3", "172.99.0.1", "192.168.1.5", "169.254.0.9", "::1"}) {
    EXPECT_TRUE(IsPrivateAddress(a)) << a;
  }
  for (const char* a : {"127.0.0.30", "192.169.1.1", "11.0.0.1", "8.8.8.8"}) {
    EXPECT_FALSE(IsPrivateAddress(a)) << a;
  }
  EXPECT_EQ(BlocklistQuery("192.0.2.1", "zone.example"), "1.2.0.192.zone.example");
  for (const char* bad : {"192.0.2", "a.b.c.d", "1.2.3.256", "1.2.3.4.5", "::1", ""}) {
    EXPECT_EQ(BlocklistQuery(bad, "z"), "") << bad;
  }
}

TEST(ScreeningTest, ReverseNameKeywords) {
  const std::vector<std::string> keys = {" dynamic ", "*.DSL", "POOL*", "*adsl*"};
  struct Case {
    ReverseName reverse;
    bool block_dyn_ip2;
    bool suspect;
  };
  const Case cases[] = {
      {{true, true, "host.Dynamic.example.net"}, false, true},  // contains, any case
      {{true, true, "a-b.cust.dsl"}, false, true},              // ends with .DSL
      {{true, true, "cust-dsl.example"}, false, false},         // "-" is "." but not the end
      {{true, true, "x.cust-dsl"}, false, true},                // "-" read as "."
      {{true, true, "pool-1.example.org"}, false, true},        // begins with POOL
      {{true, true, "my.pool.example.org"}, false, false},
      {{true, true, "h.adsl.example"}, false, true},
      {{true, true, "mail.example.org"}, true, false},
      {{true, true, "nodot"}, true, true},  // no usable name: BlockDynIP2
      {{true, true, "nodot"}, false, false},
      {{true, true, ""}, true, true},
      {{false, true, ""}, true, true},  // no record
      {{false, true, ""}, false, false},
      {{true, false, ""}, true, false},  // a record without a name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReverseSuspect(c.reverse, keys, c.block_dyn_ip2), c.suspect) << c.reverse.name;
  }
  EXPECT_FALSE(ReverseSuspect({true, true, "dynamic.example"}, {}, true));  // no keywords
}

TEST(ScreeningTest, SenderPatternsAndTheCacheBound) {
  EXPECT_TRUE(SenderBlocked(" <spam@junk.example> SIZE=5", {"x", "*@junk.example"}));
  EXPECT_FALSE(SenderBlocked("<Spam@Junk.example>", {"*@junk.example"}));  // case counts
  EXPECT_TRUE(SenderBlocked("a1@b.c", {"a?@*"}));

  AddressCache cache;
  for (const char* a : {"1.1.1.1", "2.2.2.2", "1.1.1.1", "3.3.3.3"}) cache.Add(a, 2);
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_FALSE(cache.Contains("1.1.1.1"));  // the oldest went
  EXPECT_TRUE(cache.Contains("3.3.3.3"));
  cache.Add("4.4.4.4", 0);  // capacity 0 empties it
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace heron
