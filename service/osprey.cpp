#include "service/osprey.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/systemd.h"
#include "platform/text.h"
#include "platform/window_messages.h"
#include "pop3/pop3_thread.h"
#include "service/mail_folders.h"
#include "smtp/smtp_thread.h"

namespace heron {
namespace {

// Descriptors kept for everything but client connections.
constexpr long kReservedDescriptors = 64;
// Drop files distributed together, sharing their folder syncs.
constexpr size_t kDistributionBatch = 64;

}  // namespace

COsprey::COsprey()
    : CNTService(kServiceName),
      store_(Registry::Shared()),
      log_(HeronHome()),
      accounts_(store_, [this] { return ReadMailFolder(store_); }),
      snapshot_(std::make_shared<const OspreySettings>(settings_)),
      distribution_([this] { return Snapshot(); }, accounts_,
                    [this](int level, const std::string& text) {
                      uint32_t tid = CurrentThreadId();
                      log_.Post(level, tid, text, tid);
                    }) {
  current_timeout_ = settings_.timeout;
  minute_care_ = std::make_unique<MinuteCare>(*this);
  minute_ = std::make_unique<MinuteTimer>(*minute_care_);
  window_.SetHandler([this](unsigned msg, std::string text, uint64_t lparam) {
    OnMessage(msg, std::move(text), lparam);
  });
}

COsprey::~COsprey() = default;

void COsprey::SetNamedEvent() { NamedEvent::Set(kReloadEventName); }

void COsprey::Log(int level, uint32_t thread_id, const std::string& text) {
  log_.Post(level, thread_id, text);
}

void COsprey::OpenTraceLog() {
  log_.Run([](TraceLog& t) { t.Open(); });
  log_open_ = true;
}

void COsprey::ArchiveTraceLog() {
  log_.Run([](TraceLog& t) { t.Archive(); });
}

void COsprey::ClearTraceLog() {
  log_.Run([](TraceLog& t) { t.Clear(); });
}

void COsprey::LogLoadProblem(const std::string& text, int level) {
  if (log_open_) {
    Log(level, text);
  } else {
    pending_load_problems_.emplace_back(level, text);
  }
}

void COsprey::OnStop() {
  stop_requested_ = true;
  window_.Post(WM_STOP_SERVICE);
}

void COsprey::PostLog(int level, uint32_t thread_id, std::string text) {
  // Straight to the bounded log queue: a thread that floods it waits for
  // its own lines, and the main loop is never in the way.
  log_.Post(level, thread_id, std::move(text), thread_id);
}

// Sessions are counted and logged on their own threads, at once: the count
// is exact however many connect together, and the line comes before the
// session's own lines.
ServiceHost::SessionCount COsprey::PostClientConnected(const std::string& address, const char* tag,
                                                       uint32_t thread_id) {
  SessionCount count;
  count.others = session_count_++;
  {
    std::lock_guard<std::mutex> lock(address_mu_);
    count.same_address = address_sessions_[address]++;
  }
  log_.Post(2, thread_id, StrPrintf(B5("<%s> 用戶端建立連線，IP: %s"), tag, address.c_str()),
            thread_id);
  return count;
}

void COsprey::PostClientDisconnected(const std::string& address, const char* tag,
                                     uint32_t thread_id) {
  --session_count_;
  {
    std::lock_guard<std::mutex> lock(address_mu_);
    auto it = address_sessions_.find(address);
    if (it != address_sessions_.end() && --it->second <= 0) address_sessions_.erase(it);
  }
  log_.Post(2, thread_id, StrPrintf(B5("<%s> 用戶端中斷連線，IP:  %s"), tag, address.c_str()),
            thread_id);
}

void COsprey::PostMessageReceived(std::string drop_file) {
  window_.Post(WM_MESSAGE_RECEIVED, std::move(drop_file));
}

void COsprey::Run() {
  // 1. One service body per data root.
  switch (mutex_.TryAcquire(kMutexName)) {
    case NamedMutex::Result::kAcquired:
      break;
    case NamedMutex::Result::kHeldElsewhere:
      if (debug()) ShowMessageBox("already running", service_name());
      set_exit_code(1);  // a second service body is a failure
      return;
    case NamedMutex::Result::kError:
      ShowMessageBox(
          StrPrintf("cannot open the lock file in %s: %s", RunDir().c_str(), std::strerror(errno)),
          service_name());
      set_exit_code(1);
      return;
  }
  // 2-4. Status, events, the notification window (the main loop). Without
  // the events the service cannot be reloaded or told to clear its log: it
  // ends in an orderly way instead of running half-deaf.
  ReportStatus(kServiceStartPending, 3000);
  if (!reload_event_.Create(kReloadEventName) || !clear_log_event_.Create(kClearLogEventName)) {
    ShowMessageBox(StrPrintf("cannot create the events in %s", RunDir().c_str()), service_name());
    reload_event_.Close();
    clear_log_event_.Close();
    mutex_.Release();
    set_exit_code(1);
    return;
  }
  // 5. Event watcher, servers, running. Every session costs a descriptor:
  // take all the system grants.
  log_.EchoErrors(debug());
  // Under systemd the journal reads every line, in plain text.
  log_.ToJournal(StderrIsJournal());
  long descriptors = RaiseDescriptorLimit();
  if (descriptors > 0) {
    // Each connection holds one descriptor and may open a file or two while
    // it stores or reads mail; the rest stay for the log, the store and the
    // folders.
    max_connections_ = std::max<long>(1, (descriptors - kReservedDescriptors) / 2);
  }
  watcher_ = std::thread([this] { ServiceEventWatcher(); });
  StartServers();
  ReportStatus(kServiceRunning, 3000);
  NotifyServiceManager("READY=1");
  // 6. Dispatch until the stop event is set.
  window_.Run(stop_event_);
  // 7. Wind down. Drop files not yet distributed wait for the next start;
  // no relay thread outlives this object unless it is counted abandoned.
  for (int k = 0; k < kRelayKinds; ++k) StopRelayThread(static_cast<RelayKind>(k));
  distribution_worker_.Stop();
  session_starter_.Stop();
  Log(2, B5("郵件服務行程即將停止..."));
  stop_event_.Set();
  if (watcher_.joinable()) watcher_.join();
  reload_event_.Close();
  clear_log_event_.Close();
  log_.Flush();
  mutex_.Release();
}

void COsprey::ServiceEventWatcher() {
  std::vector<NamedEvent*> events = {&reload_event_, &clear_log_event_};
  for (;;) {
    size_t which = WaitForEvents(events, stop_event_);
    if (which == 0) {
      window_.Send(WM_RELOAD_SETTINGS);
    } else if (which == 1) {
      window_.Send(WM_CLEAR_LOG);
    } else if (which == events.size()) {
      return;
    }
  }
}

void COsprey::OnMessage(unsigned msg, std::string text, uint64_t lparam) {
  uint32_t tid = static_cast<uint32_t>(lparam);
  if (auto level = LogLevelOf(msg)) {
    Log(*level, tid, text);
    return;
  }
  switch (msg) {
    case WM_CLIENT_CONNECTED:
    case WM_CLIENT_DISCONNECTED: {
      ClientNotice n = ParseClientNotice(text);
      if (msg == WM_CLIENT_CONNECTED) {
        ++session_count_;
        Log(2, tid, StrPrintf(B5("<%s> 用戶端建立連線，IP: %s"), n.tag.c_str(), n.address.c_str()));
      } else {
        --session_count_;
        Log(2, tid,
            StrPrintf(B5("<%s> 用戶端中斷連線，IP:  %s"), n.tag.c_str(), n.address.c_str()));
      }
      break;
    }
    case WM_MESSAGE_RECEIVED:
      QueueDrop(std::move(text));
      break;
    case WM_STOP_SERVICE:
      NotifyServiceManager("STOPPING=1");
      StopServers();
      ReportStatus(kServiceStopPending, 5000);
      stop_event_.Set();
      break;
    case WM_RELOAD_SETTINGS:
      NotifyServiceManager("RELOADING=1");
      LoadSettings(LoadMode::kReload);
      NotifyServiceManager("READY=1");
      break;
    case WM_CLEAR_LOG:
      ClearTraceLog();
      break;
    default:
      break;
  }
}

void COsprey::LoadSettings(LoadMode mode) {
  Log(2, B5("載入系統設定值..."));
  LogSettings log = ReadLogSettings(store_);
  bool log_changed = !(log == settings_.log);
  log_.SetSettings(log);
  settings_.log = log;
  ReadScalarSettings(store_, settings_);
  current_timeout_ = settings_.timeout;

  switch (accounts_.Load()) {
    case AccountStore::LoadResult::kUndecodable:
      LogLoadProblem(B5("帳號清單 UserAccounts\\Users 的內容無法解讀，沿用原有帳號。"));
      break;
    case AccountStore::LoadResult::kMigrated:
      LogLoadProblem(B5("帳號清單已轉換為新格式。"));
      break;
    default:
      break;
  }
  for (const ListSetting& ls : kListSettings) {
    bool undecodable = false;
    auto list = store_.ReadList(ls.key, ls.value, &undecodable);
    if (list) {
      settings_.*ls.member = std::move(*list);
    } else if (undecodable) {
      LogLoadProblem(StrPrintf(B5("清單 %s\\%s 的內容無法解讀，沿用原有清單。"), ls.key, ls.value));
    }
  }

  if (mode == LoadMode::kReload && log_changed) {
    log_.Run([](TraceLog& t) { t.Close(); });
    OpenTraceLog();
  }
  LoadTls(mode);
  {
    std::lock_guard<std::mutex> lock(snapshot_mu_);
    snapshot_ = std::make_shared<const OspreySettings>(settings_);
  }
  if (mode == LoadMode::kReload) {
    for (int k = 0; k < kRelayKinds; ++k) {
      if (settings_.relay_messages) {
        StartRelayThread(static_cast<RelayKind>(k));
      } else {
        StopRelayThread(static_cast<RelayKind>(k));
      }
    }
  }
}

bool COsprey::StartServers() {
  if (servers_running_) return true;
  LoadSettings(LoadMode::kStart);
  OpenTraceLog();
  for (const auto& [level, line] : pending_load_problems_) Log(level, line);
  pending_load_problems_.clear();
  // What a stopped service left is distributed first, once per run.
  if (!leftovers_taken_) {
    leftovers_taken_ = true;
    for (std::string& drop : distribution_.TakeLeftovers()) {
      QueueDrop(std::move(drop));
    }
  }

  // What a failed start left open goes first: its port is wanted again.
  CloseListeners();
  pop3_listener_ = OpenListener(
      settings_.port,
      {B5("<POP3> 無法以通訊埠 %d  建立 POP3 通訊端。"),
       B5("<POP3> 無法以通訊埠 %d 啟動 POP3 行程。"), B5("<POP3> 行程已啟動，通訊埠 %d。")},
      [this](asio::ip::tcp::socket s) { HandOver(std::move(s), &COsprey::AcceptPop3); });
  if (!pop3_listener_) return false;
  smtp_listener_ = OpenListener(
      settings_.smtp_port,
      {B5("<SMTP> 無法以通訊埠 %d 建立 SMTP 通訊端。"),
       B5("<SMTP> 無法以通訊埠 %d 啟動 SMTP 行程。"), B5("<SMTP> 行程已啟動，通訊埠 %d。")},
      [this](asio::ip::tcp::socket s) { HandOver(std::move(s), &COsprey::AcceptSmtp); });
  if (!smtp_listener_) return false;
  // The encrypted ports are extras: one that cannot open is logged, and the
  // service runs without it.
  pop3s_listener_ = OpenTlsListener(settings_.pop3s_port, "POP3", [this](asio::ip::tcp::socket s) {
    HandOver(std::move(s), &COsprey::AcceptPop3, true);
  });
  smtps_listener_ = OpenTlsListener(settings_.smtps_port, "SMTP", [this](asio::ip::tcp::socket s) {
    HandOver(std::move(s), &COsprey::AcceptSmtp, true);
  });
  servers_running_ = true;

  minute_->Reset();
  minute_timer_ = window_.SetTimer(std::chrono::milliseconds(60000), [this] { OnMinuteTimer(); });
  if (settings_.relay_messages) {
    StartRelayThread(RelayKind::kMain);
    StartRelayThread(RelayKind::kX);
  }
  return true;
}

std::unique_ptr<CListenSocket> COsprey::OpenListener(int32_t port, const ListenerTexts& texts,
                                                     CListenSocket::AcceptHandler accept) {
  auto listener = std::make_unique<CListenSocket>(network_.io(), std::move(accept));
  bool valid_port = port >= 0 && port <= 65535;
  if (!valid_port || !listener->Create(static_cast<uint16_t>(port))) {
    Log(1, StrPrintf(texts.create_failed, port));
    return nullptr;
  }
  if (!listener->Listen(CListenSocket::MaxBacklog())) {
    Log(1, StrPrintf(texts.listen_failed, port));
    return nullptr;
  }
  if (texts.started) Log(2, StrPrintf(texts.started, port));
  return listener;
}

void COsprey::StopServers(bool keep_sessions) {
  // A reload may have started relay threads while the servers did not run.
  for (int k = 0; k < kRelayKinds; ++k) StopRelayThread(static_cast<RelayKind>(k));
  if (!servers_running_) return;
  window_.KillTimer(minute_timer_);
  minute_timer_ = 0;
  servers_running_ = false;
  // The listeners close on their own loop; connections handed over before
  // that get their threads, and are stopped with the others.
  CloseListeners();
  session_starter_.Flush();
  if (!keep_sessions) {
    StopSessionThreads(pop3_threads_);
    StopSessionThreads(smtp_threads_);
  }
  Log(2, B5("郵件伺服器行程已停止"));
  log_.Run([](TraceLog& t) { t.Close(); });
  log_open_ = false;
}

void COsprey::StopSessionThreads(std::list<std::shared_ptr<CSessionThread>>& threads) {
  for (;;) {
    std::shared_ptr<CSessionThread> t;
    {
      std::lock_guard<std::mutex> lock(connection_lock_);
      if (threads.empty()) return;
      t = threads.front();
    }
    // The lock is not held while waiting: the thread removes itself.
    Log(2, t->ThreadId(), B5("即將結束執行緒..."));
    t->PostQuit();
    // Wait in slices, handling the messages the ending thread posts.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      ended = t->WaitEnded(std::chrono::milliseconds(10));
      window_.Pump();
    }
    if (ended) {
      Log(2, t->ThreadId(), B5("執行緒已結束"));
    } else {
      Log(1, t->ThreadId(), B5("無法正常結束執行緒"));  // abandoned, never killed
      ++abandoned_;
    }
    std::lock_guard<std::mutex> lock(connection_lock_);
    threads.remove(t);
  }
}

void COsprey::Distribute(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    // Memory or the like: the files stay in drop for the next attempt.
    Log(1, std::string("<SMTP> Distribution stopped by an error: ") + e.what());
  }
}

void COsprey::QueueDrop(std::string drop_file) {
  {
    std::lock_guard<std::mutex> lock(drops_mu_);
    queued_drops_.push_back(std::move(drop_file));
  }
  // The worker takes whatever has queued up by the time it gets to it: the
  // files keep their order and share their folder syncs.
  distribution_worker_.Post([this] {
    for (;;) {
      std::vector<std::string> batch;
      {
        std::lock_guard<std::mutex> lock(drops_mu_);
        size_t n = std::min<size_t>(queued_drops_.size(), kDistributionBatch);
        batch.assign(queued_drops_.begin(), queued_drops_.begin() + static_cast<long>(n));
        queued_drops_.erase(queued_drops_.begin(), queued_drops_.begin() + static_cast<long>(n));
      }
      if (batch.empty()) return;
      Distribute([&] { distribution_.DistributeBatch(batch); });
    }
  });
}

RelayConfig COsprey::RelayConfigOf(const OspreySettings& s) const {
  RelayConfig c;
  c.mail_root = MailRoot(s.mail_folder);
  c.helo_name = s.host_name;
  c.dns_server = s.dns_server;
  c.server_id = s.server_id;
  c.domains = s.domains;
  c.mx_records = s.mx_records;
  c.relay_timeout = s.relay_timeout;
  c.retry_timeout = s.retry_timeout;
  c.retry_times = s.retry_times;
  c.max_recipients = s.max_recipients;
  c.scan_interval = s.scan_interval;
  c.domain_as_host = s.domain_as_host != 0;
  return c;
}

void COsprey::StartRelayThread(RelayKind kind, bool quiet) {
  auto& slot = relay_threads_[static_cast<int>(kind)];
  // A thread that has made its pass and ended counts as not running.
  if (slot && slot->WaitEnded(std::chrono::milliseconds(0))) {
    slot->Release();
    slot.reset();
  }
  if (slot) return;
  try {
    slot = MakeRelayThread(
        kind, RelayConfigOf(settings_),
        [this](int level, uint32_t tid, std::string text) { PostLog(level, tid, std::move(text)); },
        relay_claims_);
    slot->Start();
  } catch (const std::exception&) {
    slot.reset();  // no thread could be made
    return;
  }
  if (kind == RelayKind::kMain && !quiet) Log(2, B5("<RELAY> 啟用外寄郵件服務行程"));
}

void COsprey::StopRelayThread(RelayKind kind, bool quiet) {
  auto& slot = relay_threads_[static_cast<int>(kind)];
  if (!slot) return;
  slot->RequestStop();
  slot->WaitEnded(std::chrono::milliseconds(10000));
  if (!slot->Release()) {
    // Still in a lookup or a dialogue: it goes on alone with its own state
    // and never works on a file another relay thread holds.
    Log(1, slot->ThreadId(), B5("無法正常結束執行緒"));
    ++abandoned_;
  }
  slot.reset();
  if (kind == RelayKind::kMain && !quiet) Log(2, B5("<RELAY> 停止外寄郵件服務行程"));
}

void COsprey::RestartRelayThread(RelayKind kind) {
  if (!settings_.relay_messages) return;
  StopRelayThread(kind);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  if (relay_threads_[static_cast<int>(kind)]) return;  // started meanwhile
  StartRelayThread(kind);
}

std::shared_ptr<const OspreySettings> COsprey::Snapshot() {
  std::lock_guard<std::mutex> lock(snapshot_mu_);
  return snapshot_;
}

// The service as the minute timer sees it.
class COsprey::MinuteCare : public MinuteHost {
 public:
  explicit MinuteCare(COsprey& o) : o_(o) {}
  int64_t Now() override { return std::time(nullptr); }
  void Sleep(std::chrono::seconds span) override { std::this_thread::sleep_for(span); }
  void Log(int level, const std::string& text) override { o_.Log(level, Utf8ToBig5(text)); }
  bool StopRequested() override { return o_.stop_requested_ || o_.stop_event_.IsSet(); }
  bool ServersRunning() override { return o_.servers_running_; }
  bool StartServers() override { return o_.StartServers(); }
  void StopServers() override { o_.StopServers(true); }
  void ArchiveTraceLog() override { o_.ArchiveTraceLog(); }
  void WriteCounters(int x, int z) override {
    o_.store_.WriteNumber("CheckTimer", "XRelayTimer", x);
    o_.store_.WriteNumber("CheckTimer", "ZRelayTimer", z);
  }
  bool RelayOn() override { return o_.settings_.relay_messages != 0; }
  std::optional<RelayState> RelayThread(Relay kind) override {
    const CRelayThreadBase* t = o_.RelayThread(static_cast<RelayKind>(kind));
    if (!t || t->WaitEnded(std::chrono::milliseconds(0))) return std::nullopt;
    const RelayThreadStatus& s = t->status();
    auto lookup = s.OldestLookup();
    return RelayState{lookup.has_value(), lookup.value_or(0), s.last_activity};
  }
  void ClearInLookup(Relay kind) override {
    if (auto* t = o_.relay_threads_[kind].get()) t->ClearInLookup();
  }
  void StartRelayThread(Relay kind, bool quiet) override {
    o_.StartRelayThread(static_cast<RelayKind>(kind), quiet);
  }
  void StopRelayThread(Relay kind, bool quiet) override {
    o_.StopRelayThread(static_cast<RelayKind>(kind), quiet);
  }
  void RestartRelayThread(Relay kind) override {
    o_.RestartRelayThread(static_cast<RelayKind>(kind));
  }
  std::optional<int64_t> LastAccept(Listener which) override {
    const auto& l = which == kSmtpListener ? o_.smtp_listener_ : o_.pop3_listener_;
    if (!l) return std::nullopt;
    return l->last_accept();
  }
  bool RecreateListener(Listener which) override { return o_.RecreateListener(which); }

 private:
  COsprey& o_;
};

bool COsprey::RecreateListener(MinuteHost::Listener which) {
  bool smtp = which == MinuteHost::kSmtpListener;
  // The same backlog and accept path as at start; the old socket closes on
  // the loop that runs it.
  network_.Call([this, smtp] { (smtp ? smtp_listener_ : pop3_listener_).reset(); });
  std::unique_ptr<CListenSocket> fresh =
      smtp ? OpenListener(
                 settings_.smtp_port,
                 {B5("<SMTP> 無法以通訊埠 %d 建立 SMTP 通訊端。"),
                  B5("<SMTP> 無法以通訊埠 %d 啟動 SMTP 行程。"), nullptr},
                 [this](asio::ip::tcp::socket s) { HandOver(std::move(s), &COsprey::AcceptSmtp); })
           : OpenListener(
                 settings_.port,
                 {B5("<POP3> 無法以通訊埠 %d  建立 POP3 通訊端。"),
                  B5("<POP3> 無法以通訊埠 %d 啟動 POP3 行程。"), nullptr},
                 [this](asio::ip::tcp::socket s) { HandOver(std::move(s), &COsprey::AcceptPop3); });
  if (!fresh) return false;
  (smtp ? smtp_listener_ : pop3_listener_) = std::move(fresh);
  return true;
}

void COsprey::OnMinuteTimer() {
  // Drop files kept by a failed copy are tried again.
  distribution_worker_.Post([this] { Distribute([this] { distribution_.RetryKept(); }); });
  minute_->Tick();
}

}  // namespace heron

namespace heron {

void COsprey::HandOver(asio::ip::tcp::socket socket,
                       void (COsprey::*accept)(asio::ip::tcp::socket, bool), bool implicit_tls) {
  // Beyond what the descriptors allow, a connection is closed at once.
  if (open_connections_ >= max_connections_) {
    asio::error_code ec;
    socket.close(ec);
    return;
  }
  ++open_connections_;
  auto held = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
  session_starter_.Post(
      [this, held, accept, implicit_tls] { (this->*accept)(std::move(*held), implicit_tls); });
}

void COsprey::AcceptSmtp(asio::ip::tcp::socket socket, bool implicit_tls) {
  std::shared_ptr<const OspreySettings> snapshot = Snapshot();
  std::shared_ptr<TlsContext> tls = Tls();
  TlsPolicy policy{tls != nullptr, snapshot->tls_required != 0, implicit_tls};
  std::string peer = CClientThread::PeerAddress(socket);
  StartSession(
      smtp_threads_,
      [&] {
        return std::make_shared<CSmtpThread>(*this, *snapshot, peer, passed_cache_, rejected_cache_,
                                             policy);
      },
      std::move(socket), tls, implicit_tls);
}

void COsprey::AcceptPop3(asio::ip::tcp::socket socket, bool implicit_tls) {
  std::shared_ptr<const OspreySettings> snapshot = Snapshot();
  std::shared_ptr<TlsContext> tls = Tls();
  std::string peer = CClientThread::PeerAddress(socket);
  StartSession(
      pop3_threads_,
      [&] {
        CPop3Socket::Config config{snapshot->ip_filter,
                                   snapshot->connections_limit,
                                   snapshot->max_connections_per_ip,
                                   snapshot->robot_protected != 0,
                                   {tls != nullptr, snapshot->tls_required != 0, implicit_tls}};
        return std::make_shared<CPop3Thread>(*this, std::move(config), snapshot->mail_folder, peer);
      },
      std::move(socket), tls, implicit_tls);
}

std::shared_ptr<TlsContext> COsprey::Tls() {
  std::lock_guard<std::mutex> lock(snapshot_mu_);
  return tls_;
}

void COsprey::LoadTls(LoadMode mode) {
  const std::string& cert = settings_.tls_certificate_file;
  const std::string& key = settings_.tls_private_key_file;
  std::shared_ptr<TlsContext> loaded;
  if (!cert.empty() || !key.empty()) {
    std::string error = B5("TlsCertificateFile 與 TlsPrivateKeyFile 都必須設定");
    if (!cert.empty() && !key.empty()) loaded = TlsContext::Load(cert, key, error);
    if (loaded) {
      LogLoadProblem(StrPrintf(B5("已載入 TLS 憑證 %s"), cert.c_str()), 2);
    } else if (mode == LoadMode::kReload && Tls()) {
      // A renewal caught half-written keeps the certificate that works.
      LogLoadProblem(StrPrintf(B5("無法載入 TLS 憑證：%s，沿用原有憑證。"), error.c_str()));
      return;
    } else {
      LogLoadProblem(StrPrintf(B5("無法載入 TLS 憑證：%s，TLS 未啟用。"), error.c_str()));
    }
  }
  // Both settings empty: no certificate, every reply as without TLS.
  std::lock_guard<std::mutex> lock(snapshot_mu_);
  tls_ = std::move(loaded);
}

std::unique_ptr<CListenSocket> COsprey::OpenTlsListener(int32_t port, const char* tag,
                                                        CListenSocket::AcceptHandler accept) {
  if (port <= 0) return nullptr;
  if (!Tls()) {
    Log(1, StrPrintf(B5("<%s> 沒有可用的 TLS 憑證，不啟動加密通訊埠 %d。"), tag, port));
    return nullptr;
  }
  std::string create = StrPrintf(B5("<%s> 無法以通訊埠 %%d 建立加密通訊端。"), tag);
  std::string listen = StrPrintf(B5("<%s> 無法以通訊埠 %%d 啟動加密行程。"), tag);
  std::string started = StrPrintf(B5("<%s> 加密行程已啟動，通訊埠 %%d。"), tag);
  return OpenListener(port, {create.c_str(), listen.c_str(), started.c_str()}, std::move(accept));
}

void COsprey::CloseListeners() {
  network_.Call([this] {
    pop3_listener_.reset();
    smtp_listener_.reset();
    pop3s_listener_.reset();
    smtps_listener_.reset();
  });
}

void COsprey::StartSession(std::list<std::shared_ptr<CSessionThread>>& threads,
                           const std::function<std::shared_ptr<CClientThread>()>& make,
                           asio::ip::tcp::socket socket, std::shared_ptr<TlsContext> tls,
                           bool implicit_tls) {
  // An encrypted port whose certificate was let go by a reload serves
  // nobody, never in clear.
  if (implicit_tls && !tls) {
    asio::error_code ec;
    socket.close(ec);
    --open_connections_;
    return;
  }
  // Whatever runs out here (memory, threads) costs this one connection: it
  // is closed, and the service goes on.
  std::shared_ptr<CClientThread> thread;
  try {
    thread = make();
    thread->UseTls(std::move(tls), implicit_tls);
    {
      std::lock_guard<std::mutex> lock(connection_lock_);
      threads.push_back(thread);
    }
    if (thread->Start(std::move(socket))) return;
  } catch (const std::exception&) {
  }
  asio::error_code ec;
  socket.close(ec);
  if (thread) {
    SessionEnded(thread.get());
  } else {
    --open_connections_;
  }
}

void COsprey::SessionEnded(CSessionThread* thread) {
  --open_connections_;
  std::lock_guard<std::mutex> lock(connection_lock_);
  auto same = [thread](const std::shared_ptr<CSessionThread>& t) { return t.get() == thread; };
  pop3_threads_.remove_if(same);
  smtp_threads_.remove_if(same);
}

}  // namespace heron
