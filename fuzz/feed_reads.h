// Feeds fuzz input to a session engine the way a network would: cut into
// reads at 0xFF bytes, each at most the engine's read size, until the
// session ends. A TLS start the engine asks for succeeds at once, so that
// inputs reach the session after the handshake too.
#pragma once

#include <string_view>

#include "service/tls_policy.h"

// The TLS policy of one input, from its length so that the seeds stay
// plain sessions: none, offered, or offered and required for logins.
inline heron::TlsPolicy FuzzTlsPolicy(size_t size) { return {size % 3 != 0, size % 3 == 2, false}; }

template <typename Session>
void FeedReads(Session& session, std::string_view in) {
  while (!in.empty() && !session.ended()) {
    size_t cut = in.find('\xFF');
    std::string_view chunk = in.substr(0, cut);
    if (chunk.size() > Session::kReadSize) chunk = chunk.substr(0, Session::kReadSize);
    session.Receive(chunk);
    session.TakeOutput();
    if (session.TakeTlsRequest()) session.TlsStarted();
    in.remove_prefix(cut == std::string_view::npos || chunk.size() < cut ? chunk.size() : cut + 1);
  }
}
