// Feeds fuzz input to a session engine the way a network would: cut into
// reads at 0xFF bytes, each at most the engine's read size, until the
// session ends.
#pragma once

#include <string_view>

template <typename Session>
void FeedReads(Session& session, std::string_view in) {
  while (!in.empty() && !session.ended()) {
    size_t cut = in.find('\xFF');
    std::string_view chunk = in.substr(0, cut);
    if (chunk.size() > Session::kReadSize) chunk = chunk.substr(0, Session::kReadSize);
    session.Receive(chunk);
    session.TakeOutput();
    in.remove_prefix(cut == std::string_view::npos || chunk.size() < cut ? chunk.size() : cut + 1);
  }
}
