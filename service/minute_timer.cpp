#include "service/minute_timer.h"

#include <exception>

namespace heron {
namespace {

constexpr std::chrono::seconds kRestartPause{5};
constexpr std::chrono::seconds kRelayPause{1};

int64_t Minutes(int64_t seconds) { return seconds / 60; }

}  // namespace

void MinuteTimer::Tick() {
  if (!CheckServers()) {
    Reset();
    // Everything is started again; sessions already running go on. A stop
    // request ends the attempts: the service is going anyway.
    while (host_.ServersRunning()) {
      host_.StopServers();
      host_.Sleep(kRestartPause);
    }
    while (!host_.StopRequested()) {
      host_.StartServers();
      host_.Sleep(kRestartPause);
      if (host_.ServersRunning()) break;
    }
    return;
  }
  if (++x_counter_ > 10) {
    host_.ArchiveTraceLog();
    host_.RestartRelayThread(MinuteHost::kXRelay);
    host_.Sleep(kRelayPause);
    host_.RestartRelayThread(MinuteHost::kYRelay);
    host_.Sleep(kRelayPause);
    x_counter_ = 0;
  }
  if (++z_counter_ > 60) {
    host_.RestartRelayThread(MinuteHost::kZRelay);
    z_counter_ = 0;
  }
  host_.WriteCounters(x_counter_, z_counter_);
}

void MinuteTimer::RestartMainRelay() {
  host_.Log(2, "Relay Checking...");
  host_.StopRelayThread(MinuteHost::kMainRelay, true);
  host_.Sleep(kRelayPause);
  host_.StopRelayThread(MinuteHost::kMainRelay, true);
  host_.Sleep(kRelayPause);
  host_.StartRelayThread(MinuteHost::kMainRelay, true);
  host_.Log(2, "Relay OK...");
}

bool MinuteTimer::CheckServers() {
  try {
    if (host_.RelayOn()) {
      int64_t now = host_.Now();
      if (auto main = host_.RelayThread(MinuteHost::kMainRelay)) {
        if (main->in_lookup && Minutes(now - main->lookup_start) >= 3) {
          host_.Log(1, "DNS 查尋失敗，伺服器無回應...");
          RestartMainRelay();
        } else if (Minutes(now - main->last_activity) >= 31) {
          RestartMainRelay();
        }
      }
      for (auto kind : {MinuteHost::kXRelay, MinuteHost::kYRelay, MinuteHost::kZRelay}) {
        auto t = host_.RelayThread(kind);
        if (t && t->in_lookup && Minutes(host_.Now() - t->lookup_start) > 2) {
          host_.ClearInLookup(kind);
          host_.RestartRelayThread(kind);
        }
      }
    }
  } catch (const std::exception&) {
    host_.Log(1, "Relay Error!");
    return false;
  }
  try {
    return CheckListener(MinuteHost::kSmtpListener, "SMTP Checking...", "SMTP OK!") &&
           CheckListener(MinuteHost::kPop3Listener, "POP3 Checking...", "POP3 OK!");
  } catch (const std::exception&) {
    return false;  // no line of its own
  }
}

bool MinuteTimer::CheckListener(MinuteHost::Listener which, const char* checking, const char* ok) {
  auto last = host_.LastAccept(which);
  if (!last) return true;
  // The minutes part of the time since the last accept (the remainder
  // after whole hours).
  if (Minutes(host_.Now() - *last) % 60 <= 30) return true;
  host_.Log(2, checking);
  if (!host_.RecreateListener(which)) return false;
  host_.Log(2, ok);
  return true;
}

}  // namespace heron
