// A scripted SMTP server on loopback for the relay client's tests: it sends
// a greeting, then one scripted reply per command line (and one after the
// message data), and records every byte it receives.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace heron::testing {

class ScriptedPeer {
 public:
  // `replies[0]` is the greeting (empty: never greet); each further entry
  // answers the next command line, or the message after a 354. Replies are
  // sent as given (CR LF included).
  explicit ScriptedPeer(std::vector<std::string> replies) : replies_(std::move(replies)) {
    acceptor_.open(asio::ip::tcp::v4());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind({asio::ip::make_address_v4("127.0.0.1"), 0});
    acceptor_.listen();
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedPeer() {
    asio::error_code ec;
    acceptor_.close(ec);
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (client_) client_->close(ec);
    }
    io_.stop();
    thread_.join();
  }
  uint16_t port() const { return acceptor_.local_endpoint().port(); }
  std::string received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }

 private:
  void Serve() {
    asio::error_code ec;
    asio::ip::tcp::socket s(io_);
    acceptor_.accept(s, ec);
    if (ec) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      client_ = &s;
    }
    size_t next = 0;
    auto send = [&] {
      if (next < replies_.size() && !replies_[next].empty()) {
        asio::write(s, asio::buffer(replies_[next]), ec);
      }
      ++next;
    };
    send();  // the greeting
    std::string buf;
    bool in_data = false;
    char chunk[4096];
    while (!ec && next <= replies_.size()) {
      size_t n = s.read_some(asio::buffer(chunk), ec);
      if (ec) break;
      {
        std::lock_guard<std::mutex> lock(mu_);
        received_.append(chunk, n);
      }
      buf.append(chunk, n);
      for (;;) {
        if (in_data) {
          size_t end = buf.find("\r\n.\r\n");
          if (end == std::string::npos) break;
          buf.erase(0, end + 5);
          in_data = false;
          send();
          continue;
        }
        size_t nl = buf.find("\r\n");
        if (nl == std::string::npos) break;
        std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 2);
        bool go_data =
            line == "DATA" && next < replies_.size() && replies_[next].compare(0, 3, "354") == 0;
        send();
        // The DATA line itself ends with the CR LF that starts the marker.
        if (go_data) {
          in_data = true;
          buf.insert(0, "\r\n");
        }
      }
    }
    std::lock_guard<std::mutex> lock(mu_);
    client_ = nullptr;
  }

  std::vector<std::string> replies_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  std::thread thread_;
  std::mutex mu_;
  asio::ip::tcp::socket* client_ = nullptr;
  std::string received_;
};

}  // namespace heron::testing
