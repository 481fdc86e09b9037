// SMTP acceptance load: C sessions in parallel, each sending one message per
// connection (connect, EHLO, MAIL, RCPT, DATA, QUIT) until M messages are
// sent. Per message it measures the latency from connect to the reply after
// the data, and the greeting latency. With --flood, one more connection
// pipelines NOOP commands as fast as the server takes them for the whole
// run. Prints one line of key=value figures.
//
//   smtp_load --port 2525 --sessions 10 --messages 1000 --size 4096
//             --from a@x.example --to admin@y.test [--flood] [--timeout 300]
//
// Plain POSIX sockets, one thread per session; every read and write has a
// deadline.
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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  int sessions = 10;
  long messages = 100;
  size_t size = 4096;
  std::string from = "load@sender.example";
  std::string to;
  bool flood = false;
  int timeout_seconds = 300;
};

int Connect(const Options& o) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval tv{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(o.port));
  ::inet_pton(AF_INET, o.host.c_str(), &a.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// Reads one whole reply (its last line has a blank after the code); returns
// the code, or 0.
int ReadReply(int fd, std::string& pending) {
  for (;;) {
    size_t start = 0;
    for (;;) {
      size_t end = pending.find("\r\n", start);
      if (end == std::string::npos) break;
      if (end - start >= 4 && pending[start + 3] == ' ') {
        int code = std::atoi(pending.substr(start, 3).c_str());
        pending.erase(0, end + 2);
        return code;
      }
      start = end + 2;
    }
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return 0;
    pending.append(buf, static_cast<size_t>(n));
  }
}

std::string Body(size_t size) {
  std::string text = "Subject: load\r\nFrom: <load@sender.example>\r\n\r\n";
  std::string line(76, 'x');
  while (text.size() + 78 <= size) text += line + "\r\n";
  return text + ".\r\n";
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--port")
      o.port = std::atoi(next().c_str());
    else if (a == "--host")
      o.host = next();
    else if (a == "--sessions")
      o.sessions = std::atoi(next().c_str());
    else if (a == "--messages")
      o.messages = std::atol(next().c_str());
    else if (a == "--size")
      o.size = static_cast<size_t>(std::atol(next().c_str()));
    else if (a == "--from")
      o.from = next();
    else if (a == "--to")
      o.to = next();
    else if (a == "--flood")
      o.flood = true;
    else if (a == "--timeout")
      o.timeout_seconds = std::atoi(next().c_str());
    else {
      std::fprintf(stderr, "smtp_load: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (o.port <= 0 || o.to.empty() || o.sessions <= 0) {
    std::fprintf(stderr, "smtp_load: --port and --to are needed\n");
    return 2;
  }
  const std::string body = Body(o.size);
  std::atomic<long> next_message{0}, sent{0}, failed{0};
  std::mutex mu;
  std::vector<double> latencies, greetings;
  auto deadline = Clock::now() + std::chrono::seconds(o.timeout_seconds);

  std::atomic<bool> flooding{o.flood};
  std::atomic<long> flood_replies{0};
  std::thread flooder;
  if (o.flood) {
    flooder = std::thread([&] {
      int fd = Connect(o);
      if (fd < 0) return;
      std::thread reader([&, fd] {
        char buf[65536];
        for (;;) {
          ssize_t n = ::recv(fd, buf, sizeof buf, 0);
          if (n <= 0) return;
          flood_replies += std::count(buf, buf + n, '\n');
        }
      });
      SendAll(fd, "EHLO flood.example\r\n");
      std::string burst;
      while (burst.size() < 65536) burst += "NOOP\r\n";
      while (flooding && SendAll(fd, burst)) {
      }
      ::shutdown(fd, SHUT_RDWR);
      reader.join();
      ::close(fd);
    });
  }

  auto t0 = Clock::now();
  std::vector<std::thread> workers;
  for (int s = 0; s < o.sessions; ++s) {
    workers.emplace_back([&] {
      while (next_message.fetch_add(1) < o.messages && Clock::now() < deadline) {
        auto start = Clock::now();
        int fd = Connect(o);
        if (fd < 0) {
          ++failed;
          continue;
        }
        std::string pending;
        bool ok = ReadReply(fd, pending) == 220;
        auto greeted = Clock::now();
        ok = ok && SendAll(fd, "EHLO load.example\r\n") && ReadReply(fd, pending) == 250;
        ok = ok && SendAll(fd, "MAIL FROM:<" + o.from + ">\r\n") && ReadReply(fd, pending) == 250;
        ok = ok && SendAll(fd, "RCPT TO:<" + o.to + ">\r\n") && ReadReply(fd, pending) == 250;
        ok = ok && SendAll(fd, "DATA\r\n") && ReadReply(fd, pending) == 354;
        ok = ok && SendAll(fd, body) && ReadReply(fd, pending) == 250;
        auto done = Clock::now();
        if (ok) SendAll(fd, "QUIT\r\n") && ReadReply(fd, pending);
        ::close(fd);
        if (!ok) {
          ++failed;
          continue;
        }
        ++sent;
        std::lock_guard<std::mutex> lock(mu);
        latencies.push_back(Ms(done - start));
        greetings.push_back(Ms(greeted - start));
      }
    });
  }
  for (auto& w : workers) w.join();
  double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  flooding = false;
  if (flooder.joinable()) flooder.join();

  std::printf(
      "sent=%ld failed=%ld seconds=%.3f msgs_per_s=%.1f p50_ms=%.1f p99_ms=%.1f "
      "greet_p50_ms=%.1f greet_p99_ms=%.1f flood_replies=%ld\n",
      sent.load(), failed.load(), seconds, static_cast<double>(sent) / seconds,
      Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(greetings, 0.5),
      Percentile(greetings, 0.99), flood_replies.load());
  return failed == 0 ? 0 : 1;
}
