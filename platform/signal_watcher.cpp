#include "platform/signal_watcher.h"

namespace heron {

SignalWatcher::SignalWatcher(std::initializer_list<int> signals, std::function<void(int)> handler)
    : set_(io_), handler_(std::move(handler)) {
  for (int s : signals) set_.add(s);
  Wait();
  thread_ = std::thread([this] { io_.run(); });
}

SignalWatcher::~SignalWatcher() {
  io_.stop();
  if (thread_.joinable()) thread_.join();
}

void SignalWatcher::Wait() {
  set_.async_wait([this](const asio::error_code& ec, int signal) {
    if (ec) return;
    handler_(signal);
    Wait();
  });
}

}  // namespace heron
