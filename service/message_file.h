// Message files: what an accepted message is stored as, and how readers take
// the envelope back out of it. Written by the SMTP side, read by POP3, the
// distribution and the relay.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

// "Sun, 06 Dec 2026 17:06:19 GMT" for a moment in UTC.
std::string GmtDateText(std::time_t t);

// Placeholder after "by" in the trace line when no local domain is set.
constexpr const char* kPlaceholderDomain = "localhost.localdomain";

struct MessageEnvelope {
  std::string sender;
  std::vector<std::string> recipients;
  std::string helo;
  std::string client_ip;
  std::string by_domain;  // first local domain, or the placeholder
  std::string server_id;
  std::time_t when = 0;
};

// The text without its trailing white space and then its trailing dots:
// what is left of message data once its end marker is taken off.
std::string_view TrimMessageEnd(std::string_view text);

// The head of a message file: the envelope lines and the trace line.
std::string MessageFileHead(const MessageEnvelope& env);
// The whole file: the head, then the data with trailing white space and
// then trailing dots removed.
std::string BuildMessageFile(const MessageEnvelope& env, std::string_view data);

// Recipients of a stored message, lower case, from the "x-receiver:" lines
// of the envelope block at the top of the file.
std::vector<std::string> ReadRecipients(std::string_view content);

// The "x-receiver:" lines of the envelope block at the top of a file name
// every recipient, Bcc ones too: POP3 never shows them. Their bytes (line
// ends included) in `content`, which may be the file's head only; and the
// text without them. `complete` is false when the head ends inside the
// envelope block.
size_t ReceiverLineBytes(std::string_view content, bool* complete = nullptr);
void StripReceiverLines(std::string& content);

struct MessageHeaderFields {
  std::string sender, date, subject;  // lower case, trimmed
};
MessageHeaderFields ReadHeaderFields(std::string_view content);

}  // namespace heron
