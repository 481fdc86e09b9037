// Slows password guessing: after kFailures failed logins from one client
// address within kWindow seconds, every login from that address fails for
// kBlock seconds without its password being checked. Shared by all
// sessions (SMTP AUTH, POP3 PASS, CPWD, ADMN); thread-safe; bounded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace heron {

class LoginGuard {
 public:
  static constexpr int kFailures = 10;
  static constexpr int64_t kWindow = 600, kBlock = 600;
  // Addresses tracked at most; the quietest go first.
  static constexpr size_t kMaxAddresses = 4096;

  // `now`: seconds of a steady clock (tests drive their own).
  explicit LoginGuard(std::function<int64_t()> now = nullptr);

  // True while logins from the address are refused.
  bool Blocked(const std::string& address);
  // Records a failed login; true when this failure starts a block.
  bool Failed(const std::string& address);

  // One login: `check` runs unless the address is blocked (no guard: it
  // always runs); a failure is recorded, and `log` gets a line when it
  // starts a block.
  static bool Check(LoginGuard* guard, const std::string& address,
                    const std::function<bool()>& check,
                    const std::function<void(const std::string&)>& log);

 private:
  struct Record {
    std::deque<int64_t> failures;  // within the window, oldest first
    int64_t blocked_until = 0;
    int64_t last = 0;
  };
  void Trim(int64_t now);

  std::function<int64_t()> now_;
  std::mutex mu_;
  std::unordered_map<std::string, Record> records_;
};

}  // namespace heron
