#include "pop3/pop3_listen_socket.h"

namespace heron {

void CPop3ListenSocket::OnAccept(asio::ip::tcp::socket socket) {
  // Sessions are not served yet: the connection is closed at once.
  (void)service_;
  asio::error_code ec;
  socket.close(ec);
}

}  // namespace heron
