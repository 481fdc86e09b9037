#include "platform/message_window.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <future>

#include "platform/named_objects.h"

namespace heron {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

struct MessageWindow::Timer {
  explicit Timer(asio::io_context& io) : timer(io) {}
  asio::steady_timer timer;
  std::chrono::milliseconds period{0};
  std::function<void()> callback;
  bool killed = false;
};

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() {
  for (auto& [id, t] : timers_) t->killed = true;
}

void MessageWindow::Post(unsigned msg, std::string text, uint64_t lparam) {
  if (ended_) return;
  asio::post(io_, [this, msg, text = std::move(text), lparam]() mutable {
    if (handler_) handler_(msg, std::move(text), lparam);
  });
}

bool MessageWindow::Send(unsigned msg, std::string text, uint64_t lparam) {
  if (ended_) return false;
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> handled = done->get_future();
  asio::post(io_, [this, msg, text = std::move(text), lparam, done]() mutable {
    if (handler_) handler_(msg, std::move(text), lparam);
    done->set_value();
  });
  while (handled.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    if (ended_) return false;
  }
  return true;
}

int MessageWindow::SetTimer(std::chrono::milliseconds period, std::function<void()> callback) {
  auto t = std::make_shared<Timer>(io_);
  t->period = period;
  t->callback = std::move(callback);
  int id = next_timer_++;
  timers_[id] = t;
  t->timer.expires_after(period);
  Arm(t);
  return id;
}

void MessageWindow::Arm(const std::shared_ptr<Timer>& t) {
  t->timer.async_wait([this, t](const asio::error_code& ec) {
    if (ec || t->killed) return;
    t->timer.expires_at(t->timer.expiry() + t->period);
    t->callback();
    if (!t->killed) Arm(t);
  });
}

void MessageWindow::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->killed = true;
  it->second->timer.cancel();
  timers_.erase(it);
}

void MessageWindow::Run(const StopEvent& stop) {
  auto guard = asio::make_work_guard(io_);
  asio::posix::stream_descriptor stop_watch(io_, dup(stop.fd()));
  stop_watch.async_wait(asio::posix::stream_descriptor::wait_read,
                        [this](const asio::error_code&) { io_.stop(); });
  if (!stop.IsSet()) io_.run();
  ended_ = true;
}

}  // namespace heron
