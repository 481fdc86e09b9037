// What a session's engine knows of TLS: whether it may offer it, whether
// logins must wait for it, and whether the connection is encrypted already.
// The engines decide replies from it; the thread does the handshake.
#pragma once

#include <string>

namespace heron {

struct TlsPolicy {
  bool offered = false;   // a certificate is loaded
  bool required = false;  // TlsRequired: no password in clear from the network
  bool active = false;    // the connection is encrypted

  // STARTTLS or STLS can be taken now.
  bool CanStart() const { return offered && !active; }
  // Logins (and the password dialogues) are refused until TLS is active;
  // clients on this machine never need it.
  bool LoginRefused(const std::string& client_ip) const {
    bool loopback = client_ip.rfind("127.", 0) == 0 || client_ip == "::1";
    return offered && required && !active && !loopback;
  }
};

}  // namespace heron
