#include "service/osprey.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "pop3/pop3_listen_socket.h"
#include "pop3/pop3_thread.h"
#include "service/mailbox.h"
#include "service/messages.h"
#include "smtp/message_file.h"
#include "smtp/smtp_listen_socket.h"
#include "smtp/smtp_thread.h"

namespace heron {

COsprey::COsprey()
    : CNTService(kServiceName),
      store_(Registry::Shared()),
      accounts_(store_,
                [this] { return store_.ReadText("Settings", "MailFolder", DefaultMailFolder()); }),
      trace_(HeronHome()) {
  window_.SetHandler([this](unsigned msg, std::string text, uint64_t lparam) {
    OnMessage(msg, std::move(text), lparam);
  });
}

COsprey::~COsprey() = default;

void COsprey::SetNamedEvent() { NamedEvent::Set(kReloadEventName); }

void COsprey::Log(int level, uint32_t thread_id, const std::string& text) {
  trace_.Log(level, thread_id, text);
}

void COsprey::OpenTraceLog() { trace_.Open(); }

void COsprey::LogLoadProblem(const std::string& text) {
  if (trace_.IsOpen()) {
    Log(1, text);
  } else {
    pending_load_problems_.push_back(text);
  }
}

void COsprey::OnStop() { window_.Post(WM_STOP_SERVICE); }

void COsprey::Run() {
  // 1. One service body per data root.
  switch (mutex_.TryAcquire(kMutexName)) {
    case NamedMutex::Result::kAcquired:
      break;
    case NamedMutex::Result::kHeldElsewhere:
      if (debug()) ShowMessageBox("already running", service_name());
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
  // 5. Event watcher, servers, running.
  watcher_ = std::thread([this] { ServiceEventWatcher(); });
  StartServers();
  ReportStatus(kServiceRunning, 3000);
  // 6. Dispatch until the stop event is set.
  window_.Run(stop_event_);
  // 7. Wind down.
  Log(2, B5("郵件服務行程即將停止..."));
  stop_event_.Set();
  if (watcher_.joinable()) watcher_.join();
  reload_event_.Close();
  clear_log_event_.Close();
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
  switch (msg) {
    case WM_CLIENT_CONNECTED:
    case WM_CLIENT_DISCONNECTED: {
      size_t bar = text.find('|');
      std::string ip = text.substr(0, bar);
      std::string tag = bar == std::string::npos ? std::string() : text.substr(bar + 1);
      if (msg == WM_CLIENT_CONNECTED) {
        ++session_count_;
        Log(2, tid, StrPrintf(B5("<%s> 用戶端建立連線，IP: %s"), tag.c_str(), ip.c_str()));
      } else {
        --session_count_;
        Log(2, tid, StrPrintf(B5("<%s> 用戶端中斷連線，IP:  %s"), tag.c_str(), ip.c_str()));
      }
      break;
    }
    case WM_LOG_INFO:
      Log(2, tid, text);
      break;
    case WM_LOG_ERROR:
      Log(1, tid, text);
      break;
    case WM_LOG_DETAIL:
      Log(3, tid, text);
      break;
    case WM_MESSAGE_RECEIVED:
      DistributeDropFile(text);
      break;
    case WM_STOP_SERVICE:
      StopServers();
      ReportStatus(kServiceStopPending, 5000);
      stop_event_.Set();
      break;
    case WM_RELOAD_SETTINGS:
      LoadSettings(LoadMode::kReload);
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
  bool log_changed = !(log == trace_.settings());
  trace_.set_settings(log);
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
    trace_.Close();
    OpenTraceLog();
  }
  // Relay threads are started or stopped here once relaying exists.
}

bool COsprey::StartServers() {
  if (servers_running_) return true;
  LoadSettings(LoadMode::kStart);
  OpenTraceLog();
  for (const std::string& line : pending_load_problems_) Log(1, line);
  pending_load_problems_.clear();
  DistributeLeftoverDropFiles();

  auto valid_port = [](int32_t p) { return p >= 0 && p <= 65535; };
  int32_t port = settings_.port;
  pop3_listener_ = std::make_unique<CPop3ListenSocket>(window_.io(), this);
  if (!valid_port(port) || !pop3_listener_->Create(static_cast<uint16_t>(port))) {
    Log(1, StrPrintf(B5("<POP3> 無法以通訊埠 %d  建立 POP3 通訊端。"), port));
    pop3_listener_.reset();
    return false;
  }
  if (!pop3_listener_->Listen(5)) {
    Log(1, StrPrintf(B5("<POP3> 無法以通訊埠 %d 啟動 POP3 行程。"), port));
    pop3_listener_.reset();
    return false;
  }
  Log(2, StrPrintf(B5("<POP3> 行程已啟動，通訊埠 %d。"), port));

  int32_t smtp_port = settings_.smtp_port;
  smtp_listener_ = std::make_unique<CSmtpListenSocket>(window_.io(), this);
  if (!valid_port(smtp_port) || !smtp_listener_->Create(static_cast<uint16_t>(smtp_port))) {
    Log(1, StrPrintf(B5("<SMTP> 無法以通訊埠 %d 建立 SMTP 通訊端。"), smtp_port));
    smtp_listener_.reset();
    return false;
  }
  if (!smtp_listener_->Listen(5)) {
    Log(1, StrPrintf(B5("<SMTP> 無法以通訊埠 %d 啟動 SMTP 行程。"), smtp_port));
    smtp_listener_.reset();
    return false;
  }
  servers_running_ = true;
  Log(2, StrPrintf(B5("<SMTP> 行程已啟動，通訊埠 %d。"), smtp_port));

  x_counter_ = 0;
  z_counter_ = 0;
  minute_timer_ = window_.SetTimer(std::chrono::milliseconds(60000), [this] { OnMinuteTimer(); });
  // The main and X relay threads start here once relaying exists.
  return true;
}

void COsprey::StopServers() {
  if (!servers_running_) return;
  // The relay threads are stopped here once relaying exists.
  window_.KillTimer(minute_timer_);
  minute_timer_ = 0;
  servers_running_ = false;
  pop3_listener_.reset();
  smtp_listener_.reset();
  StopSessionThreads(pop3_threads_);
  StopSessionThreads(smtp_threads_);
  Log(2, B5("郵件伺服器行程已停止"));
  trace_.Close();
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
    }
    std::lock_guard<std::mutex> lock(connection_lock_);
    threads.remove(t);
  }
}

void COsprey::OnMinuteTimer() {
  // Listener and relay health checks join this tick with relaying.
  if (++x_counter_ > 10) {
    ArchiveTraceLog();
    x_counter_ = 0;
  }
  if (++z_counter_ > 60) z_counter_ = 0;
  store_.WriteNumber("CheckTimer", "XRelayTimer", x_counter_);
  store_.WriteNumber("CheckTimer", "ZRelayTimer", z_counter_);
}

}  // namespace heron

namespace heron {

void COsprey::AcceptSmtp(asio::ip::tcp::socket socket) {
  auto thread = std::make_shared<CSmtpThread>(*this, settings_, CClientThread::PeerAddress(socket));
  {
    std::lock_guard<std::mutex> lock(connection_lock_);
    smtp_threads_.push_back(thread);
  }
  if (!thread->Start(std::move(socket))) SessionEnded(thread.get());
}

void COsprey::AcceptPop3(asio::ip::tcp::socket socket) {
  CPop3Socket::Config config{settings_.mail_folder, settings_.ip_filter,
                             settings_.connections_limit};
  auto thread =
      std::make_shared<CPop3Thread>(*this, std::move(config), CClientThread::PeerAddress(socket));
  {
    std::lock_guard<std::mutex> lock(connection_lock_);
    pop3_threads_.push_back(thread);
  }
  if (!thread->Start(std::move(socket))) SessionEnded(thread.get());
}

void COsprey::SessionEnded(CSessionThread* thread) {
  std::lock_guard<std::mutex> lock(connection_lock_);
  auto same = [thread](const std::shared_ptr<CSessionThread>& t) { return t.get() == thread; };
  pop3_threads_.remove_if(same);
  smtp_threads_.remove_if(same);
}

void COsprey::DistributeLeftoverDropFiles() {
  std::string root = MailRoot(settings_.mail_folder);
  // Partial writes of a stopped service: never acknowledged, never visible.
  for (const FileEntry& e : ListFolder(root + "/.tmp")) DeleteFile(root + "/.tmp/" + e.name);
  std::vector<FileEntry> drops = ListFolder(root + "/drop");
  std::sort(drops.begin(), drops.end(),
            [](const FileEntry& a, const FileEntry& b) { return a.mtime < b.mtime; });
  for (const FileEntry& e : drops) {
    if (!e.is_dir && e.name.size() > 4 && e.name.ends_with(".eml")) {
      DistributeDropFile(root + "/drop/" + e.name);
    }
  }
}

bool COsprey::CopyInto(const std::string& from, const std::string& folder,
                       const std::string& file_name) {
  std::string root = MailRoot(settings_.mail_folder);
  if (!CreateFolderPath(root + "/.tmp", 0700) || !CreateFolderPath(folder)) return false;
  return CopyFileDurable(from, folder + "/" + file_name, root + "/.tmp");
}

bool COsprey::ApplyCopyRules(const std::string& from, const std::string& mailbox,
                             const std::string& file_name) {
  std::string joined;
  for (const std::string& rule : settings_.copy_rules) {
    size_t bar = rule.find('|');
    if (bar != std::string::npos && EqualsNoCase(rule.substr(0, bar), mailbox)) {
      joined += rule.substr(bar + 1) + ",";
    }
  }
  bool ok = true;
  std::string root = MailRoot(settings_.mail_folder);
  size_t start = 0;
  while (start < joined.size()) {
    size_t comma = joined.find(',', start);
    std::string target = Trim(std::string_view(joined).substr(start, comma - start));
    start = comma + 1;
    auto folder = FindMailbox(root, target);
    if (!folder) continue;  // a target without a folder gets nothing
    Log(2, B5("<SMTP> 複製訊息複本到： ") + *folder + "/");
    if (CopyInto(from, *folder, file_name)) {
      Log(2, B5("<SMTP> 複製完成"));
    } else {
      Log(1, B5("<SMTP> 複製失敗： ") + *folder + "/");
      ok = false;
    }
  }
  return ok;
}

void COsprey::DistributeDropFile(const std::string& drop_file) {
  std::string file_name = drop_file.substr(drop_file.rfind('/') + 1);
  Log(2, B5("<SMTP> 訊息接收中: ") + file_name);
  std::string content;
  if (!ReadFile(drop_file, content)) {
    Log(1, B5("<SMTP> 無法讀取訊息： ") + drop_file);
    return;
  }
  std::string root = MailRoot(settings_.mail_folder);
  bool all_copied = true;
  auto copy = [&](const std::string& folder, const std::string& big5_label) {
    Log(2, big5_label + folder + "/");
    bool ok = CopyInto(drop_file, folder, file_name);
    if (!ok) Log(1, B5("<SMTP> 複製失敗： ") + folder + "/");
    all_copied = all_copied && ok;
    return ok;
  };

  // Copies into the folder of a configured account (CcAccount, catch-all),
  // made when missing. A name that cannot be a folder is a setting error and
  // is skipped; a folder that cannot be made is a failed copy.
  auto copy_to_account = [&](const std::string& name, const std::string& big5_label) {
    if (!IsMailboxName(name)) {
      Log(1, B5("<SMTP> 帳號名稱無法作為信箱： ") + name);
      return;
    }
    if (auto folder = EnsureMailbox(root, name)) {
      copy(*folder, big5_label);
    } else {
      Log(1, B5("<SMTP> 複製失敗： ") + root + "/" + name + "/");
      all_copied = false;
    }
  };

  bool queued = false;
  for (const std::string& recipient : ReadRecipients(content)) {
    if (!IsLocalDomain(DomainOf(recipient), settings_.domains)) {
      if (queued) continue;
      queued = true;
      copy(root + "/queue", B5("<SMTP> 複製訊息到： "));
      if (!EqualsNoCase(settings_.cc_account, B5("-無-"))) {
        copy_to_account(settings_.cc_account, B5("<SMTP> 複製寄件複本到： "));
      }
      continue;
    }
    std::string name = MailboxOf(recipient);
    auto folder = FindMailbox(root, name);
    auto account = folder ? std::nullopt : accounts_.StoredName(name);
    if (folder || account) {
      if (!folder) folder = EnsureMailbox(root, *account);  // the account's own spelling
      if (!folder) {
        Log(1, B5("<SMTP> 複製失敗： ") + root + "/" + *account + "/");
        all_copied = false;
        continue;
      }
      if (copy(*folder, B5("<SMTP> 複製訊息到： "))) Log(2, B5("<SMTP> 複製完成"));
      all_copied = ApplyCopyRules(drop_file, name, file_name) && all_copied;
    } else if (!EqualsNoCase(settings_.catch_all_account, B5("-停用-"))) {
      copy_to_account(settings_.catch_all_account, B5("<SMTP> 收件人帳號不存在，複製訊息到： "));
    }
  }
  // A copy that failed keeps the drop file for the next start, so that no
  // recipient loses the message; copies already made are replaced then.
  if (all_copied) DeleteFile(drop_file);
}

}  // namespace heron
