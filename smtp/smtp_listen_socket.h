// The SMTP listening socket of the service.
#pragma once

#include "platform/listen_socket.h"

namespace heron {

class COsprey;

class CSmtpListenSocket : public CListenSocket {
 public:
  CSmtpListenSocket(asio::io_context& io, COsprey* service)
      : CListenSocket(io), service_(service) {}

 protected:
  void OnAccept(asio::ip::tcp::socket socket) override;

 private:
  COsprey* service_;
};

}  // namespace heron
