// What the session threads (and the relay threads) need of the service that
// runs them. The service object implements it; the threads never see more.
#pragma once

#include <cstdint>
#include <string>

namespace heron {

class AccountStore;
class LoginGuard;
class CSessionThread;

class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // One line for the trace log (level 1 error, 2 information, 3 detail),
  // written on the service's main thread.
  virtual void PostLog(int level, uint32_t thread_id, std::string text) = 0;
  // A client session began or ended; the service counts and logs it. The
  // start gives the number of other sessions counted at that moment, all
  // together and from the same address.
  struct SessionCount {
    int others = 0;
    int same_address = 0;
    // Beyond the service's limit of sessions, or at the cap on one address
    // (`per_address` sessions at once; 0: no cap).
    bool Exceeds(int limit, int per_address) const {
      return others > limit || (per_address > 0 && same_address >= per_address);
    }
  };
  virtual SessionCount PostClientConnected(const std::string& address, const char* tag,
                                           uint32_t thread_id) = 0;
  virtual void PostClientDisconnected(const std::string& address, const char* tag,
                                      uint32_t thread_id) = 0;
  // A drop file was stored and waits for distribution.
  virtual void PostMessageReceived(std::string drop_file) = 0;

  // The Timeout in force, for sessions that follow reloads.
  virtual int CurrentTimeout() const = 0;
  virtual AccountStore& Accounts() = 0;
  // The failed-login record shared by all sessions.
  virtual LoginGuard& Logins() = 0;
  // Called by a session thread as it ends: it leaves the live lists.
  virtual void SessionEnded(CSessionThread* thread) = 0;
};

}  // namespace heron
