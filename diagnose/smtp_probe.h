// The SMTP probe's socket: connects to port 25 of a mail exchanger, reads
// replies line by line with a deadline per line, and holds the greeting,
// HELO, QUIT conversation of SmtpProbeSteps, reporting every line.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <string>

#include "diagnose/diagnosis.h"

namespace heron::skylark {

class CSmtpSocket {
 public:
  // `host_name`: the name given in HELO. A wait ends soon after `*cancel`
  // becomes true.
  CSmtpSocket(SmtpSink& sink, std::string host_name, const std::atomic<bool>* cancel = nullptr);
  // True when the conversation ended with "完成！".
  bool Run(const std::string& host, uint16_t port = 25);

  std::chrono::milliseconds reply_timeout{10000};
  // Longest reply line kept; the rest of a longer line is dropped.
  static constexpr size_t kMaxLine = 8192;

 private:
  bool Connect(const std::string& host, uint16_t port);
  // One reply's code (0 when nothing could be read).
  int ReadReply();
  // False when the line could not be read whole in time.
  bool ReadLine(std::string& line);
  bool Send(const std::string& command);
  bool PeerClosed();
  void Close();
  // Runs the loop until `done` or the deadline or a cancel.
  bool RunUntil(const bool& done, std::chrono::steady_clock::time_point deadline);

  SmtpSink& sink_;
  SmtpProbeSteps steps_;
  const std::atomic<bool>* cancel_;
  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
  std::string buffer_;
  bool connected_ = false;
};

}  // namespace heron::skylark
