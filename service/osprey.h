// The mail service object: owns the listeners, the session threads, the
// settings, the trace log, and the main loop that serialises them.
#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/listen_socket.h"
#include "platform/message_window.h"
#include "platform/named_objects.h"
#include "platform/network_loop.h"
#include "platform/tls.h"
#include "platform/worker_thread.h"
#include "relay/relay_thread.h"
#include "service/accounts.h"
#include "service/address_cache.h"
#include "service/client_thread.h"
#include "service/log_file.h"
#include "service/log_writer.h"
#include "service/login_guard.h"
#include "service/minute_timer.h"
#include "service/ntservice.h"
#include "service/service_host.h"
#include "service/service_names.h"
#include "service/session_thread.h"
#include "service/settings.h"
#include "service/settings_store.h"
#include "smtp/distribution.h"

namespace heron {

class COsprey : public CNTService, public ServiceHost {
 public:
  COsprey();
  ~COsprey() override;

  void Run() override;
  void OnStop() override;

  enum class LoadMode { kStart, kReload };
  void LoadSettings(LoadMode mode);
  bool StartServers();
  // With `keep_sessions` the sessions already running go on (a restart by
  // the health check); otherwise each is asked to end.
  void StopServers(bool keep_sessions = false);

  // Log operations; main thread only.
  void Log(int level, uint32_t thread_id, const std::string& text);
  void Log(int level, const std::string& text) { Log(level, CurrentThreadId(), text); }
  void OpenTraceLog();
  void ArchiveTraceLog();
  void ClearTraceLog();

  const OspreySettings& settings() const { return settings_; }
  // The settings in force, for other threads: replaced whole at each load.
  std::shared_ptr<const OspreySettings> Snapshot();
  MessageWindow& window() { return window_; }
  SettingsStore& settings_store() { return store_; }

  // ServiceHost, for the threads the service runs.
  void PostLog(int level, uint32_t thread_id, std::string text) override;
  SessionCount PostClientConnected(const std::string& address, const char* tag,
                                   uint32_t thread_id) override;
  void PostClientDisconnected(const std::string& address, const char* tag,
                              uint32_t thread_id) override;
  void PostMessageReceived(std::string drop_file) override;
  // Read by session threads without a lock; changed on the main thread only.
  int CurrentTimeout() const override { return current_timeout_; }
  AccountStore& Accounts() override { return accounts_; }
  LoginGuard& Logins() override { return logins_; }
  void SessionEnded(CSessionThread* thread) override;
  // Session threads that did not end when stopped: they still use this
  // object, so the process must end without destroying it.
  bool abandoned_sessions() const { return abandoned_ > 0; }

  // The relay threads, one slot a kind. Start does nothing while a thread
  // of the kind runs; Stop waits up to 10 s for it, then lets it go alone;
  // Restart (X, Y, Z) stops, waits 5 s and starts again, with relaying on.
  void StartRelayThread(RelayKind kind, bool quiet = false);
  void StopRelayThread(RelayKind kind, bool quiet = false);
  void RestartRelayThread(RelayKind kind);
  // The running thread of a kind (its in-lookup flag and last activity), or
  // null.
  const CRelayThreadBase* RelayThread(RelayKind kind) const {
    return relay_threads_[static_cast<int>(kind)].get();
  }

  // Accepted connections (session starter thread): a session thread per
  // connection, with a snapshot of the settings.
  // `implicit_tls`: the connection came to a port encrypted from its first
  // byte.
  void AcceptSmtp(asio::ip::tcp::socket socket, bool implicit_tls = false);
  void AcceptPop3(asio::ip::tcp::socket socket, bool implicit_tls = false);
  // The certificate in force (null: none); replaced whole at each load.
  std::shared_ptr<TlsContext> Tls();

 protected:
  void SetNamedEvent() override;

 private:
  void OnMessage(unsigned msg, std::string text, uint64_t lparam);
  void OnMinuteTimer();
  // The log texts of one listener.
  struct ListenerTexts {
    const char* create_failed;  // printf format with the port
    const char* listen_failed;
    const char* started;  // null: nothing logged
  };
  // Binds and starts a listener on the port; logs and gives nothing on
  // failure.
  std::unique_ptr<CListenSocket> OpenListener(int32_t port, const ListenerTexts& texts,
                                              CListenSocket::AcceptHandler accept);
  void ServiceEventWatcher();
  // Enters a session thread in its live list and starts it on the socket.
  // Gives an accepted connection to the session starter (network loop).
  void HandOver(asio::ip::tcp::socket socket, void (COsprey::*accept)(asio::ip::tcp::socket, bool),
                bool implicit_tls = false);
  // Enters a new session thread in its live list and starts it on the
  // socket with the certificate in force (session starter). A connection to
  // an encrypted port (`implicit_tls`) without a certificate is closed.
  void StartSession(std::list<std::shared_ptr<CSessionThread>>& threads,
                    const std::function<std::shared_ptr<CClientThread>()>& make,
                    asio::ip::tcp::socket socket, std::shared_ptr<TlsContext> tls,
                    bool implicit_tls);
  void StopSessionThreads(std::list<std::shared_ptr<CSessionThread>>& threads);
  // Logs a line about loading settings (level 1: a problem); kept until
  // the log opens when the log is not open yet.
  void LogLoadProblem(const std::string& text, int level = 1);
  // Loads the TLS certificate the settings name (start and reload).
  void LoadTls(LoadMode mode);
  // Opens the implicit TLS listener of a protocol when its port is set.
  std::unique_ptr<CListenSocket> OpenTlsListener(int32_t port, const char* tag,
                                                 CListenSocket::AcceptHandler accept);

  SettingsStore store_;
  // Writes the trace log on a thread of its own; outlives every other member.
  LogWriter log_;
  // Runs the listening and client sockets; outlives the sessions.
  NetworkLoop network_;
  // First, so that it outlives every socket and timer that runs on it.
  MessageWindow window_;
  int minute_timer_ = 0;
  // The once-a-minute care, with this object behind its host interface.
  class MinuteCare;
  std::unique_ptr<MinuteCare> minute_care_;
  std::unique_ptr<MinuteTimer> minute_;
  std::atomic<bool> stop_requested_{false};
  // Closes a listener and opens it again on its port (health check).
  bool RecreateListener(MinuteHost::Listener which);

  std::mutex connection_lock_;
  std::list<std::shared_ptr<CSessionThread>> pop3_threads_;
  std::list<std::shared_ptr<CSessionThread>> smtp_threads_;
  std::atomic<int> session_count_{0};
  // Sessions per client address, for MaxConnectionsPerIp.
  std::mutex address_mu_;
  std::unordered_map<std::string, int> address_sessions_;
  LoginGuard logins_;
  // The screening's address caches, shared by all SMTP sessions.
  AddressCache passed_cache_;
  AddressCache rejected_cache_;
  std::atomic<int> current_timeout_{0};

  std::unique_ptr<CListenSocket> pop3_listener_;
  std::unique_ptr<CListenSocket> smtp_listener_;
  std::unique_ptr<CListenSocket> pop3s_listener_;
  std::unique_ptr<CListenSocket> smtps_listener_;
  // Closes every listener, on the network loop.
  void CloseListeners();
  std::array<std::unique_ptr<CRelayThreadBase>, kRelayKinds> relay_threads_;
  std::shared_ptr<RelayFileClaims> relay_claims_ = std::make_shared<RelayFileClaims>();
  RelayConfig RelayConfigOf(const OspreySettings& s) const;

  OspreySettings settings_;
  AccountStore accounts_;  // holds the settings lock
  std::mutex snapshot_mu_;
  std::shared_ptr<const OspreySettings> snapshot_;
  std::shared_ptr<TlsContext> tls_;  // under snapshot_mu_
  CDistribution distribution_;       // runs on the distribution worker only
  bool leftovers_taken_ = false;
  // Drop files waiting for the distribution worker, in arrival order.
  std::mutex drops_mu_;
  std::vector<std::string> queued_drops_;
  void QueueDrop(std::string drop_file);
  // Runs distribution work on its worker; an error is logged, never fatal.
  void Distribute(const std::function<void()>& work);

  NamedMutex mutex_;
  StopEvent stop_event_;
  NamedEvent reload_event_;
  NamedEvent clear_log_event_;
  std::thread watcher_;

  std::vector<std::pair<int, std::string>> pending_load_problems_;
  bool log_open_ = false;
  bool servers_running_ = false;
  // Distributes drop files one at a time, in the order they arrive, so that
  // neither accepting nor the main loop waits for the disk.
  WorkerThread distribution_worker_;
  // Makes session threads for accepted connections, off the network loop.
  WorkerThread session_starter_;
  std::atomic<int> abandoned_{0};
  // Connections handed to sessions and not yet ended, and how many the
  // descriptor limit allows.
  std::atomic<long> open_connections_{0};
  std::atomic<long> max_connections_{1L << 30};
};

}  // namespace heron
