// The POP3 listening socket of the service.
#pragma once

#include "platform/listen_socket.h"

namespace heron {

class COsprey;

class CPop3ListenSocket : public CListenSocket {
 public:
  CPop3ListenSocket(asio::io_context& io, COsprey* service)
      : CListenSocket(io), service_(service) {}

 protected:
  void OnAccept(asio::ip::tcp::socket socket) override;

 private:
  COsprey* service_;
};

}  // namespace heron
