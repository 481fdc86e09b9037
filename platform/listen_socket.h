// A listening TCP socket on all local addresses (IPv6 and IPv4 where the host
// has IPv6, IPv4 alone elsewhere), accepting on an event
// loop. Create binds, Listen starts accepting; each accepted connection is
// handed to the accept handler on the loop's thread. When descriptors run
// out, the waiting connection is closed instead of being left to fill the
// backlog.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>

namespace heron {

class CListenSocket {
 public:
  using AcceptHandler = std::function<void(asio::ip::tcp::socket)>;
  CListenSocket(asio::io_context& io, AcceptHandler on_accept);
  virtual ~CListenSocket();
  CListenSocket(const CListenSocket&) = delete;
  CListenSocket& operator=(const CListenSocket&) = delete;

  // Opens a stream socket bound to all addresses on `port`. Success.
  bool Create(uint16_t port);
  // Starts listening with `backlog` and accepting. Success.
  bool Listen(int backlog);
  // Shuts down and closes the socket; no accept is handed out after it.
  void Close();

  // Seconds since 1970 of the last accepted connection (creation time until
  // the first one).
  int64_t last_accept() const { return last_accept_; }
  // The largest backlog the platform grants.
  static int MaxBacklog();
  uint16_t port() const { return port_; }

 private:
  void AcceptNext();
  // Out of descriptors: uses the spare one to take the waiting connection
  // and close it.
  void ShedOne();

  AcceptHandler on_accept_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  // Expires with the object, so that late completions never reach it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::atomic<int64_t> last_accept_;
  uint16_t port_ = 0;
  int spare_fd_ = -1;
};

}  // namespace heron
