#include "pop3/pop3_listen_socket.h"

#include "service/osprey.h"

namespace heron {

void CPop3ListenSocket::OnAccept(asio::ip::tcp::socket socket) {
  service_->AcceptPop3(std::move(socket));
}

}  // namespace heron
