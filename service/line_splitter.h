// Splits a client's byte stream into command lines ended by CR LF, holding
// at most kLimit bytes of an unfinished line. Both session engines use it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace heron {

class LineSplitter {
 public:
  // Pending bytes that are kept; more end the session.
  static constexpr size_t kLimit = 8192;

  // Adds received bytes. False, adding nothing, when the bytes not yet taken
  // out would then exceed kLimit.
  bool Append(std::string_view bytes);
  // The next complete line without its CR LF, if one is pending.
  std::optional<std::string> Next();
  // Every pending byte, taken out (what follows a line that switched the
  // session to message data).
  std::string TakeRest();

 private:
  std::string buffer_;
  size_t pos_ = 0;  // start of the bytes not yet taken out
};

}  // namespace heron
