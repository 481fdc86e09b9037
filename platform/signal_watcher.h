// Turns process signals into calls on a thread of their own, the way the
// console and service control handlers are called on Windows.
#pragma once

#include <asio.hpp>
#include <functional>
#include <initializer_list>
#include <thread>

namespace heron {

class SignalWatcher {
 public:
  SignalWatcher(std::initializer_list<int> signals, std::function<void(int)> handler);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Wait();
  asio::io_context io_;
  asio::signal_set set_;
  std::function<void(int)> handler_;
  std::thread thread_;
};

}  // namespace heron
