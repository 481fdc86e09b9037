#include "service/log_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

LogItem Line(const std::string& text) {
  LogItem item;
  item.text = text;
  return item;
}

TEST(LogQueueTest, AFloodingProducerWaitsForItsOwnLinesOnly) {
  LogQueue queue(200, 1000);  // each line costs its text and 64 bytes
  queue.Push(Line(std::string(100, 'a')), 1);
  queue.Push(Line(std::string(100, 'a')), 1);  // 328 pending: producer 1 is at its limit
  std::atomic<bool> third{false};
  std::thread flood([&] {
    queue.Push(Line("a3"), 1);
    third = true;
  });
  // Others, and the producer that never waits, still get through.
  queue.Push(Line("b"), 2);
  queue.Push(Line("main"), 0);
  EXPECT_EQ(queue.pending_bytes(2), 65u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(third);

  std::deque<LogItem> taken;
  ASSERT_TRUE(queue.TakeAll(taken));
  flood.join();  // room again: the waiting line goes in
  EXPECT_TRUE(third);
  ASSERT_EQ(taken.size(), 4u);
  EXPECT_EQ(taken[2].text, "b");
  EXPECT_EQ(taken[3].text, "main");
  taken.clear();
  ASSERT_TRUE(queue.TakeAll(taken));
  EXPECT_EQ(taken.at(0).text, "a3");

  // Closing wakes the waiting and drops what comes later.
  queue.Push(Line(std::string(2000, 'x')), 3);
  std::thread late([&] { queue.Push(Line("late"), 3); });
  queue.Close();
  late.join();
  taken.clear();
  ASSERT_TRUE(queue.TakeAll(taken));
  EXPECT_EQ(taken.size(), 1u);
  EXPECT_FALSE(queue.TakeAll(taken));
}

TEST(LogWriterTest, LinesAndOperationsKeepTheirOrder) {
  testing::TempDir dir;
  LogWriter writer(dir.path());
  writer.Run([](TraceLog& t) {
    t.set_settings({2, 2, ""});
    t.Open();
  });
  writer.Post(2, 7, "first", 7);
  writer.Post(3, 7, "detail is not written at level 2");
  writer.Run([](TraceLog& t) { t.set_settings({3, 2, ""}); });
  writer.Post(3, 8, "now it is");
  writer.Run([](TraceLog& t) { t.Close(); });
  writer.Post(1, 9, "after the close");
  writer.Flush();
  std::string log = testing::Contents(dir / "Mailtrace.log");
  EXPECT_EQ(log.find("detail"), std::string::npos);
  size_t first = log.find("[7]"), second = log.find("[8]");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(log.find(" first\r\n"), std::string::npos);
  EXPECT_EQ(log.find("after the close"), std::string::npos);
  writer.Stop();
  writer.Post(1, 9, "after the stop", 9);  // dropped, never waits
}

}  // namespace
}  // namespace heron
