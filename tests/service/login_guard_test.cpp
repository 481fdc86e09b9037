#include "service/login_guard.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

TEST(LoginGuardTest, TenFailuresInTenMinutesBlockForTenMinutes) {
  int64_t now = 1000;
  LoginGuard guard([&] { return now; });
  for (int i = 0; i < 9; ++i) {
    EXPECT_FALSE(guard.Failed("192.0.2.1"));
    now += 60;  // nine failures over nine minutes
  }
  EXPECT_FALSE(guard.Blocked("192.0.2.1"));
  EXPECT_TRUE(guard.Failed("192.0.2.1"));  // the tenth starts the block, once
  EXPECT_TRUE(guard.Blocked("192.0.2.1"));
  EXPECT_FALSE(guard.Failed("192.0.2.1"));
  EXPECT_FALSE(guard.Blocked("192.0.2.2"));  // others go on
  now += LoginGuard::kBlock - 1;
  EXPECT_TRUE(guard.Blocked("192.0.2.1"));
  now += 1;
  EXPECT_FALSE(guard.Blocked("192.0.2.1"));
  // Failures further apart than the window never add up.
  for (int i = 0; i < 30; ++i) {
    EXPECT_FALSE(guard.Failed("192.0.2.3"));
    now += 67;
  }
  EXPECT_FALSE(guard.Blocked("192.0.2.3"));
}

TEST(LoginGuardTest, CheckSkipsThePasswordWhileBlockedAndStaysBounded) {
  int64_t now = 0;
  LoginGuard guard([&] { return now; });
  int checked = 0;
  std::vector<std::string> logged;
  auto attempt = [&](const std::string& address, bool right) {
    return LoginGuard::Check(
        &guard, address,
        [&] {
          ++checked;
          return right;
        },
        [&](const std::string& text) { logged.push_back(text); });
  };
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(attempt("192.0.2.1", false));
  EXPECT_EQ(logged, std::vector<std::string>{
                        "Too many failed logins from 192.0.2.1: logins refused for 10 minutes"});
  EXPECT_FALSE(attempt("192.0.2.1", true));
  EXPECT_EQ(checked, 10);
  EXPECT_TRUE(attempt("192.0.2.9", true));
  EXPECT_TRUE(LoginGuard::Check(
      nullptr, "192.0.2.1", [] { return true; }, nullptr));

  // Many addresses: the table stays bounded and the blocked one stays.
  for (size_t i = 0; i < LoginGuard::kMaxAddresses + 100; ++i) {
    guard.Failed("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  }
  EXPECT_TRUE(guard.Blocked("192.0.2.1"));
}

}  // namespace
}  // namespace heron
