// The service's network loop: one event loop on a thread of its own that
// runs every listening and client socket's operations. Its handlers only
// move bytes and hand work on, so accepting never waits for anything slow.
#pragma once

#include <asio.hpp>
#include <functional>
#include <thread>

namespace heron {

class NetworkLoop {
 public:
  NetworkLoop();
  ~NetworkLoop();
  NetworkLoop(const NetworkLoop&) = delete;
  NetworkLoop& operator=(const NetworkLoop&) = delete;

  asio::io_context& io() { return io_; }
  // Runs `task` on the loop's thread and waits for it (at once when called
  // on that thread, or once the loop has stopped).
  void Call(const std::function<void()>& task);
  // Ends the loop; operations still pending are never completed.
  void Stop();

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

// Raises this process's soft limit of open descriptors to its hard limit;
// returns the soft limit in force.
long RaiseDescriptorLimit();

}  // namespace heron
