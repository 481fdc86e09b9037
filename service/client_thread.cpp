#include "service/client_thread.h"

#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/message_window.h"
#include "platform/text.h"

namespace heron {

CClientThread::CClientThread(ServiceHost& service, const ClientTexts& texts, std::string peer)
    : service_(service),
      texts_(texts),
      peer_(std::move(peer)),
      last_activity_(Now()),
      ended_future_(ended_.get_future().share()) {}

CClientThread::~CClientThread() = default;

int64_t CClientThread::Now() { return static_cast<int64_t>(std::time(nullptr)); }

std::string CClientThread::PeerAddress(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  auto endpoint = socket.remote_endpoint(ec);
  if (ec) return std::string();
  // An IPv4 client is its dotted quad, also when it came through IPv6.
  asio::ip::address a = endpoint.address();
  if (a.is_v6() && a.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()).to_string();
  }
  return a.to_string();
}

bool CClientThread::Start(asio::ip::tcp::socket accepted) {
  socket_.emplace(std::move(accepted));
  try {
    std::thread(&CClientThread::ThreadMain, this, shared_from_this()).detach();
  } catch (const std::system_error&) {
    asio::error_code ec;
    socket_->close(ec);  // the loop has no operation on it yet
    return false;
  }
  return true;
}

void CClientThread::UseTls(std::shared_ptr<TlsContext> context, bool implicit) {
  tls_context_ = std::move(context);
  implicit_tls_ = implicit && tls_context_;
}

void CClientThread::LogText(const std::string& text, int level) {
  service_.PostLog(level, thread_id_, std::string("<") + texts_.tag + "> " + text);
}

void CClientThread::Touch() {
  last_activity_ = Now();
  // A client that sends commands by the thousand a second (a flood) gets its
  // thread the lowest scheduling priority, and no more commands served than
  // that in a second: it slows itself, not the others. The second is a
  // window of the steady clock, so that a change of the wall clock neither
  // lifts the wait nor makes it longer.
  auto now = std::chrono::steady_clock::now();
  if (now - command_window_ >= std::chrono::seconds(1)) {
    command_window_ = now;
    commands_ = 0;
  }
  if (++commands_ < kFloodCommands) return;
  if (!lowered_) {
    lowered_ = true;
    setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id_), 19);
  }
  std::this_thread::sleep_until(command_window_ + std::chrono::seconds(1));
}

void CClientThread::ThreadMain(std::shared_ptr<CClientThread> self) {
  thread_id_ = CurrentThreadId();
  ServiceHost::SessionCount count = service_.PostClientConnected(peer_, texts_.tag, thread_id_);
  sessions_before_ = count.others;
  sessions_from_address_ = count.same_address;
  // Whatever one session meets (memory exhausted by a huge message, say)
  // ends that session, never the service.
  try {
    // A port encrypted from the first byte serves nobody who fails the
    // handshake.
    bool started = !implicit_tls_ || Handshake();
    if (started) OnStart();
    while (started) {
      std::string out = TakeOutput();
      if (!out.empty()) {
        if (!Send(std::move(out))) break;
        continue;
      }
      if (TakeTlsRequest()) {
        if (!Handshake()) break;
        OnTlsStarted();
        continue;
      }
      if (SessionOver()) break;
      std::optional<size_t> n = Receive();
      if (!n) break;
      OnBytes(std::string_view(buffer_.data(), *n));
    }
  } catch (const std::exception& e) {
    LogText(std::string("Session ended by an error: ") + e.what(), 1);
  }
  CloseSocket();
  service_.SessionEnded(this);
  service_.PostClientDisconnected(peer_, texts_.tag, thread_id_);
  ended_.set_value();
  (void)self;  // keeps this object alive until here
}

void CClientThread::Complete() {
  std::lock_guard<std::mutex> lock(mu_);
  done_ = true;
  cv_.notify_one();
}

CClientThread::Wait CClientThread::Await(const std::function<void()>& start) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    done_ = false;
  }
  asio::post(socket_->get_executor(), [self = shared_from_this(), start] { start(); });
  std::unique_lock<std::mutex> lock(mu_);
  Wait outcome = Wait::kDone;
  while (!done_) {
    cv_.wait_for(lock, std::chrono::seconds(1),
                 [&] { return done_ || (quit_ && outcome == Wait::kDone); });
    if (done_) break;
    if (outcome != Wait::kDone) continue;  // cancelled: waiting for the abort
    // A reply still on its way counts as activity while it makes progress:
    // a slow reader of a large message is not cut off, a stalled one is.
    int64_t last = std::max<int64_t>(last_activity_, last_progress_);
    if (quit_) {
      outcome = Wait::kQuit;
    } else if (Now() > last + TimeoutSeconds()) {
      outcome = Wait::kTimedOut;
    } else {
      continue;
    }
    // Close on the loop: the operation completes as aborted, and none that
    // follows it (TLS makes several of one) can wait again.
    asio::post(socket_->get_executor(), [this, self = shared_from_this()] {
      asio::error_code ec;
      socket_->close(ec);
    });
  }
  if (outcome == Wait::kTimedOut) LogText(texts_.timed_out);
  return outcome;
}

bool CClientThread::Handshake() {
  if (quit_ || !tls_context_ || tls_) return false;
  auto stream =
      std::make_shared<asio::ssl::stream<asio::ip::tcp::socket&>>(*socket_, tls_context_->native());
  Wait w = Await([this, self = shared_from_this(), stream] {
    // TLS writes a reply as several records (session tickets before the
    // first one): without this, each waits for the client's delayed ACK.
    asio::error_code ignored;
    socket_->set_option(asio::ip::tcp::no_delay(true), ignored);
    stream->async_handshake(asio::ssl::stream_base::server,
                            [this, self, stream](const asio::error_code& ec) {
                              result_ = ec;
                              Complete();
                            });
  });
  if (w != Wait::kDone) return false;
  if (result_) {
    LogText(StrPrintf(texts_.tls_failed, result_.message().c_str()), 1);
    return false;
  }
  tls_ = std::move(stream);
  Touch();
  return true;
}

std::optional<size_t> CClientThread::Receive() {
  if (quit_) return std::nullopt;
  Wait w = Await([this, self = shared_from_this()] {
    auto done = [this, self](const asio::error_code& ec, size_t n) {
      result_ = ec;
      transferred_ = n;
      Complete();
    };
    OnStream([&](auto& stream) { stream.async_read_some(asio::buffer(buffer_), done); });
  });
  if (w != Wait::kDone) return std::nullopt;
  if (result_) {
    // A TLS client that closes without its close notice has just gone.
    if (result_ != asio::error::eof && result_ != asio::error::operation_aborted &&
        result_ != asio::ssl::error::stream_truncated) {
      LogText(StrPrintf(texts_.receive_error, result_.value()), 1);
    }
    return std::nullopt;
  }
  return transferred_;
}

bool CClientThread::Send(std::string text) {
  if (quit_) return false;
  writing_ = std::move(text);
  last_progress_ = Now();
  // Piece by piece on the loop, noting progress for the time-out.
  auto write_rest = std::make_shared<std::function<void(size_t)>>();
  *write_rest = [this, self = shared_from_this(), write_rest](size_t sent) {
    auto piece = asio::buffer(writing_.data() + sent, writing_.size() - sent);
    auto done = [this, self, write_rest, sent](const asio::error_code& ec, size_t n) {
      last_progress_ = Now();
      if (!ec && sent + n < writing_.size()) {
        (*write_rest)(sent + n);
        return;
      }
      result_ = ec;
      *write_rest = nullptr;  // ends the cycle of owners
      Complete();
    };
    OnStream([&](auto& stream) { stream.async_write_some(piece, done); });
  };
  Wait w = Await([write_rest] { (*write_rest)(0); });
  writing_.clear();
  writing_.shrink_to_fit();
  if (w != Wait::kDone) return false;
  if (result_) {
    LogText(texts_.send_failed);
    return false;
  }
  return true;
}

void CClientThread::CloseSocket() {
  auto closed = std::make_shared<std::promise<void>>();
  auto ran = closed->get_future();
  asio::post(socket_->get_executor(), [this, self = shared_from_this(), closed] {
    auto done = std::make_shared<bool>(false);
    auto close = [this, self, closed, done] {
      if (std::exchange(*done, true)) return;
      asio::error_code ec;
      socket_->shutdown(asio::ip::tcp::socket::shutdown_both, ec);
      socket_->close(ec);
      closed->set_value();
    };
    if (!tls_) {
      close();
      return;
    }
    // TLS ends with this side's close notice; the client's is not waited
    // for (taken as received), and a client that does not even read ours
    // is closed on after a second.
    SSL_set_shutdown(tls_->native_handle(), SSL_RECEIVED_SHUTDOWN);
    auto timer =
        std::make_shared<asio::steady_timer>(socket_->get_executor(), std::chrono::seconds(1));
    timer->async_wait([close](const asio::error_code& ec) {
      if (!ec) close();
    });
    tls_->async_shutdown([timer, close](const asio::error_code&) {
      timer->cancel();
      close();
    });
  });
  // A loop that has stopped runs nothing more: the socket then closes with
  // this object.
  ran.wait_for(std::chrono::seconds(5));
}

void CClientThread::PostQuit() {
  quit_ = true;
  std::lock_guard<std::mutex> lock(mu_);
  cv_.notify_one();
}

bool CClientThread::WaitEnded(std::chrono::milliseconds limit) {
  return ended_future_.wait_for(limit) == std::future_status::ready;
}

}  // namespace heron
