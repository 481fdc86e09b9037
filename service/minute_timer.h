// The service's once-a-minute care: the health check of the relay threads
// and the listeners, the periodic relay restarts and log archiving, and the
// restart of all servers when a check fails. Logic only: time, sleeps, the
// threads and the listeners are reached through the host.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace heron {

class MinuteHost {
 public:
  virtual ~MinuteHost() = default;
  // Relay thread kinds, in the order main, X, Y, Z.
  enum Relay { kMainRelay = 0, kXRelay, kYRelay, kZRelay };
  enum Listener { kSmtpListener = 0, kPop3Listener };
  struct RelayState {
    bool in_lookup = false;
    int64_t lookup_start = 0;   // seconds since 1970
    int64_t last_activity = 0;  // main relay thread
  };

  virtual int64_t Now() = 0;  // seconds since 1970
  virtual void Sleep(std::chrono::seconds span) = 0;
  virtual void Log(int level, const std::string& text) = 0;  // UTF-8

  virtual bool StopRequested() = 0;  // the service is being stopped
  virtual bool ServersRunning() = 0;
  virtual bool StartServers() = 0;
  virtual void StopServers() = 0;
  virtual void ArchiveTraceLog() = 0;
  virtual void WriteCounters(int x_counter, int z_counter) = 0;

  virtual bool RelayOn() = 0;  // RelayMessages
  // The state of a running relay thread of the kind; nothing when none runs.
  virtual std::optional<RelayState> RelayThread(Relay kind) = 0;
  virtual void ClearInLookup(Relay kind) = 0;
  virtual void StartRelayThread(Relay kind, bool quiet) = 0;
  virtual void StopRelayThread(Relay kind, bool quiet) = 0;
  virtual void RestartRelayThread(Relay kind) = 0;

  // The listener's time of its last accepted connection; nothing when it is
  // not open.
  virtual std::optional<int64_t> LastAccept(Listener which) = 0;
  // Closes the listener and opens a new one on its port; false (the failure
  // logged) when the new one cannot be made.
  virtual bool RecreateListener(Listener which) = 0;
};

class MinuteTimer {
 public:
  explicit MinuteTimer(MinuteHost& host) : host_(host) {}

  // One tick, every 60 s while the servers run.
  void Tick();
  // The health check; false when something could not be mended.
  bool CheckServers();
  // Back to 0, as at each start of the servers.
  void Reset() { x_counter_ = z_counter_ = 0; }

  int x_counter() const { return x_counter_; }
  int z_counter() const { return z_counter_; }

 private:
  bool CheckListener(MinuteHost::Listener which, const char* checking, const char* ok);
  void RestartMainRelay();

  MinuteHost& host_;
  int x_counter_ = 0;
  int z_counter_ = 0;
};

}  // namespace heron
