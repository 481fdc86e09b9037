// SMTP acceptance load: C sessions in parallel, each sending one message per
// connection (connect, EHLO, MAIL, RCPT, DATA, QUIT) until M messages are
// sent. Per message it measures the latency from connect to the reply after
// the data, and the greeting latency. With --flood, one more connection
// pipelines NOOP commands as fast as the server takes them for the whole
// run. Prints one line of key=value figures.
//
// For relaying, --to takes a comma-separated list (message i goes to entry
// i modulo its length), each message carries "X-Load-Seq: i", and --sink
// names the folder where the receiving smtp-sink dumps one file per message:
// the tool then waits for --sink-expect files (at most --sink-wait seconds)
// and adds the delivered rate and the latency from the 250 after the data to
// the file's time of writing.
//
//   smtp_load --port 2525 --sessions 10 --messages 1000 --size 4096
//             --from a@x.example --to admin@y.test [--flood] [--timeout 300]
//             [--sink DIR --sink-expect N --sink-wait 300] [--tls starttls|implicit]
//
// With --tls, each session encrypts after the greeting and EHLO (STARTTLS,
// then EHLO again) or from its first byte (implicit, an SMTPS port).
//
// Plain POSIX sockets, one thread per session; every read and write has a
// deadline.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/tls_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  int sessions = 10;
  long messages = 100;
  size_t size = 4096;
  std::string from = "load@sender.example";
  std::vector<std::string> to;
  bool flood = false;
  int timeout_seconds = 300;
  std::string sink;
  long sink_expect = 0;
  int sink_wait = 300;
  std::string tls;  // "", "starttls" or "implicit"
};

double WallSeconds() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The dumped messages of the sink: sequence number -> time written.
std::map<long, double> SinkReceipts(const std::string& dir) {
  std::map<long, double> out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (e->d_name[0] == '.' || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line) && !line.empty() && line != "\r") {
      if (line.rfind("X-Load-Seq: ", 0) == 0) {
        out[std::atol(line.c_str() + 12)] =
            static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
        break;
      }
    }
  }
  ::closedir(d);
  return out;
}

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

bool SendAll(int fd, const std::string& s, bench::TlsSocket* tls = nullptr) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t n = tls ? tls->Send(fd, s.data() + off, s.size() - off)
                    : ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// Reads one whole reply (its last line has a blank after the code); returns
// the code, or 0.
int ReadReply(int fd, std::string& pending, bench::TlsSocket& tls) {
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
    ssize_t n = tls.Recv(fd, buf, sizeof buf);
    if (n <= 0) return 0;
    pending.append(buf, static_cast<size_t>(n));
  }
}

std::string Body(size_t size, long seq) {
  std::string text = "X-Load-Seq: " + std::to_string(seq) +
                     "\r\nSubject: load\r\nFrom: <load@sender.example>\r\n\r\n";
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
    else if (a == "--to") {
      std::string list = next();
      for (size_t start = 0; start <= list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        if (comma > start) o.to.push_back(list.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (a == "--sink")
      o.sink = next();
    else if (a == "--sink-expect")
      o.sink_expect = std::atol(next().c_str());
    else if (a == "--sink-wait")
      o.sink_wait = std::atoi(next().c_str());
    else if (a == "--flood")
      o.flood = true;
    else if (a == "--timeout")
      o.timeout_seconds = std::atoi(next().c_str());
    else if (a == "--tls")
      o.tls = next();
    else {
      std::fprintf(stderr, "smtp_load: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (o.port <= 0 || o.to.empty() || o.sessions <= 0) {
    std::fprintf(stderr, "smtp_load: --port and --to are needed\n");
    return 2;
  }
  std::atomic<long> next_message{0}, sent{0}, failed{0};
  std::mutex mu;
  std::vector<double> latencies, greetings;
  std::map<long, double> accepted;  // sequence number -> wall time of the 250
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
  double wall0 = WallSeconds();
  std::vector<std::thread> workers;
  for (int s = 0; s < o.sessions; ++s) {
    workers.emplace_back([&] {
      for (long seq; (seq = next_message.fetch_add(1)) < o.messages && Clock::now() < deadline;) {
        const std::string& to = o.to[static_cast<size_t>(seq) % o.to.size()];
        const std::string body = Body(o.size, seq);
        auto start = Clock::now();
        int fd = Connect(o);
        if (fd < 0) {
          ++failed;
          continue;
        }
        std::string pending;
        bench::TlsSocket tls;
        auto say = [&](const std::string& text, int code) {
          return SendAll(fd, text, &tls) && ReadReply(fd, pending, tls) == code;
        };
        bool ok = o.tls != "implicit" || tls.Start(fd);
        ok = ok && ReadReply(fd, pending, tls) == 220;
        auto greeted = Clock::now();
        ok = ok && say("EHLO load.example\r\n", 250);
        if (o.tls == "starttls") {
          ok = ok && say("STARTTLS\r\n", 220) && tls.Start(fd) && say("EHLO load.example\r\n", 250);
        }
        ok = ok && say("MAIL FROM:<" + o.from + ">\r\n", 250);
        ok = ok && say("RCPT TO:<" + to + ">\r\n", 250);
        ok = ok && say("DATA\r\n", 354);
        ok = ok && say(body, 250);
        auto done = Clock::now();
        double wall_done = WallSeconds();
        if (ok) say("QUIT\r\n", 221);
        tls.Close();
        ::close(fd);
        if (!ok) {
          ++failed;
          continue;
        }
        ++sent;
        std::lock_guard<std::mutex> lock(mu);
        latencies.push_back(Ms(done - start));
        greetings.push_back(Ms(greeted - start));
        accepted[seq] = wall_done;
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
  if (!o.sink.empty()) {
    auto until = Clock::now() + std::chrono::seconds(o.sink_wait);
    std::map<long, double> got = SinkReceipts(o.sink);
    while (static_cast<long>(got.size()) < o.sink_expect && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      got = SinkReceipts(o.sink);
    }
    std::vector<double> relay;
    double last = wall0;
    for (const auto& [seq, when] : got) {
      auto it = accepted.find(seq);
      if (it != accepted.end()) relay.push_back((when - it->second) * 1000);
      last = std::max(last, when);
    }
    double span = last - wall0;
    std::printf("delivered=%zu relay_msgs_per_s=%.1f relay_p50_ms=%.1f relay_p99_ms=%.1f\n",
                got.size(), span > 0 ? static_cast<double>(got.size()) / span : 0.0,
                Percentile(relay, 0.5), Percentile(relay, 0.99));
    if (static_cast<long>(got.size()) < o.sink_expect) return 1;
  }
  return failed == 0 ? 0 : 1;
}
