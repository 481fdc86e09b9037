// How the exchangers of one relay thread have answered lately, shared by
// its delivery workers. A host that could not be reached rests for a while.
// While one attempt waits for a host's greeting, further attempts to that
// host are put off until it has answered: one exchanger that is down, or
// never answers, holds up one worker only.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace heron {

class HostHealth {
 public:
  using Clock = std::chrono::steady_clock;
  explicit HostHealth(Clock::duration rest = std::chrono::minutes(2),
                      Clock::duration first_wait = std::chrono::seconds(5))
      : rest_(rest), first_wait_(first_wait) {}

  enum class Verdict {
    kTry,      // go ahead; Finished must follow
    kResting,  // not reached lately, or an attempt has awaited its greeting
               // longer than the first wait: count it as not reached
    kBusy,     // an attempt awaits its greeting: come back a little later
  };
  Verdict Admit(const std::string& host);
  // The host greeted the attempt.
  void Answered(const std::string& host);
  // The attempt is over; a host that was never reached rests.
  void Finished(const std::string& host, bool answered, bool reached);

 private:
  struct Host {
    Clock::time_point rest_until{}, waiting_since{}, last_answer{};
    int waiting = 0;  // attempts that await the greeting
  };
  Clock::duration rest_, first_wait_;
  std::mutex mu_;
  std::map<std::string, Host> hosts_;
};

}  // namespace heron
