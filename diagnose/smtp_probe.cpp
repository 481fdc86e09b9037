#include "diagnose/smtp_probe.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "relay/relay_dialogue.h"

namespace heron::skylark {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(200);
}  // namespace

CSmtpSocket::CSmtpSocket(SmtpSink& sink, std::string host_name, const std::atomic<bool>* cancel)
    : sink_(sink), steps_(std::move(host_name)), cancel_(cancel) {}

bool CSmtpSocket::RunUntil(const bool& done, Clock::time_point deadline) {
  io_.restart();
  while (!done && Clock::now() < deadline && !(cancel_ && *cancel_)) {
    io_.run_for(std::min<Clock::duration>(kSlice, deadline - Clock::now()));
    if (io_.stopped()) io_.restart();
  }
  return done;
}

bool CSmtpSocket::Connect(const std::string& host, uint16_t port) {
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  auto endpoints = resolver.resolve(asio::ip::tcp::v4(), host, std::to_string(port), ec);
  if (ec) return false;
  bool done = false;
  asio::async_connect(socket_, endpoints, [&](const asio::error_code& e, const auto&) {
    ec = e;
    done = true;
  });
  if (!RunUntil(done, Clock::now() + reply_timeout) || ec) {
    Close();
    io_.run();  // lets the cancelled connect finish
    return false;
  }
  connected_ = true;
  return true;
}

bool CSmtpSocket::ReadLine(std::string& line) {
  const auto deadline = Clock::now() + reply_timeout;
  for (;;) {
    size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      std::erase(line, '\r');
      if (line.size() > kMaxLine) line.resize(kMaxLine);
      return true;
    }
    if (buffer_.size() > kMaxLine * 2) buffer_.erase(kMaxLine);  // an endless line
    char chunk[1024];
    bool done = false;
    asio::error_code ec;
    size_t got = 0;
    socket_.async_read_some(asio::buffer(chunk), [&](const asio::error_code& e, size_t n) {
      ec = e;
      got = n;
      done = true;
    });
    if (!RunUntil(done, deadline)) {
      socket_.cancel();
      io_.run();
      return false;
    }
    if (ec) {
      if (ec == asio::error::eof || ec == asio::error::connection_reset) {
        connected_ = false;
        sink_.ShowText("連線關閉");
        sink_.ShowText(std::string(84, '-'));
        sink_.Closed();
      }
      return false;
    }
    buffer_.append(chunk, got);
  }
}

int CSmtpSocket::ReadReply() {
  ReplyReader reader;
  std::string line;
  while (connected_ && ReadLine(line)) {
    sink_.ShowText(line);
    if (reader.Add(line)) break;
  }
  return reader.code();
}

bool CSmtpSocket::PeerClosed() {
  pollfd p{socket_.native_handle(), POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char c;
  ssize_t n = recv(socket_.native_handle(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  return n < 0 &&
         (errno == EINVAL || errno == ENETRESET || errno == ECONNABORTED || errno == ECONNRESET);
}

bool CSmtpSocket::Send(const std::string& command) {
  asio::error_code ec;
  if (!PeerClosed())
    asio::write(socket_, asio::buffer(command + "\r\n"), ec);
  else
    ec = asio::error::connection_aborted;
  if (ec) {
    Close();
    sink_.ShowText("無法傳遞回應，中斷連線");
    return false;
  }
  sink_.ShowText(command);
  return true;
}

void CSmtpSocket::Close() {
  asio::error_code ec;
  socket_.close(ec);
  connected_ = false;
}

bool CSmtpSocket::Run(const std::string& host, uint16_t port) {
  asio::error_code ec;
  socket_.open(asio::ip::tcp::v4(), ec);
  if (ec) {
    sink_.ShowText("無法建立通訊端");
    return false;
  }
  if (!Connect(host, port)) {
    for (const char* line : {"無法與伺服器溝通，請依序檢查下列事項：", "\t服務是否已啟動！",
                             "\t防火牆是否已開啟！", "\t外部真實IP使否已對應至本機的IP位址。",
                             "\t您可能必須參考網路設備說明書，或洽尋網路設備廠商代為調整。"}) {
      sink_.ShowText(line);
    }
    return false;
  }
  sink_.ShowText("Connected to SMTP host");
  sink_.Connected();
  for (;;) {
    SmtpProbeSteps::Action a = steps_.OnReply(ReadReply());
    if (!a.report.empty()) sink_.ShowText(a.report);
    // A command that cannot be sent is reported; the reply read next is
    // then the empty one, and the steps decide what that means.
    if (!a.send.empty()) Send(a.send);
    if (a.close) Close();
    if (!a.go_on) break;
  }
  Close();
  return steps_.finished();
}

}  // namespace heron::skylark
