// Messages of the service's notification window (the main loop), and the
// texts they carry. Only the service object posts and handles them: the
// threads it runs reach it through its host interface.
#pragma once

#include <optional>
#include <string>

namespace heron {

constexpr unsigned kWmUser = 0x0400;
constexpr unsigned WM_CLIENT_CONNECTED = kWmUser + 200;     // text "ip|tag", thread id
constexpr unsigned WM_CLIENT_DISCONNECTED = kWmUser + 201;  // text "ip|tag", thread id
constexpr unsigned WM_LOG_INFO = kWmUser + 202;             // text, thread id
constexpr unsigned WM_LOG_ERROR = kWmUser + 203;            // text, thread id
constexpr unsigned WM_LOG_DETAIL = kWmUser + 204;           // text, thread id
constexpr unsigned WM_MESSAGE_RECEIVED = kWmUser + 205;     // path of a drop file
constexpr unsigned WM_STOP_SERVICE = kWmUser + 206;
constexpr unsigned WM_RELOAD_SETTINGS = kWmUser + 207;
constexpr unsigned WM_CLEAR_LOG = kWmUser + 208;

// The text of the connect and disconnect messages.
struct ClientNotice {
  std::string address;
  std::string tag;  // "SMTP" or "POP3"
};
inline ClientNotice ParseClientNotice(const std::string& text) {
  size_t bar = text.find('|');
  if (bar == std::string::npos) return {text, std::string()};
  return {text.substr(0, bar), text.substr(bar + 1)};
}

// The log level of a log message, if it is one.
inline std::optional<int> LogLevelOf(unsigned msg) {
  if (msg == WM_LOG_ERROR) return 1;
  if (msg == WM_LOG_INFO) return 2;
  if (msg == WM_LOG_DETAIL) return 3;
  return std::nullopt;
}

}  // namespace heron
