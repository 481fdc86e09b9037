#include "service/login_guard.h"

#include <chrono>

namespace heron {

namespace {
int64_t SteadySeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

LoginGuard::LoginGuard(std::function<int64_t()> now)
    : now_(now ? std::move(now) : std::function<int64_t()>(SteadySeconds)) {}

bool LoginGuard::Blocked(const std::string& address) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = records_.find(address);
  return it != records_.end() && it->second.blocked_until > now_();
}

bool LoginGuard::Failed(const std::string& address) {
  std::lock_guard<std::mutex> lock(mu_);
  const int64_t now = now_();
  if (records_.size() >= kMaxAddresses && !records_.count(address)) Trim(now);
  Record& r = records_[address];
  r.last = now;
  if (r.blocked_until > now) return false;
  while (!r.failures.empty() && r.failures.front() <= now - kWindow) r.failures.pop_front();
  r.failures.push_back(now);
  if (static_cast<int>(r.failures.size()) < kFailures) return false;
  r.failures.clear();
  r.blocked_until = now + kBlock;
  return true;
}

bool LoginGuard::Check(LoginGuard* guard, const std::string& address,
                       const std::function<bool()>& check,
                       const std::function<void(const std::string&)>& log) {
  if (guard && guard->Blocked(address)) return false;
  if (check()) return true;
  if (guard && guard->Failed(address)) {
    log("Too many failed logins from " + address + ": logins refused for 10 minutes");
  }
  return false;
}

void LoginGuard::Trim(int64_t now) {
  // First what no longer matters, then the quietest addresses not blocked.
  for (auto it = records_.begin(); it != records_.end();) {
    bool stale = it->second.blocked_until <= now && it->second.last <= now - kWindow;
    it = stale ? records_.erase(it) : std::next(it);
  }
  while (records_.size() >= kMaxAddresses) {
    // A block stays as long as any address is not blocked.
    auto quietest = records_.end();
    for (int pass = 0; pass < 2 && quietest == records_.end(); ++pass) {
      for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (pass == 0 && it->second.blocked_until > now) continue;
        if (quietest == records_.end() || it->second.last < quietest->second.last) quietest = it;
      }
    }
    records_.erase(quietest);
  }
}

}  // namespace heron
