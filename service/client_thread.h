// A client connection served on a thread of its own: its own event loop,
// a one-second timer for the inactivity time-out, and the read/reply cycle
// around a protocol engine. SMTP and POP3 sessions derive from it.
#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <string_view>

#include "service/service_host.h"
#include "service/session_thread.h"

namespace heron {

// The protocol's own log texts for what the thread itself detects.
struct ClientTexts {
  const char* tag;            // "SMTP" or "POP3": log prefix and notification tag
  const char* timed_out;      // inactivity time-out
  const char* send_failed;    // a reply could not be sent
  const char* receive_error;  // printf format with the error number
};

class CClientThread : public CSessionThread, public std::enable_shared_from_this<CClientThread> {
 public:
  CClientThread(ServiceHost& service, const ClientTexts& texts, std::string peer);
  ~CClientThread() override;

  // Takes over the accepted connection and starts the thread. False when the
  // thread cannot be made (the connection is then closed).
  bool Start(asio::ip::tcp::socket accepted);

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

  // Posts one log line, prefixed "<TAG> ", to the service (level 1 error,
  // 2 information).
  void LogText(const std::string& text, int level = 2);
  // Refreshes the time of last activity.
  void Touch();
  const std::string& peer() const { return peer_; }
  // Other sessions counted when this one began (for the connection limit).
  int sessions_before() const { return sessions_before_; }
  ServiceHost& service() const { return service_; }

 private:
  void ThreadMain(std::shared_ptr<CClientThread> self);
  void ReadNext();
  void Flush();
  void WriteRest(size_t sent);
  void Finish();
  void ArmTimer();

  ServiceHost& service_;
  ClientTexts texts_;
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  std::string peer_;
  std::array<char, 4096> buffer_{};
  std::string writing_;
  int sessions_before_ = 0;
  bool finished_ = false;
  std::atomic<int64_t> last_activity_;
  std::atomic<int64_t> last_progress_{0};  // last time a reply piece was sent
  std::atomic<uint32_t> thread_id_{0};
  std::promise<void> ended_;
  std::shared_future<void> ended_future_;
};

}  // namespace heron
