#include "service/ip_filter.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

TEST(IpFilterTest, EntryFormsMatchAnAddress) {
  const char* matching[] = {"192.168.1.20",
                            "192.168.1.1-192.168.1.50",
                            "192.168.1.1|192.168.1.50",
                            "192.168.1.1,192.168.1.50",
                            "192.168.1.1;192.168.1.50",
                            "192.168.1.1 192.168.1.50",
                            "192.168.*.*",
                            "192.*.1.*",
                            "*.*.*.*",
                            "192.168.1.20-192.168.1.20"};
  for (const char* e : matching) EXPECT_TRUE(IpFilterEntry::Parse(e).Matches("192.168.1.20")) << e;

  const char* other[] = {"192.168.*",
                         "192.168.1.21",
                         "192.168.1.21-192.168.1.50",
                         "192.168.1.1-192.168.1.19",
                         "192.168.2.*",
                         "10.*.*.*",
                         "192.*.2.*"};
  for (const char* e : other) EXPECT_FALSE(IpFilterEntry::Parse(e).Matches("192.168.1.20")) << e;
}

TEST(IpFilterTest, NormalizedAddressesCompareNumerically) {
  EXPECT_EQ(NormalizeAddress("10.0.0.1"), "010000000001");
  EXPECT_EQ(NormalizeAddress("255.255.255.255"), "255255255255");
  EXPECT_EQ(NormalizeAddress(" 10. 0 .0.1"), "010000000001");
  for (const char* text : {"", "abc", "10.0.0", "1.2.3.4.5", "::1"}) {
    EXPECT_EQ(NormalizeAddress(text), text);
  }
  // As text "10.0.0.9" sorts after "10.0.0.10"; as numbers it does not.
  IpFilterEntry range = IpFilterEntry::Parse("10.0.0.1-10.0.0.10");
  EXPECT_TRUE(range.Matches("10.0.0.9"));
  EXPECT_TRUE(range.Matches("10.0.0.10"));
  EXPECT_FALSE(range.Matches("10.0.0.11"));
  EXPECT_FALSE(range.Matches("10.0.0.0"));
  EXPECT_TRUE(IpFilterEntry::Parse("9.0.0.0-10.0.0.0").Matches("9.200.0.0"));
}

TEST(IpFilterTest, MatchIpListTakesAnyEntry) {
  EXPECT_FALSE(MatchIpList("192.168.1.20", {}));
  EXPECT_TRUE(MatchIpList("192.168.1.20", {"10.*.*.*", "192.168.1.20"}));
  EXPECT_TRUE(MatchIpList("192.168.1.20", {"192.168.*.*", "192.168.1.20"}));
  EXPECT_FALSE(MatchIpList("192.168.1.20", {"10.*.*.*", "192.168.1.21", ""}));
}

TEST(IpFilterTest, OversizedNumbersDoNotOverflow) {
  const char* huge = "99999999999.1.1.1";
  EXPECT_NE(NormalizeAddress(huge), NormalizeAddress("1.1.1.1"));
  EXPECT_NE(NormalizeAddress("-99999999999.1.1.1"), "");
  EXPECT_FALSE(IpFilterEntry::Parse(huge).Matches("1.1.1.1"));
  EXPECT_FALSE(MatchIpList("1.1.1.1", {"99999999999.1.1.1-99999999999999.1.1.1"}));
  EXPECT_TRUE(IpFilterEntry::Parse(huge).Matches(huge));
}

}  // namespace
}  // namespace heron
