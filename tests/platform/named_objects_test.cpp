#include "platform/named_objects.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <thread>

#include "platform/message_window.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

class NamedObjectsTest : public ::testing::Test {
 protected:
  testing::TempDir home{/*as_home=*/true};
};

TEST_F(NamedObjectsTest, MutexIsHeldByOneOwnerAtATime) {
  using R = NamedMutex::Result;
  NamedMutex first, second;
  ASSERT_EQ(first.TryAcquire("Heron"), R::kAcquired);
  EXPECT_EQ(second.TryAcquire("Heron"), R::kHeldElsewhere);
  EXPECT_EQ(second.TryAcquire("Other"), R::kAcquired);
  first.Release();
  EXPECT_EQ(second.TryAcquire("Heron"), R::kAcquired);
  second.Release();
  {
    NamedMutex scoped;
    EXPECT_EQ(scoped.TryAcquire("Heron"), R::kAcquired);
  }
  EXPECT_EQ(first.TryAcquire("Heron"), R::kAcquired);  // the destructor released it
}

TEST_F(NamedObjectsTest, SetWithoutReaderHasNoEffect) {
  EXPECT_TRUE(NamedEvent::Set("Lonely"));
  NamedEvent ev;
  ASSERT_TRUE(ev.Create("Lonely"));
  EXPECT_FALSE(Readable(ev.fd()));
}

TEST_F(NamedObjectsTest, WaitReportsTheSetEventOnceAndStopWins) {
  NamedEvent a, b;
  ASSERT_TRUE(a.Create("EvA"));
  ASSERT_TRUE(b.Create("EvB"));
  StopEvent stop;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(NamedEvent::Set("EvB"));
  EXPECT_EQ(WaitForEvents({&a, &b}, stop), 1u);
  EXPECT_FALSE(Readable(b.fd()));  // three sets were drained as one

  std::thread setter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    NamedEvent::Set("EvA");
  });
  EXPECT_EQ(WaitForEvents({&a, &b}, stop), 0u);
  setter.join();

  NamedEvent::Set("EvA");
  stop.Set();
  EXPECT_EQ(WaitForEvents({&a, &b}, stop), 2u);
  EXPECT_EQ(WaitForEvents({&a, &b}, stop), 2u);  // stop stays set
}

TEST_F(NamedObjectsTest, MessagesRunInOrderOnTheLoopThread) {
  MessageWindow win;
  StopEvent stop;
  const auto loop_thread = std::this_thread::get_id();
  std::vector<std::string> seen;
  bool elsewhere = false;
  win.SetHandler([&](unsigned msg, std::string text, uint64_t lparam) {
    elsewhere |= std::this_thread::get_id() != loop_thread;
    if (msg == 3) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    seen.push_back(std::to_string(msg) + text + std::to_string(lparam));
    if (msg == 9) stop.Set();
  });
  win.Post(1, "a", 10);
  win.Post(2, "b", 20);
  bool sent = false;
  size_t seen_after_send = 0;
  std::thread sender([&] {
    sent = win.Send(3, "c", 30);
    seen_after_send = seen.size();  // the loop touches nothing until 9 comes
    win.Post(9, "stop");
  });
  win.Run(stop);
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(seen_after_send, 3u);
  EXPECT_EQ(seen, (std::vector<std::string>{"1a10", "2b20", "3c30", "9stop0"}));
  EXPECT_FALSE(elsewhere);
  EXPECT_TRUE(win.ended());
  win.Post(4);
  EXPECT_FALSE(win.Send(5));
  EXPECT_EQ(seen.size(), 4u);
}

TEST_F(NamedObjectsTest, TimersRepeatUntilKilled) {
  MessageWindow win;
  StopEvent stop;
  int once = 0, repeating = 0, once_id = 0;
  once_id = win.SetTimer(std::chrono::milliseconds(2), [&] {
    ++once;
    win.KillTimer(once_id);
  });
  win.SetTimer(std::chrono::milliseconds(5), [&] {
    if (++repeating == 4) stop.Set();
  });
  win.Run(stop);
  EXPECT_EQ(once, 1);
  EXPECT_GE(repeating, 4);
}

}  // namespace
}  // namespace heron
