// POP3 retrieval load: C parallel connections, one per user; each logs in
// (USER/PASS), runs STAT, then RETR and DELE for every message, and QUITs.
// Prints one line of key=value figures for the whole run.
//
// All connections are opened at once and wait for their greetings first
// (connect_s); the clock for the figures starts when every one is greeted,
// so they measure the sessions from login to QUIT.
//
//   pop3_load --port 2110 --users pop01,pop02 --password secret [--expect 200]
//             [--host 127.0.0.1] [--timeout 60] [--tls stls|implicit]
//
// With --tls, each connection encrypts after the greeting (STLS) or from
// its first byte (implicit, a POP3S port).
//
// Plain POSIX sockets, one thread per connection. Every socket read and write
// has a deadline, and the whole run is bounded by --timeout seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/tls_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  std::vector<std::string> users;
  std::string password;
  long expect = -1;  // messages per mailbox; -1 accepts any count
  int timeout_seconds = 60;
  std::string tls;  // "", "stls" or "implicit"
};

struct Result {
  bool ok = false;
  std::string error;
  long messages = 0;
  long long octets = 0;  // message text received in RETR replies
};

class Connection {
 public:
  Connection(const Options& o, Clock::time_point deadline) : deadline_(deadline) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(o.port));
    if (::inet_pton(AF_INET, o.host.c_str(), &a.sin_addr) != 1 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Connection() {
    tls_.Close();
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  // Encrypts the connection from here on (nothing may be buffered).
  bool StartTls() { return pos_ == buf_.size() && tls_.Start(fd_); }

  bool Send(const std::string& line) {
    std::string out = line + "\r\n";
    size_t done = 0;
    while (done < out.size()) {
      if (Clock::now() > deadline_) return false;
      ssize_t n = tls_.Send(fd_, out.data() + done, out.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // One reply line without its CR LF.
  bool ReadLine(std::string& line) {
    for (;;) {
      size_t end = buf_.find("\r\n", pos_);
      if (end != std::string::npos) {
        line.assign(buf_, pos_, end - pos_);
        pos_ = end + 2;
        return true;
      }
      if (!Fill()) return false;
    }
  }

  // The rest of a multi-line reply, up to and without the "." line; returns
  // the number of octets before the terminator.
  bool ReadMultiline(long long& octets) {
    size_t start = pos_;
    size_t scan = pos_;
    for (;;) {
      // The terminator is "." alone on a line; the first line may be it.
      if (buf_.size() - start >= 3 && buf_.compare(start, 3, ".\r\n") == 0) {
        octets = 0;
        pos_ = start + 3;
        return true;
      }
      size_t end = buf_.find("\r\n.\r\n", scan > start + 4 ? scan - 4 : start);
      if (end != std::string::npos) {
        octets = static_cast<long long>(end + 2 - start);
        pos_ = end + 5;
        return true;
      }
      scan = buf_.size();
      if (!Fill()) return false;
    }
  }

 private:
  bool Fill() {
    if (Clock::now() > deadline_) return false;
    if (pos_ > 0 && pos_ == buf_.size()) {
      buf_.clear();
      pos_ = 0;
    } else if (pos_ > (1u << 20)) {
      buf_.erase(0, pos_);
      pos_ = 0;
    }
    char chunk[65536];
    ssize_t n = tls_.Recv(fd_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buf_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  bench::TlsSocket tls_;
  Clock::time_point deadline_;
  std::string buf_;
  size_t pos_ = 0;
};

bool Ok(const std::string& line) { return line.rfind("+OK", 0) == 0; }

// Waits at the start line until every connection has been greeted.
class StartLine {
 public:
  explicit StartLine(size_t n) : left_(n) {}
  void Arrive() { --left_; }
  bool AllArrived() const { return left_.load() == 0; }
  void Go() { go_ = true; }
  bool Wait(Clock::time_point deadline) const {
    while (!go_.load()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

 private:
  std::atomic<size_t> left_;
  std::atomic<bool> go_{false};
};

Result RunUser(const Options& o, const std::string& user, Clock::time_point deadline,
               StartLine& start) {
  Result r;
  bool arrived = false;
  auto fail = [&](const std::string& what) {
    r.error = user + ": " + what;
    if (!arrived) start.Arrive();
    return r;
  };
  Connection c(o, deadline);
  if (!c.connected()) return fail("cannot connect");
  std::string line;
  if (o.tls == "implicit" && !c.StartTls()) return fail("TLS handshake failed");
  if (!c.ReadLine(line) || !Ok(line)) return fail("no greeting: " + line);
  if (o.tls == "stls") {
    if (!c.Send("STLS") || !c.ReadLine(line) || !Ok(line)) return fail("STLS: " + line);
    if (!c.StartTls()) return fail("TLS handshake failed");
  }
  start.Arrive();
  arrived = true;
  if (!start.Wait(deadline)) return fail("never started");
  if (!c.Send("USER " + user) || !c.ReadLine(line) || !Ok(line)) return fail("USER: " + line);
  if (!c.Send("PASS " + o.password) || !c.ReadLine(line) || !Ok(line)) {
    return fail("PASS: " + line);
  }
  if (!c.Send("STAT") || !c.ReadLine(line) || !Ok(line)) return fail("STAT: " + line);
  long count = std::strtol(line.c_str() + 3, nullptr, 10);
  if (o.expect >= 0 && count != o.expect) {
    return fail("STAT says " + std::to_string(count) + " messages, expected " +
                std::to_string(o.expect));
  }
  for (long i = 1; i <= count; ++i) {
    long long octets = 0;
    std::string n = std::to_string(i);
    if (!c.Send("RETR " + n) || !c.ReadLine(line) || !Ok(line)) return fail("RETR: " + line);
    if (!c.ReadMultiline(octets)) return fail("RETR " + n + ": reply cut short");
    if (!c.Send("DELE " + n) || !c.ReadLine(line) || !Ok(line)) return fail("DELE: " + line);
    r.octets += octets;
    ++r.messages;
  }
  if (!c.Send("QUIT") || !c.ReadLine(line) || !Ok(line)) return fail("QUIT: " + line);
  r.ok = true;
  return r;
}

void Usage() {
  std::fprintf(stderr,
               "usage: pop3_load --port P --users u1,u2,... --password PW [--expect N]\n"
               "                 [--host 127.0.0.1] [--timeout SECONDS] [--tls stls|implicit]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) Usage();
    std::string v = argv[++i];
    if (a == "--host") {
      o.host = v;
    } else if (a == "--port") {
      o.port = std::atoi(v.c_str());
    } else if (a == "--users") {
      size_t start = 0;
      while (start <= v.size()) {
        size_t comma = v.find(',', start);
        if (comma == std::string::npos) comma = v.size();
        if (comma > start) o.users.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (a == "--password") {
      o.password = v;
    } else if (a == "--expect") {
      o.expect = std::atol(v.c_str());
    } else if (a == "--timeout") {
      o.timeout_seconds = std::atoi(v.c_str());
    } else if (a == "--tls") {
      o.tls = v;
    } else {
      Usage();
    }
  }
  if (o.port <= 0 || o.port > 65535 || o.users.empty() || o.timeout_seconds <= 0) Usage();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = Parse(argc, argv);
  std::vector<Result> results(o.users.size());
  std::vector<std::thread> threads;
  StartLine start_line(o.users.size());
  auto connect_start = Clock::now();
  Clock::time_point deadline = connect_start + std::chrono::seconds(o.timeout_seconds);
  for (size_t i = 0; i < o.users.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = RunUser(o, o.users[i], deadline, start_line); });
  }
  while (!start_line.AllArrived() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  auto start = Clock::now();
  start_line.Go();
  for (auto& t : threads) t.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  double connect_seconds = std::chrono::duration<double>(start - connect_start).count();

  long messages = 0;
  long long octets = 0;
  int failed = 0;
  for (const Result& r : results) {
    messages += r.messages;
    octets += r.octets;
    if (!r.ok) {
      ++failed;
      std::fprintf(stderr, "pop3_load: %s\n", r.error.c_str());
    }
  }
  double mib = static_cast<double>(octets) / (1024.0 * 1024.0);
  std::printf(
      "connections=%zu failed=%d connect_s=%.4f messages=%ld octets=%lld seconds=%.4f "
      "msgs_per_s=%.1f mib_per_s=%.2f\n",
      o.users.size(), failed, connect_seconds, messages, octets, seconds,
      seconds > 0 ? static_cast<double>(messages) / seconds : 0.0,
      seconds > 0 ? mib / seconds : 0.0);
  return failed ? 1 : 0;
}
