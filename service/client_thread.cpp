#include "service/client_thread.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <thread>

#include "platform/message_window.h"
#include "platform/text.h"

namespace heron {

CClientThread::CClientThread(ServiceHost& service, const ClientTexts& texts, std::string peer)
    : service_(service),
      texts_(texts),
      socket_(io_),
      timer_(io_),
      peer_(std::move(peer)),
      last_activity_(static_cast<int64_t>(std::time(nullptr))),
      ended_future_(ended_.get_future().share()) {}

CClientThread::~CClientThread() = default;

std::string CClientThread::PeerAddress(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  auto endpoint = socket.remote_endpoint(ec);
  return ec ? std::string() : endpoint.address().to_string();
}

bool CClientThread::Start(asio::ip::tcp::socket accepted) {
  asio::error_code ec;
  // Move the connection onto this thread's own loop.
  auto protocol = accepted.local_endpoint(ec).protocol();
  int fd = accepted.release(ec);
  if (ec) return false;
  socket_.assign(protocol, fd, ec);
  if (ec) {
    ::close(fd);
    return false;
  }
  try {
    std::thread(&CClientThread::ThreadMain, this, shared_from_this()).detach();
  } catch (const std::system_error&) {
    socket_.close(ec);
    return false;
  }
  return true;
}

void CClientThread::LogText(const std::string& text, int level) {
  service_.PostLog(level, thread_id_, std::string("<") + texts_.tag + "> " + text);
}

void CClientThread::Touch() { last_activity_ = static_cast<int64_t>(std::time(nullptr)); }

void CClientThread::ThreadMain(std::shared_ptr<CClientThread> self) {
  thread_id_ = CurrentThreadId();
  // Connection start: timer, notification, then the engine's checks.
  ArmTimer();
  sessions_before_ = service_.PostClientConnected(peer_, texts_.tag, thread_id_);
  // Whatever one session meets (memory exhausted by a huge message, say)
  // ends that session, never the service.
  try {
    OnStart();
    Flush();
    io_.run();
  } catch (const std::exception& e) {
    LogText(std::string("Session ended by an error: ") + e.what(), 1);
    finished_ = true;
  }

  // Exit: the timer dies with the loop; leave the service's list and say so.
  asio::error_code ec;
  socket_.close(ec);
  service_.SessionEnded(this);
  service_.PostClientDisconnected(peer_, texts_.tag, thread_id_);
  ended_.set_value();
  (void)self;  // keeps this object alive until here
}

void CClientThread::ArmTimer() {
  timer_.expires_after(std::chrono::seconds(1));
  timer_.async_wait([this](const asio::error_code& ec) {
    if (ec || finished_) return;
    // A reply still on its way counts as activity while it makes progress:
    // a slow reader of a large message is not cut off, a stalled one is.
    int64_t last = std::max<int64_t>(last_activity_, last_progress_);
    if (static_cast<int64_t>(std::time(nullptr)) > last + TimeoutSeconds()) {
      LogText(texts_.timed_out);
      Finish();
      return;
    }
    ArmTimer();
  });
}

void CClientThread::ReadNext() {
  socket_.async_read_some(asio::buffer(buffer_), [this](const asio::error_code& ec, size_t n) {
    if (finished_) return;
    if (ec) {
      if (ec != asio::error::eof && ec != asio::error::operation_aborted) {
        LogText(StrPrintf(texts_.receive_error, ec.value()), 1);
      }
      Finish();
      return;
    }
    OnBytes(std::string_view(buffer_.data(), n));
    Flush();
  });
}

// Sends what the engine has produced, then reads on or ends.
void CClientThread::Flush() {
  if (finished_) return;
  writing_ = TakeOutput();
  if (writing_.empty()) {
    if (SessionOver()) {
      Finish();
    } else {
      ReadNext();
    }
    return;
  }
  last_progress_ = static_cast<int64_t>(std::time(nullptr));
  WriteRest(0);
}

// Writes the pending reply piece by piece, noting progress for the timer.
void CClientThread::WriteRest(size_t sent) {
  socket_.async_write_some(asio::buffer(writing_.data() + sent, writing_.size() - sent),
                           [this, sent](const asio::error_code& ec, size_t n) {
                             if (finished_) return;
                             if (ec) {
                               LogText(texts_.send_failed);
                               Finish();
                               return;
                             }
                             last_progress_ = static_cast<int64_t>(std::time(nullptr));
                             if (sent + n < writing_.size()) {
                               WriteRest(sent + n);
                             } else {
                               Flush();
                             }
                           });
}

void CClientThread::Finish() {
  if (finished_) return;
  finished_ = true;
  asio::error_code ec;
  timer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  io_.stop();
}

void CClientThread::PostQuit() {
  asio::post(io_, [this] { Finish(); });
}

bool CClientThread::WaitEnded(std::chrono::milliseconds limit) {
  return ended_future_.wait_for(limit) == std::future_status::ready;
}

}  // namespace heron
