#include "platform/listen_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace heron {

CListenSocket::CListenSocket(asio::io_context& io, AcceptHandler on_accept)
    : on_accept_(std::move(on_accept)),
      acceptor_(io),
      retry_(io),
      last_accept_(static_cast<int64_t>(std::time(nullptr))) {}

CListenSocket::~CListenSocket() {
  Close();
  if (spare_fd_ >= 0) close(spare_fd_);
}

int CListenSocket::MaxBacklog() { return SOMAXCONN; }

void CListenSocket::ShedOne() {
  if (spare_fd_ >= 0) close(spare_fd_);
  int fd = accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd >= 0) close(fd);
  spare_fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool CListenSocket::Create(uint16_t port) {
  // IPv6 and IPv4 on one socket where the host has IPv6; IPv4 alone
  // elsewhere. IPv4 clients then arrive as mapped addresses, which the
  // sessions give as dotted quads.
  auto bind = [&](const asio::ip::tcp& protocol, const asio::ip::address& any, bool dual) {
    asio::error_code ec;
    acceptor_.open(protocol, ec);
    if (ec) return false;
    // A restarted service must be able to bind while old connections linger.
    acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
    if (dual) acceptor_.set_option(asio::ip::v6_only(false), ec);
    if (!ec) acceptor_.bind(asio::ip::tcp::endpoint(any, port), ec);
    if (ec) acceptor_.close(ec);
    return !ec;
  };
  if (!bind(asio::ip::tcp::v6(), asio::ip::address_v6::any(), true) &&
      !bind(asio::ip::tcp::v4(), asio::ip::address_v4::any(), false)) {
    return false;
  }
  port_ = port;
  if (spare_fd_ < 0) spare_fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return true;
}

bool CListenSocket::Listen(int backlog) {
  asio::error_code ec;
  acceptor_.listen(backlog, ec);
  if (ec) return false;
  AcceptNext();
  return true;
}

void CListenSocket::Close() {
  asio::error_code ec;
  retry_.cancel();
  acceptor_.close(ec);
}

void CListenSocket::AcceptNext() {
  std::weak_ptr<bool> alive = alive_;
  acceptor_.async_accept([this, alive](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (alive.expired() || ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if ((ec == asio::error::no_descriptors || ec.value() == ENFILE) && spare_fd_ >= 0) {
      ShedOne();
      AcceptNext();
      return;
    }
    if (ec) {
      // A passing failure: try again shortly instead of spinning.
      retry_.expires_after(std::chrono::milliseconds(100));
      retry_.async_wait([this, alive](const asio::error_code& wait_ec) {
        if (!wait_ec && !alive.expired() && acceptor_.is_open()) AcceptNext();
      });
      return;
    }
    last_accept_ = static_cast<int64_t>(std::time(nullptr));
    on_accept_(std::move(socket));
    if (!alive.expired() && acceptor_.is_open()) AcceptNext();
  });
}

}  // namespace heron
