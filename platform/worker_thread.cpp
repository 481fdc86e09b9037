#include "platform/worker_thread.h"

#include <future>

namespace heron {

WorkerThread::WorkerThread() : thread_([this] { Main(); }) {}

WorkerThread::~WorkerThread() { Stop(); }

void WorkerThread::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mu_);
  if (stopping_) return;
  tasks_.push_back(std::move(task));
  cv_.notify_one();
}

void WorkerThread::Flush() {
  auto done = std::make_shared<std::promise<void>>();
  auto ran = done->get_future();
  Post([done] { done->set_value(); });
  ran.wait();  // a dropped task breaks the promise, which also ends the wait
}

void WorkerThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    tasks_.clear();
    cv_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void WorkerThread::Main() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace heron
