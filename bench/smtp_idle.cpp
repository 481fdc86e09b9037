// Idle SMTP sessions: opens N connections one after another, reads each
// greeting, prints "ready opened=N greeted=G", then holds them all open
// without a word until SIGTERM or SIGINT arrives or --hold seconds pass, and
// closes them.
//
//   smtp_idle --port 2525 --count 500 [--host 127.0.0.1] [--hold 120]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Usage() {
  std::fprintf(stderr, "usage: smtp_idle --port P --count N [--host 127.0.0.1] [--hold SECONDS]\n");
  std::exit(2);
}

// Reads until the first line ends (a greeting may arrive in pieces).
bool ReadGreeting(int fd, Clock::time_point deadline) {
  std::string got;
  while (got.find("\r\n") == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[512];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    got.append(buf, static_cast<size_t>(n));
  }
  return got.rfind("220", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 0, count = 0, hold = 120;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--host") {
      host = v;
    } else if (a == "--port") {
      port = std::atoi(v.c_str());
    } else if (a == "--count") {
      count = std::atoi(v.c_str());
    } else if (a == "--hold") {
      hold = std::atoi(v.c_str());
    } else {
      Usage();
    }
  }
  if (argc % 2 == 0 || port <= 0 || port > 65535 || count <= 0 || hold <= 0) Usage();

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) Usage();

  // The whole opening phase is bounded; a server that stops greeting (a
  // process limit, say) leaves the rest unopened.
  auto deadline = Clock::now() + std::chrono::seconds(60);
  std::vector<int> fds;
  int greeted = 0;
  for (int i = 0; i < count && Clock::now() < deadline; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) break;
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);  // bounds connect()
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      break;
    }
    fds.push_back(fd);
    auto wait = std::min(deadline, Clock::now() + std::chrono::seconds(10));
    if (!ReadGreeting(fd, wait)) break;
    ++greeted;
  }
  std::printf("ready opened=%zu greeted=%d\n", fds.size(), greeted);
  std::fflush(stdout);

  timespec limit{hold, 0};
  sigtimedwait(&stop, nullptr, &limit);
  for (int fd : fds) ::close(fd);
  std::printf("closed\n");
  return greeted == count ? 0 : 1;
}
