#include "platform/message_window.h"

#include <sys/syscall.h>
#include <unistd.h>

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

// Messages wait in a queue of their own; each post also queues one task on
// the loop that handles the oldest message. Pump can therefore empty the
// queue from inside a handler, and the order of messages stays the order of
// posting.
void MessageWindow::Enqueue(Message m) {
  {
    std::lock_guard<std::mutex> lock(queue_mu_);
    queue_.push_back(std::move(m));
  }
  asio::post(io_, [this] { HandleOne(); });
}

bool MessageWindow::HandleOne() {
  Message m;
  {
    std::lock_guard<std::mutex> lock(queue_mu_);
    if (queue_.empty()) return false;
    m = std::move(queue_.front());
    queue_.pop_front();
  }
  if (handler_) handler_(m.msg, std::move(m.text), m.lparam);
  if (m.done) m.done->set_value();
  return true;
}

void MessageWindow::Pump() {
  while (HandleOne()) {
  }
}

void MessageWindow::Post(unsigned msg, std::string text, uint64_t lparam) {
  if (ended_) return;
  Enqueue({msg, std::move(text), lparam, nullptr});
}

bool MessageWindow::Send(unsigned msg, std::string text, uint64_t lparam) {
  if (ended_) return false;
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> handled = done->get_future();
  Enqueue({msg, std::move(text), lparam, done});
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
  asio::posix::stream_descriptor stop_watch(io_);
  asio::error_code ec;
  int fd = dup(stop.fd());
  if (fd >= 0) stop_watch.assign(fd, ec);
  if (fd < 0 || ec) {
    if (fd >= 0) close(fd);
    ended_ = true;  // without a way to see the stop event the loop cannot run
    return;
  }
  stop_watch.async_wait(asio::posix::stream_descriptor::wait_read,
                        [this](const asio::error_code&) { io_.stop(); });
  if (!stop.IsSet()) io_.run();
  ended_ = true;
}

}  // namespace heron
