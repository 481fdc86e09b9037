#include "platform/network_loop.h"

#include <sys/resource.h>

#include <future>

namespace heron {

NetworkLoop::NetworkLoop() : work_(asio::make_work_guard(io_)), thread_([this] { io_.run(); }) {}

NetworkLoop::~NetworkLoop() { Stop(); }

void NetworkLoop::Call(const std::function<void()>& task) {
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
    task();
    return;
  }
  std::promise<void> done;
  asio::post(io_, [&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

void NetworkLoop::Stop() {
  if (!thread_.joinable()) return;
  work_.reset();
  io_.stop();
  thread_.join();
}

long RaiseDescriptorLimit() {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
  if (rl.rlim_cur < rl.rlim_max) {
    rlimit raised = rl;
    raised.rlim_cur = rl.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
  }
  return rl.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(rl.rlim_cur);
}

}  // namespace heron
