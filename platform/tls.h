// Server-side TLS: a certificate chain and its private key, loaded from PEM
// files into a context that sessions share. A context is never changed
// after it is loaded; a renewed certificate is a new context.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <memory>
#include <string>

namespace heron {

class TlsContext {
 public:
  // Loads `certificate_file` (the chain, leaf first) and `key_file`. Null,
  // with the reason in `error`, when either cannot be read or they do not
  // belong together.
  static std::shared_ptr<TlsContext> Load(const std::string& certificate_file,
                                          const std::string& key_file, std::string& error);

  asio::ssl::context& native() { return context_; }

 private:
  TlsContext();
  asio::ssl::context context_;
};

}  // namespace heron
