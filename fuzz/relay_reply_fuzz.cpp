// Replies of remote mail exchangers: their lines go through the reply reader
// and its codes through the dialogue table; the same bytes as a stored
// message go through the reading of the text to send.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "relay/relay_dialogue.h"
#include "relay/relay_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  heron::ReplyReader reader;
  heron::CRelayDialogue dialogue("helo.example", "<a@b.example>", in.substr(0, 64), "x\r\n.");
  size_t start = 0;
  while (start < in.size()) {
    size_t nl = in.find('\n', start);
    std::string_view line = in.substr(start, nl == std::string_view::npos ? nl : nl - start);
    start = nl == std::string_view::npos ? in.size() : nl + 1;
    if (!reader.Add(line)) continue;
    int code = reader.code();
    if (code < 0 || code > 999) __builtin_trap();
    if (!dialogue.OnReply(code).go_on) break;
    reader.Clear();
  }
  heron::MessageText text = heron::LoadMessageText(in);
  // The data can never hold its own end marker.
  if (text.text.find("\r\n.\r\n") != std::string::npos) __builtin_trap();
  return 0;
}
