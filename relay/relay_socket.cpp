#include "relay/relay_socket.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>

#include "platform/text.h"

namespace heron {

CRelaySocket::CRelaySocket(const std::atomic<bool>* stop) : stop_(stop) {}

CRelaySocket::~CRelaySocket() { Close(); }

void CRelaySocket::Report(const std::string& text) {
  if (sink_) sink_->OnMessage(text);
}

void CRelaySocket::Fail(const std::string& text) {
  failure_ = text;
  Report(text);
}

void CRelaySocket::Close() {
  asio::error_code ec;
  socket_.close(ec);
  connected_ = false;
}

void CRelaySocket::ShutDown() {
  if (!connected_) return;
  Close();
  if (sink_) sink_->OnDisconnected();
}

bool CRelaySocket::RunUntil(const bool& done, Clock::time_point deadline,
                            const std::function<void()>& cancel) {
  io_.restart();
  while (!done) {
    auto now = Clock::now();
    if (now >= deadline || Stopping()) break;
    // Short slices, so that a stop request is seen soon.
    io_.run_one_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(200)));
  }
  if (done) return true;
  // Cancel what is outstanding and let its handler run.
  asio::error_code ec;
  if (cancel) {
    cancel();
  } else {
    socket_.cancel(ec);
  }
  io_.restart();
  while (!done && io_.run_one_for(std::chrono::seconds(1)) > 0) {
  }
  return false;
}

bool CRelaySocket::Connect(const std::string& host, uint16_t port) {
  // The name, and then the connect, are bounded by the reply time-out and
  // give way to a stop: an exchanger (or a resolver) that never answers
  // must not hold the thread for the platform's minutes.
  auto deadline = Clock::now() + Timeout();
  asio::ip::tcp::resolver resolver(io_);
  asio::ip::tcp::resolver::results_type endpoints;
  bool resolved = false;
  asio::error_code ec = asio::error::timed_out;
  resolver.async_resolve(host, std::to_string(port),
                         [&](const asio::error_code& e, asio::ip::tcp::resolver::results_type r) {
                           ec = e;
                           endpoints = std::move(r);
                           resolved = true;
                         });
  if (!RunUntil(resolved, deadline, [&] { resolver.cancel(); }) || ec) return false;
  bool done = false;
  asio::error_code result = asio::error::timed_out;
  asio::async_connect(socket_, endpoints, [&](const asio::error_code& e, const auto&) {
    result = e;
    done = true;
  });
  if (!RunUntil(done, deadline) || result) {
    Close();
    return false;
  }
  return true;
}

bool CRelaySocket::Deliver(const std::string& host, uint16_t port, const std::string& sender,
                           const std::string& recipients, const std::string& message) {
  ShutDown();
  delivered_ = false;
  data_sent_ = false;
  failure_.clear();
  reader_.Clear();
  pending_.clear();
  if (!Connect(host, port)) {
    Fail(B5("無法與遠端伺服器建立連線"));
    return false;
  }
  connected_ = true;
  CRelayDialogue dialogue(helo_name_, sender, recipients, message);
  for (;;) {
    int code = ReadReply();
    CRelayDialogue::Action a = dialogue.OnReply(code);
    delivered_ = dialogue.delivered();
    if (!a.log.empty()) Report(a.log);
    if (a.close) {
      ShutDown();
      break;
    }
    if (!a.go_on) {
      // A refused step: say goodbye rather than leave the exchanger waiting.
      if (dialogue.step() != CRelayDialogue::kQuit && connected_ && !IsConnectionLost()) {
        SendLine("QUIT", true);
      }
      ShutDown();
      break;
    }
    SendLine(a.send, !a.is_data);
    // Once the message is out, its reply is awaited even through a stop:
    // cut off now, the message would be sent again later.
    if (a.is_data) data_sent_ = true;
  }
  return true;
}

int CRelaySocket::ReadReply() {
  reader_.Clear();
  std::string line;
  while (ReadLine(line)) {
    if (!reader_.Add(line)) continue;
    if (on_answer_) {
      on_answer_();
      on_answer_ = nullptr;
    }
    break;
  }
  return reader_.code();
}

bool CRelaySocket::ReadLine(std::string& line) {
  auto deadline = Clock::now() + Timeout();
  line.clear();
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      for (size_t i = 0; i < nl; ++i) {
        if (pending_[i] != '\r' && line.size() < kMaxLine) line += pending_[i];
      }
      pending_.erase(0, nl + 1);
      Report(line);
      return true;
    }
    // Without a line end: keep what a line may hold, drop the rest.
    for (char c : pending_) {
      if (c != '\r' && line.size() < kMaxLine) line += c;
    }
    pending_.clear();
    if (!connected_) return false;
    std::array<char, 4096> buf;
    bool done = false;
    asio::error_code ec;
    size_t n = 0;
    socket_.async_read_some(asio::buffer(buf), [&](const asio::error_code& e, size_t got) {
      ec = e;
      n = got;
      done = true;
    });
    if (!RunUntil(done, deadline)) {
      if (!Stopping()) Fail(B5("連線逾時..."));
      return false;
    }
    if (ec) {
      ShutDown();
      Fail(B5("連線已關閉"));
      return false;
    }
    // The bytes of the partial line go back in front of the new ones.
    pending_ = line + std::string(buf.data(), n);
    line.clear();
  }
}

bool CRelaySocket::IsConnectionLost() {
  if (!socket_.is_open()) return true;
  char c;
  ssize_t n = ::recv(socket_.native_handle(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  if (n < 0) {
    return errno == EINVAL || errno == ENETRESET || errno == ECONNABORTED || errno == ECONNRESET ||
           errno == ENOTCONN || errno == EPIPE;
  }
  return false;
}

bool CRelaySocket::SendLine(const std::string& line, bool log) {
  if (IsConnectionLost()) {
    Fail(B5("無法傳遞回應，連線已中斷"));
    Close();
    return false;
  }
  static const std::string kCrLf = "\r\n";
  std::array<asio::const_buffer, 2> bufs = {asio::buffer(line), asio::buffer(kCrLf)};
  size_t total = line.size() + 2, sent = 0;
  // Each piece must go within the time-out: a peer that stops reading
  // cannot hold the thread, however large the message.
  while (sent < total) {
    bool done = false;
    asio::error_code ec;
    size_t n = 0;
    std::array<asio::const_buffer, 2> left = bufs;
    size_t skip = sent;
    for (auto& b : left) {
      size_t cut = std::min(skip, b.size());
      b += cut;
      skip -= cut;
    }
    socket_.async_write_some(left, [&](const asio::error_code& e, size_t got) {
      ec = e;
      n = got;
      done = true;
    });
    if (!RunUntil(done, Clock::now() + Timeout()) || ec) {
      Close();
      Fail(B5("無法傳遞回應，連線已中斷"));
      return false;
    }
    sent += n;
  }
  if (log) Report(line);
  return true;
}

}  // namespace heron
