#include "smtp/smtp_listen_socket.h"

namespace heron {

void CSmtpListenSocket::OnAccept(asio::ip::tcp::socket socket) {
  // Sessions are not served yet: the connection is closed at once.
  (void)service_;
  asio::error_code ec;
  socket.close(ec);
}

}  // namespace heron
