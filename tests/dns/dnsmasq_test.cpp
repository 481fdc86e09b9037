// The lookup client against a real DNS server: dnsmasq on 127.0.0.53:53,
// started by the test and killed after it (also if the test process dies).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dns/dns_lookup.h"

namespace heron {
namespace {

constexpr const char* kAddress = "127.0.0.53";

std::string FindDnsmasq() {
  const char* env = std::getenv("PATH");
  std::string path = std::string(env ? env : "") + ":/usr/sbin:/sbin";
  std::stringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/dnsmasq";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Sends `query` to the server and returns its reply, waiting 200 ms at most.
std::optional<std::string> Ask(const std::string& query) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(53);
  inet_pton(AF_INET, kAddress, &to.sin_addr);
  std::optional<std::string> reply;
  if (sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
      static_cast<ssize_t>(query.size())) {
    pollfd p{fd, POLLIN, 0};
    char buf[4096];
    if (poll(&p, 1, 200) == 1) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n > 0) reply.emplace(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return reply;
}

class DnsmasqTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string binary = FindDnsmasq();
    if (binary.empty()) GTEST_SKIP() << "dnsmasq is not installed";
    if (geteuid() != 0) GTEST_SKIP() << "dnsmasq needs root to listen on port 53";
    log_path_ = "/tmp/heron-dnsmasq-" + std::to_string(getpid()) + ".log";
    std::vector<std::string> args = {binary,
                                     "--no-daemon",
                                     "--conf-file=/dev/null",
                                     "--user=root",
                                     "--pid-file=",
                                     "--port=53",
                                     std::string("--listen-address=") + kAddress,
                                     "--bind-interfaces",
                                     "--no-resolv",
                                     "--no-hosts",
                                     "--mx-host=example.test,mail1.example.test,10",
                                     "--mx-host=example.test,mail2.example.test,5",
                                     "--host-record=mail1.example.test,192.0.2.1,2001:db8::1"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // Dies with the test process, however that ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      int fd = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    const std::string probe = *EncodeMxQuery("example.test");
    for (int i = 0; i < 50; ++i) {
      if ((reply_ = Ask(probe))) return;
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        FAIL() << "dnsmasq exited: " << Log();
      }
    }
    FAIL() << "dnsmasq does not answer: " << Log();
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (!log_path_.empty()) unlink(log_path_.c_str());
    CDnsLookup::SetServerPortForTesting(53);
  }

  std::string Log() const {
    std::ifstream in(log_path_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  pid_t pid_ = -1;
  std::string log_path_;
  std::optional<std::string> reply_;  // the answer to the start-up probe
};

TEST_F(DnsmasqTest, MxLookupGivesTheServersRecordsInItsOrder) {
  auto parsed = ParseReply(*reply_, "Unsupported");
  ASSERT_TRUE(parsed);
  std::vector<std::string> server_order, additional;
  for (const DnsEntry& e : parsed->answers) server_order.push_back(e.data);
  for (const DnsEntry& e : parsed->additionals) additional.push_back(e.data);
  std::vector<std::string> sorted = server_order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"05 mail2.example.test", "10 mail1.example.test"}));
  // dnsmasq adds the exchange's address records.
  for (const char* address : {"192.0.2.1", "2001:db8:0:0:0:0:0:1"}) {
    EXPECT_NE(std::find(additional.begin(), additional.end(), address), additional.end())
        << address;
  }

  CDnsLookup::SetServerPortForTesting(53);
  CDnsLookup lookup;
  std::vector<std::string> results;
  EXPECT_TRUE(lookup.Lookup(kAddress, "example.test", results));
  EXPECT_EQ(results, server_order);
  EXPECT_EQ(lookup.GetErrorText(), "");

  // A name the server does not know: no records, no failure.
  CDnsLookup unknown;
  EXPECT_TRUE(unknown.Lookup(kAddress, "nothing.example.test", results));
  EXPECT_TRUE(results.empty());
}

}  // namespace
}  // namespace heron
