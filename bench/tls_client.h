// The load tools' TLS: a client connection's bytes through OpenSSL when TLS
// is on, straight through the socket otherwise. Certificates are not
// checked: the tools measure servers, they do not trust them.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <string>

namespace bench {

// One context for the whole run; every connection makes a full handshake.
inline SSL_CTX* ClientContext() {
  static SSL_CTX* ctx = [] {
    SSL_CTX* c = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
    return c;
  }();
  return ctx;
}

class TlsSocket {
 public:
  TlsSocket() = default;
  ~TlsSocket() { Close(); }
  TlsSocket(const TlsSocket&) = delete;
  TlsSocket& operator=(const TlsSocket&) = delete;

  // The blocking socket `fd` (its time-outs apply) from here on carries
  // TLS; false when the handshake fails.
  bool Start(int fd) {
    ssl_ = SSL_new(ClientContext());
    SSL_set_fd(ssl_, fd);
    if (SSL_connect(ssl_) == 1) return true;
    ERR_clear_error();
    return false;
  }
  bool active() const { return ssl_ != nullptr; }

  ssize_t Recv(int fd, char* buf, size_t size) {
    if (!ssl_) return ::recv(fd, buf, size, 0);
    int n = SSL_read(ssl_, buf, static_cast<int>(size));
    if (n <= 0) ERR_clear_error();
    return n;
  }
  ssize_t Send(int fd, const char* data, size_t size) {
    if (!ssl_) return ::send(fd, data, size, MSG_NOSIGNAL);
    int n = SSL_write(ssl_, data, static_cast<int>(size));
    if (n <= 0) ERR_clear_error();
    return n;
  }
  // Ends TLS (the close notice) before the socket is closed.
  void Close() {
    if (!ssl_) return;
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ssl_ = nullptr;
    ERR_clear_error();
  }

 private:
  SSL* ssl_ = nullptr;
};

}  // namespace bench
