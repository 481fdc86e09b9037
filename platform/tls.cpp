#include "platform/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace heron {

TlsContext::TlsContext() : context_(asio::ssl::context::tls_server) {}

std::shared_ptr<TlsContext> TlsContext::Load(const std::string& certificate_file,
                                             const std::string& key_file, std::string& error) {
  std::shared_ptr<TlsContext> tls(new TlsContext());
  asio::ssl::context& ctx = tls->context_;
  // TLS 1.2 and later only; no renegotiation a client could start.
  ctx.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                  asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                  asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
  SSL_CTX* native = ctx.native_handle();
  SSL_CTX_set_options(native, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  // Sessions resumed by returning clients skip the key exchange.
  static const unsigned char kSessionContext[] = "heron";
  SSL_CTX_set_session_id_context(native, kSessionContext, sizeof kSessionContext - 1);
  // An encrypted key cannot be used by a service: it fails at once, never
  // waits for a passphrase on a terminal.
  ctx.set_password_callback(
      [](std::size_t, asio::ssl::context::password_purpose) { return std::string(); });
  asio::error_code ec;
  ctx.use_certificate_chain_file(certificate_file, ec);
  if (ec) {
    error = certificate_file + ": " + ec.message();
    return nullptr;
  }
  ctx.use_private_key_file(key_file, asio::ssl::context::pem, ec);
  if (ec) {
    error = key_file + ": " + ec.message();
    return nullptr;
  }
  if (SSL_CTX_check_private_key(native) != 1) {
    ERR_clear_error();
    error = key_file + ": the private key does not belong to the certificate";
    return nullptr;
  }
  return tls;
}

}  // namespace heron
