// The trace log's writer thread and the bounded queue that feeds it. Every
// thread hands its lines to the queue; one thread formats them and writes
// them in batches, and runs the log operations (open, archive, clear,
// close) in their place in the stream. A thread that produces lines faster
// than they are written waits for its own lines, never for another's.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "service/log_file.h"

namespace heron {

// One queued line, stamped when it was handed over, or an operation.
struct LogItem {
  int level = 2;
  uint32_t thread_id = 0;
  std::tm time{};
  int millis = 0;
  std::string text;
  std::function<void()> operation;  // set: run instead of writing a line
};

class LogQueue {
 public:
  // A producer may have `producer_bytes` pending; all together `total_bytes`.
  LogQueue(size_t producer_bytes, size_t total_bytes)
      : producer_limit_(producer_bytes), total_limit_(total_bytes) {}

  // Queues an item. With a non-zero `producer` the call first waits while
  // that producer's own pending bytes, or the queue's, are at their limit;
  // producer 0 never waits. Once closed, items are dropped.
  void Push(LogItem item, uint64_t producer);
  // Waits until an item is queued, or the queue is closed and empty (false);
  // takes every queued item.
  bool TakeAll(std::deque<LogItem>& out);
  void Close();

  size_t pending_bytes(uint64_t producer);

 private:
  static size_t Cost(const LogItem& item) { return item.text.size() + 64; }

  const size_t producer_limit_;
  const size_t total_limit_;
  std::mutex mu_;
  std::condition_variable items_;
  std::condition_variable room_;
  std::deque<std::pair<uint64_t, LogItem>> queue_;
  std::map<uint64_t, size_t> pending_;
  size_t total_ = 0;
  bool closed_ = false;
};

class LogWriter {
 public:
  // Bounds of the queue: 256 KiB a producer, 8 MiB in all.
  explicit LogWriter(std::string default_folder, size_t producer_bytes = 256 * 1024,
                     size_t total_bytes = 8 * 1024 * 1024);
  ~LogWriter();

  // A line of the given level; see LogQueue::Push for `producer`. Lines
  // above the level in force are dropped here, before they cost anything.
  void Post(int level, uint32_t thread_id, std::string text, uint64_t producer = 0);
  // The LogLevel in force, applied to the trace log in its turn.
  void SetSettings(const LogSettings& settings);
  // Runs an operation on the trace log after every line queued before it.
  void Run(std::function<void(TraceLog&)> operation);
  // Waits until everything queued so far is written.
  void Flush();
  // Writes what is queued, then ends the writer; later lines are dropped.
  void Stop();
  // Error lines also go to standard error, in UTF-8 (the console mode).
  void EchoErrors(bool on) { echo_errors_ = on; }
  // Every line the trace log takes also goes to standard error, in UTF-8
  // with its syslog priority in front ("<6>..."), for the journal.
  void ToJournal(bool on) { to_journal_ = on; }

 private:
  void Main();

  TraceLog trace_;
  // The highest level any setting queued so far lets through.
  std::atomic<int> level_{3};
  std::atomic<bool> echo_errors_{false};
  std::atomic<bool> to_journal_{false};
  LogQueue queue_;
  std::thread thread_;
};

}  // namespace heron
