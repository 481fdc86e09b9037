// A thread of its own that runs queued tasks one at a time, in the order
// they were posted.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace heron {

class WorkerThread {
 public:
  WorkerThread();
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Queues a task; dropped once the worker stops.
  void Post(std::function<void()> task);
  // Waits until every task posted so far has run.
  void Flush();
  // Lets the running task finish, drops the rest, ends the thread.
  void Stop();

 private:
  void Main();

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace heron
