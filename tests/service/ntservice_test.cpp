#include "service/ntservice.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

char Scan(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return CNTService::ScanVerb(static_cast<int>(args.size()), argv.data());
}

TEST(ScanVerbTest, FindsTheFirstKnownVerbInTheArguments) {
  for (char verb : {'i', 'u', 's', 'e', 'c', 'd'}) {
    EXPECT_EQ(Scan({"osprey", std::string("-") + verb}), verb);
    EXPECT_EQ(Scan({"osprey", std::string("/") + verb}), verb);
  }
  EXPECT_EQ(Scan({"osprey", "-x", "-s"}), 's');
  EXPECT_EQ(Scan({"osprey", "/tmp/-e"}), 'e');
  EXPECT_EQ(Scan({"osprey", "-install"}), 'i');
  EXPECT_EQ(Scan({"osprey", "-d", "-i"}), 'd');
}

TEST(ScanVerbTest, NoVerbGivesZero) {
  EXPECT_EQ(Scan({"/usr/sbin/osprey"}), 0);  // "/u" and "/s" in the program path
  EXPECT_EQ(Scan({"/usr/sbin/osprey", "-x"}), 0);
  EXPECT_EQ(Scan({"osprey", "-x"}), 0);
  EXPECT_EQ(Scan({"osprey", "-D"}), 0);
  EXPECT_EQ(Scan({"osprey", "-"}), 0);
  EXPECT_EQ(Scan({"osprey", "debug"}), 0);
  EXPECT_EQ(Scan({}), 0);
}

}  // namespace
}  // namespace heron
