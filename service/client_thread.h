// A client connection served on a thread of its own: the thread runs the
// protocol engine (which may wait for the disk), while the socket's reads
// and writes run on the service's shared network loop, so that a session
// costs one descriptor. The thread checks its inactivity time-out once a
// second. SMTP and POP3 sessions derive from it.
#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/tls.h"
#include "service/service_host.h"
#include "service/session_thread.h"

namespace heron {

// The protocol's own log texts for what the thread itself detects.
struct ClientTexts {
  const char* tag;            // "SMTP" or "POP3": log prefix and notification tag
  const char* timed_out;      // inactivity time-out
  const char* send_failed;    // a reply could not be sent
  const char* receive_error;  // printf format with the error number
  const char* tls_failed;     // printf format with the reason
};

class CClientThread : public CSessionThread, public std::enable_shared_from_this<CClientThread> {
 public:
  CClientThread(ServiceHost& service, const ClientTexts& texts, std::string peer);
  ~CClientThread() override;

  // Takes over the accepted connection (whose loop keeps running while the
  // session lives) and starts the thread. False when the thread cannot be
  // made; the connection is then closed.
  bool Start(asio::ip::tcp::socket accepted);
  // Before Start: the certificate the session may use, and whether the
  // connection is encrypted from its first byte (the handshake then comes
  // before the engine starts).
  void UseTls(std::shared_ptr<TlsContext> context, bool implicit);

  uint32_t ThreadId() const override { return thread_id_; }
  void PostQuit() override;
  bool WaitEnded(std::chrono::milliseconds limit) override;

  // Dotted address of the client of an accepted connection.
  static std::string PeerAddress(const asio::ip::tcp::socket& socket);

 protected:
  // The engine: connection start (greeting or refusal), received bytes,
  // replies produced, and whether the session must end.
  virtual void OnStart() = 0;
  virtual void OnBytes(std::string_view bytes) = 0;
  virtual std::string TakeOutput() = 0;
  virtual bool SessionOver() const = 0;
  // Seconds of silence after which the session is dropped.
  virtual int TimeoutSeconds() const = 0;
  // Whether the engine asked for TLS once its pending replies are sent, and
  // the news that the handshake succeeded.
  virtual bool TakeTlsRequest() { return false; }
  virtual void OnTlsStarted() {}

  // Posts one log line, prefixed "<TAG> ", to the service (level 1 error,
  // 2 information).
  void LogText(const std::string& text, int level = 2);
  // Refreshes the time of last activity.
  void Touch();
  const std::string& peer() const { return peer_; }
  // Other sessions counted when this one began (for the connection limit).
  int sessions_before() const { return sessions_before_; }
  // Of those, the ones from this session's client address.
  int sessions_from_address() const { return sessions_from_address_; }
  ServiceHost& service() const { return service_; }

 private:
  // How a wait for the network ended.
  enum class Wait { kDone, kTimedOut, kQuit };

  void ThreadMain(std::shared_ptr<CClientThread> self);
  // One read into buffer_; the byte count, or nothing when the session ends.
  std::optional<size_t> Receive();
  // Sends the whole text; false when the session ends.
  bool Send(std::string text);
  // The server side of a TLS handshake; false (logged) when it failed or
  // the session ends.
  bool Handshake();
  // Runs `op` on what carries the session's bytes: the TLS stream once the
  // handshake is done, the socket before.
  template <typename Op>
  void OnStream(Op op) {
    if (tls_) {
      op(*tls_);
    } else {
      op(*socket_);
    }
  }
  // Runs `start` on the network loop, then waits for `done`, checking the
  // time-out and the quit request once a second.
  Wait Await(const std::function<void()>& start);
  void Complete();
  void CloseSocket();
  static int64_t Now();

  ServiceHost& service_;
  ClientTexts texts_;
  std::optional<asio::ip::tcp::socket> socket_;
  std::shared_ptr<TlsContext> tls_context_;
  bool implicit_tls_ = false;
  // Once the handshake succeeded, every read and write goes through it.
  std::shared_ptr<asio::ssl::stream<asio::ip::tcp::socket&>> tls_;
  std::string peer_;
  std::array<char, 4096> buffer_{};
  std::string writing_;
  int sessions_before_ = 0;
  int sessions_from_address_ = 0;

  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;  // the operation on the loop completed
  asio::error_code result_;
  size_t transferred_ = 0;
  std::atomic<bool> quit_{false};

  std::atomic<int64_t> last_activity_;
  // Commands in the current one-second window, for the flood rule.
  static constexpr int kFloodCommands = 2000;
  std::chrono::steady_clock::time_point command_window_{};
  int commands_ = 0;
  bool lowered_ = false;
  std::atomic<int64_t> last_progress_{0};  // last time a reply piece was sent
  std::atomic<uint32_t> thread_id_{0};
  std::promise<void> ended_;
  std::shared_future<void> ended_future_;
};

}  // namespace heron
