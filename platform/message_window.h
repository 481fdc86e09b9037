// The service's main event loop: it stands for the hidden notification
// window. Any thread posts numbered messages with a text and a number; they
// run, in order, on the thread that runs the loop. Timers of the loop thread
// and the listening sockets run on the same loop.
#pragma once

#include <sys/types.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace heron {

class StopEvent;

// Kernel id of the calling thread, as log lines show it.
uint32_t CurrentThreadId();

class MessageWindow {
 public:
  // Handler of one message; it owns the text.
  using Handler = std::function<void(unsigned msg, std::string text, uint64_t lparam)>;

  MessageWindow();
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  asio::io_context& io() { return io_; }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }

  // Queues a message; never blocks. Messages posted after the loop ended are
  // dropped.
  void Post(unsigned msg, std::string text = {}, uint64_t lparam = 0);
  // Runs the message on the loop thread and waits for it to be handled.
  // False when the loop ended before handling it.
  bool Send(unsigned msg, std::string text = {}, uint64_t lparam = 0);
  // Handles every queued message now; for a handler of the loop thread that
  // waits for something while messages must keep flowing.
  void Pump();

  // A repeating timer of the loop thread; returns its id.
  int SetTimer(std::chrono::milliseconds period, std::function<void()> callback);
  void KillTimer(int id);

  // Runs the loop on the calling thread until `stop` is set.
  void Run(const StopEvent& stop);
  bool ended() const { return ended_; }

 private:
  struct Timer;
  struct Message {
    unsigned msg;
    std::string text;
    uint64_t lparam;
    std::shared_ptr<std::promise<void>> done;  // set once handled (Send)
  };
  void Arm(const std::shared_ptr<Timer>& t);
  void Enqueue(Message m);
  // Handles the oldest queued message, if any. False when none was queued.
  bool HandleOne();

  asio::io_context io_;
  Handler handler_;
  std::mutex queue_mu_;
  std::deque<Message> queue_;
  std::map<int, std::shared_ptr<Timer>> timers_;
  int next_timer_ = 1;
  std::atomic<bool> ended_{false};
};

}  // namespace heron
