#include "smtp/smtp_listen_socket.h"

#include "service/osprey.h"

namespace heron {

void CSmtpListenSocket::OnAccept(asio::ip::tcp::socket socket) {
  service_->AcceptSmtp(std::move(socket));
}

}  // namespace heron
