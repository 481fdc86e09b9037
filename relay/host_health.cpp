#include "relay/host_health.h"

namespace heron {

HostHealth::Verdict HostHealth::Admit(const std::string& host) {
  std::lock_guard<std::mutex> lock(mu_);
  auto now = Clock::now();
  Host& h = hosts_[host];
  if (now < h.rest_until) return Verdict::kResting;
  bool proven = h.last_answer != Clock::time_point{} && now - h.last_answer < rest_;
  if (h.waiting == 0 || proven) {
    if (h.waiting++ == 0) h.waiting_since = now;
    return Verdict::kTry;
  }
  // Another attempt awaits this host's greeting: its outcome decides.
  return now - h.waiting_since >= first_wait_ ? Verdict::kResting : Verdict::kBusy;
}

void HostHealth::Answered(const std::string& host) {
  std::lock_guard<std::mutex> lock(mu_);
  Host& h = hosts_[host];
  h.last_answer = Clock::now();
  if (h.waiting > 0) --h.waiting;
  h.waiting_since = h.last_answer;
}

void HostHealth::Finished(const std::string& host, bool answered, bool reached) {
  std::lock_guard<std::mutex> lock(mu_);
  auto now = Clock::now();
  Host& h = hosts_[host];
  if (!answered && h.waiting > 0) --h.waiting;
  if (!reached) h.rest_until = now + rest_;
  // Hosts with nothing to remember go: the table never outgrows a while.
  for (auto it = hosts_.begin(); it != hosts_.end();) {
    const Host& e = it->second;
    bool idle = e.waiting == 0 && e.rest_until <= now && now - e.last_answer >= rest_;
    it = idle ? hosts_.erase(it) : std::next(it);
  }
}

}  // namespace heron
