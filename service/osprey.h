// The mail service object: owns the listeners, the session threads, the
// settings, the trace log, and the main loop that serialises them.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_window.h"
#include "platform/named_objects.h"
#include "service/accounts.h"
#include "service/log_file.h"
#include "service/ntservice.h"
#include "service/session_thread.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron {

class CPop3ListenSocket;
class CSmtpListenSocket;

constexpr const char* kServiceName = "Heron Mail Service";
constexpr const char* kMutexName = "Mail Service Mutex";
constexpr const char* kReloadEventName = "Heron Mail Service Event";
constexpr const char* kClearLogEventName = "Heron Mail Server Clear Log";

class COsprey : public CNTService {
 public:
  COsprey();
  ~COsprey() override;

  void Run() override;
  void OnStop() override;

  enum class LoadMode { kStart, kReload };
  void LoadSettings(LoadMode mode);
  bool StartServers();
  void StopServers();

  // Log operations; main thread only.
  void Log(int level, uint32_t thread_id, const std::string& text);
  void Log(int level, const std::string& text) { Log(level, CurrentThreadId(), text); }
  void OpenTraceLog();
  void ArchiveTraceLog() { trace_.Archive(); }
  void ClearTraceLog() { trace_.Clear(); }

  const OspreySettings& settings() const { return settings_; }
  MessageWindow& window() { return window_; }
  SettingsStore& settings_store() { return store_; }
  AccountStore& accounts() { return accounts_; }
  // Read by session threads without a lock; changed on the main thread only.
  int session_count() const { return session_count_; }

  // Listener accept notifications (main thread): a session thread per
  // connection, with a snapshot of the settings.
  void AcceptSmtp(asio::ip::tcp::socket socket);
  void AcceptPop3(asio::ip::tcp::socket socket);
  // Timeout in force, for sessions that follow reloads.
  int current_timeout() const { return current_timeout_; }
  // Called by a session thread as it ends: it leaves the live lists.
  void SessionEnded(CSessionThread* thread);

  // Distributes one drop file into mailboxes and the queue (main thread).
  void DistributeDropFile(const std::string& drop_file);

 protected:
  void SetNamedEvent() override;

 private:
  void OnMessage(unsigned msg, std::string text, uint64_t lparam);
  void OnMinuteTimer();
  void DistributeLeftoverDropFiles();
  bool CopyInto(const std::string& from, const std::string& folder, const std::string& file_name);
  bool ApplyCopyRules(const std::string& from, const std::string& mailbox,
                      const std::string& file_name);
  void ServiceEventWatcher();
  void StopSessionThreads(std::list<std::shared_ptr<CSessionThread>>& threads);
  // Logs a problem met while loading settings; kept until the log opens
  // when the log is not open yet.
  void LogLoadProblem(const std::string& text);

  SettingsStore store_;
  // First, so that it outlives every socket and timer that runs on it.
  MessageWindow window_;
  int minute_timer_ = 0;
  int x_counter_ = 0;
  int z_counter_ = 0;

  std::mutex connection_lock_;
  std::list<std::shared_ptr<CSessionThread>> pop3_threads_;
  std::list<std::shared_ptr<CSessionThread>> smtp_threads_;
  std::atomic<int> session_count_{0};
  std::atomic<int> current_timeout_{90};

  std::unique_ptr<CPop3ListenSocket> pop3_listener_;
  std::unique_ptr<CSmtpListenSocket> smtp_listener_;

  OspreySettings settings_;
  AccountStore accounts_;  // holds the settings lock

  NamedMutex mutex_;
  StopEvent stop_event_;
  NamedEvent reload_event_;
  NamedEvent clear_log_event_;
  std::thread watcher_;

  TraceLog trace_;
  std::vector<std::string> pending_load_problems_;
  bool servers_running_ = false;
};

}  // namespace heron
