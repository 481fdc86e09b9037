// CRelaySocket: the socket shell of one relay delivery. It connects to a
// mail exchanger, feeds the replies it reads to the dialogue table and sends
// what the table asks for, with a time-out on every line and on every send.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "relay/relay_dialogue.h"

namespace heron {

// Receives the progress of a delivery: texts for the log, and the
// connection's end.
class CRelayEventSink {
 public:
  virtual ~CRelayEventSink() = default;
  virtual void OnMessage(const std::string& /*text*/) {}
  virtual void OnConnected() {}
  virtual void OnDisconnected() {}
};

class CRelaySocket {
 public:
  // `stop`, when set, ends every wait early: the thread that owns the socket
  // is being stopped.
  explicit CRelaySocket(const std::atomic<bool>* stop = nullptr);
  ~CRelaySocket();
  CRelaySocket(const CRelaySocket&) = delete;
  CRelaySocket& operator=(const CRelaySocket&) = delete;

  void SetSink(CRelayEventSink* sink) { sink_ = sink; }
  void SetHeloName(std::string name) { helo_name_ = std::move(name); }
  void SetReplyTimeout(int seconds) { reply_timeout_ = seconds; }
  // Called once, when the first complete reply has been read.
  void SetAnswerHandler(std::function<void()> handler) { on_answer_ = std::move(handler); }

  // Runs the whole dialogue with `host` (name or address) on `port`. False
  // when no connection could be made; true when the dialogue has run,
  // whatever its outcome.
  bool Deliver(const std::string& host, uint16_t port, const std::string& sender,
               const std::string& recipients, const std::string& message);
  bool IsDelivered() const { return delivered_; }
  // The text of the last reply read, lines joined with "\n".
  std::string GetLastReply() const { return reader_.text(); }
  int LastCode() const { return reader_.code(); }
  // The client's own text of the last failure (no connection, a time-out,
  // a lost connection), or empty.
  const std::string& FailureText() const { return failure_; }
  void Close();

  // Longest line kept (the reader caps a reply's lines); a peer cannot make
  // either grow further.
  static constexpr size_t kMaxLine = 8192;

 private:
  using Clock = std::chrono::steady_clock;
  void Report(const std::string& text);
  void Fail(const std::string& text);
  bool Connect(const std::string& host, uint16_t port);
  int ReadReply();
  bool ReadLine(std::string& line);
  bool SendLine(const std::string& line, bool log);
  bool IsConnectionLost();
  void ShutDown();
  // Runs the socket's handlers until `done` or the deadline (or a stop).
  // `cancel` stops what is outstanding (default: the socket's operations).
  bool RunUntil(const bool& done, Clock::time_point deadline,
                const std::function<void()>& cancel = nullptr);
  bool Stopping() const { return stop_ && *stop_ && !data_sent_; }
  Clock::duration Timeout() const { return std::chrono::seconds(reply_timeout_); }

  const std::atomic<bool>* stop_;
  CRelayEventSink* sink_ = nullptr;
  std::function<void()> on_answer_;
  std::string helo_name_;
  int reply_timeout_ = 30;
  bool delivered_ = false;
  bool connected_ = false;
  bool data_sent_ = false;  // the message is out: its reply is awaited
  std::string failure_;
  ReplyReader reader_;
  std::string pending_;  // bytes read past the last line end
  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
};

}  // namespace heron
