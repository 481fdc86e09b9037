#include "relay/host_health.h"

#include <gtest/gtest.h>

#include <thread>

namespace heron {
namespace {

using V = HostHealth::Verdict;

TEST(HostHealthTest, OneSilentHostHoldsUpOneAttemptOnly) {
  HostHealth h(std::chrono::hours(1), std::chrono::milliseconds(50));
  // A host still to greet: others wait their turn, then count it as down.
  EXPECT_EQ(h.Admit("silent"), V::kTry);
  EXPECT_EQ(h.Admit("silent"), V::kBusy);
  EXPECT_EQ(h.Admit("other"), V::kTry);  // other hosts are not held up
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(h.Admit("silent"), V::kResting);
  h.Finished("silent", false, false);  // never reached: rests
  EXPECT_EQ(h.Admit("silent"), V::kResting);

  // A host that has answered takes attempts side by side.
  h.Answered("other");
  h.Finished("other", true, true);
  EXPECT_EQ(h.Admit("other"), V::kTry);
  EXPECT_EQ(h.Admit("other"), V::kTry);
}

}  // namespace
}  // namespace heron
