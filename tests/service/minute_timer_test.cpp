#include "service/minute_timer.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace heron {
namespace {

// Minutes pass by the test's word; every call is recorded as a word.
struct FakeHost : MinuteHost {
  int64_t Now() override { return now; }
  void Sleep(std::chrono::seconds s) override { now += s.count(); }
  void Log(int level, const std::string& text) override {
    calls.push_back(std::to_string(level) + " " + text);
  }
  bool StopRequested() override { return false; }
  bool ServersRunning() override { return running; }
  bool StartServers() override {
    calls.push_back("start");
    running = failed_starts-- <= 0;
    return running;
  }
  void StopServers() override {
    calls.push_back("stop");
    running = false;
  }
  void ArchiveTraceLog() override { calls.push_back("archive"); }
  void WriteCounters(int x, int z) override { counters = {x, z}; }
  bool RelayOn() override { return relay_on; }
  std::optional<RelayState> RelayThread(Relay kind) override {
    auto it = relays.find(kind);
    if (it == relays.end()) return std::nullopt;
    return it->second;
  }
  void ClearInLookup(Relay kind) override { relays[kind].in_lookup = false; }
  void StartRelayThread(Relay kind, bool quiet) override {
    calls.push_back("start " + std::to_string(kind) + (quiet ? " quiet" : ""));
  }
  void StopRelayThread(Relay kind, bool quiet) override {
    calls.push_back("stop " + std::to_string(kind) + (quiet ? " quiet" : ""));
  }
  void RestartRelayThread(Relay kind) override {
    if (relay_on) calls.push_back("restart " + std::to_string(kind));
  }
  std::optional<int64_t> LastAccept(Listener which) override { return accepts[which]; }
  bool RecreateListener(Listener which) override {
    calls.push_back("recreate " + std::to_string(which));
    accepts[which] = now;
    return recreate_ok;
  }

  int64_t now = 1'000'000'000;
  bool running = true, relay_on = true, recreate_ok = true;
  int failed_starts = 0;
  std::map<Relay, RelayState> relays;
  std::map<Listener, std::optional<int64_t>> accepts;
  std::vector<std::string> calls;
  std::pair<int, int> counters;
};

TEST(MinuteTimerTest, RelaysRestartOnTheirMinutes) {
  FakeHost h;
  MinuteTimer t(h);
  std::vector<int> x_ticks, z_ticks;
  for (int tick = 1; tick <= 122; ++tick) {
    h.calls.clear();
    h.accepts[MinuteHost::kSmtpListener] = h.now;  // busy listeners
    h.accepts[MinuteHost::kPop3Listener] = h.now;
    t.Tick();
    for (const auto& c : h.calls) {
      if (c == "restart 2") x_ticks.push_back(tick);  // Y, right after X
      if (c == "restart 3") z_ticks.push_back(tick);
    }
    h.now += 60;
  }
  EXPECT_EQ(x_ticks, (std::vector<int>{11, 22, 33, 44, 55, 66, 77, 88, 99, 110, 121}));
  EXPECT_EQ(z_ticks, (std::vector<int>{61, 122}));
  EXPECT_EQ(h.counters, (std::pair<int, int>{1, 0}));

  h.relay_on = false;  // no relay: nothing restarted, the log still archived
  h.calls.clear();
  for (int tick = 0; tick < 11; ++tick) t.Tick();
  EXPECT_EQ(h.calls, std::vector<std::string>{"archive"});
}

TEST(MinuteTimerTest, StuckRelaysAndIdleListeners) {
  struct Case {
    const char* what;
    int64_t lookup_minutes;    // main thread inside a lookup this long (-1: not)
    int64_t activity_minutes;  // since the main thread's last activity
    int64_t x_lookup_minutes;  // X inside a lookup (-1: not)
    int64_t smtp_idle_minutes;
    std::vector<std::string> calls;
  };
  const std::vector<std::string> restart_main = {"2 Relay Checking...", "stop 0 quiet",
                                                 "stop 0 quiet", "start 0 quiet", "2 Relay OK..."};
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Case cases[] = {
      {"healthy", 2, 30, 2, 30, {}},
      {"main in a lookup 3 min", 3, 0, -1, 0,
       with({"1 DNS 查尋失敗，伺服器無回應..."}, restart_main)},
      {"main idle 31 min", -1, 31, -1, 0, restart_main},
      {"X in a lookup over 2 min", -1, 0, 3, 0, {"restart 1"}},
      {"listener idle 31 min", -1, 0, -1, 31, {"2 SMTP Checking...", "recreate 0", "2 SMTP OK!"}},
      {"listener idle 59 min", -1, 0, -1, 59, {"2 SMTP Checking...", "recreate 0", "2 SMTP OK!"}},
      {"listener idle 61 min", -1, 0, -1, 61, {}},
      {"listener idle 90 min", -1, 0, -1, 90, {}},
      {"listener idle 91 min", -1, 0, -1, 91, {"2 SMTP Checking...", "recreate 0", "2 SMTP OK!"}},
  };
  for (const Case& c : cases) {
    FakeHost h;
    MinuteTimer t(h);
    MinuteHost::RelayState main;
    main.in_lookup = c.lookup_minutes >= 0;
    main.lookup_start = h.now - 60 * std::max<int64_t>(c.lookup_minutes, 0);
    main.last_activity = h.now - 60 * c.activity_minutes;
    h.relays[MinuteHost::kMainRelay] = main;
    h.relays[MinuteHost::kXRelay] = {c.x_lookup_minutes >= 0,
                                     h.now - 60 * std::max<int64_t>(c.x_lookup_minutes, 0), 0};
    h.accepts[MinuteHost::kSmtpListener] = h.now - 60 * c.smtp_idle_minutes;
    h.accepts[MinuteHost::kPop3Listener] = std::nullopt;  // not open
    EXPECT_TRUE(t.CheckServers()) << c.what;
    EXPECT_EQ(h.calls, c.calls) << c.what;
  }
}

TEST(MinuteTimerTest, AFailedCheckRestartsTheServers) {
  FakeHost h;
  MinuteTimer t(h);
  for (int i = 0; i < 3; ++i) t.Tick();
  h.accepts[MinuteHost::kSmtpListener] = h.now - 45 * 60;
  h.recreate_ok = false;
  h.failed_starts = 1;
  h.calls.clear();
  h.counters = {-1, -1};
  t.Tick();
  // Stopped, then started until the servers run; counters back to 0 and not
  // written on this path.
  EXPECT_EQ(h.calls, (std::vector<std::string>{"2 SMTP Checking...", "recreate 0", "stop", "start",
                                               "start"}));
  EXPECT_EQ(t.x_counter(), 0);
  EXPECT_EQ(h.counters, (std::pair<int, int>{-1, -1}));
}

}  // namespace
}  // namespace heron
