// Messages of the service's notification window. Session and relay threads
// post them; the main thread handles them.
#pragma once

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

}  // namespace heron
