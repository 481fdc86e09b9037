#include "relay/relay_thread.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <asio.hpp>
#include <chrono>
#include <optional>

#include "dns/dns_lookup.h"
#include "platform/files.h"
#include "platform/message_window.h"
#include "platform/text.h"
#include "relay/relay_socket.h"
#include "service/address.h"
#include "service/mail_folders.h"
#include "service/message_file.h"

namespace heron {
namespace {

// Holds a claim on a file for as long as it lives.
class Claim {
 public:
  Claim(RelayFileClaims& claims, std::string path) : claims_(claims), path_(std::move(path)) {
    held_ = claims_.Claim(path_);
  }
  ~Claim() {
    if (held_) claims_.Release(path_);
  }
  bool held() const { return held_; }

 private:
  RelayFileClaims& claims_;
  std::string path_;
  bool held_;
};

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::set<std::string> ReadJournal(const std::string& path) {
  std::set<std::string> done;
  std::string text;
  if (!ReadFile(path, text)) return done;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    done.insert(text.substr(start, nl - start));
  }
  return done;  // a line cut short by a crash is no entry
}

bool AppendJournal(const std::string& path, const std::string& recipient) {
  bool fresh = !FileExists(path);
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string line = recipient + "\n";
  bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            fdatasync(fd) == 0;
  close(fd);
  if (ok && fresh) SyncFolder(path.substr(0, path.rfind('/')));
  return ok;
}

std::string Recipients(const std::vector<std::string>& list, bool tabbed) {
  std::string text;
  for (const std::string& r : list) {
    if (tabbed) {
      text += "\t" + r + "\r\n";
    } else {
      text += (text.empty() ? "" : ", ") + r;
    }
  }
  return text;
}

// The reasons of a recipient given up without a last attempt of its own.
ReportReasons ExpiredReasons() {
  return {B5("超過郵件處理時效，系統已停止重寄！"),
          "The retry period has expired. Relay subsystem has given up the delivery."};
}
ReportReasons ExhaustedReasons() {
  return {B5("超過重寄次數，系統已停止重寄！"),
          "The retry limit was reached. Relay subsystem has given up the delivery."};
}
ReportReasons OverLimitReasons() {
  return {B5("收件人數超過系統限制，信件未傳遞給此收件人！"),
          "Too many recipients: the message was not relayed to this recipient."};
}

}  // namespace

bool RelayFileClaims::Claim(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  return held_.insert(path).second;
}

void RelayFileClaims::Release(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  held_.erase(path);
}

RelayWorker::RelayWorker(RelayKind kind, RelayConfig config, RelayContext context, MxLookup& dns,
                         RelayTransport& transport, std::shared_ptr<RelayFileClaims> claims)
    : variant_(VariantOf(kind)),
      config_(std::move(config)),
      context_([&] {
        RelayContext c = std::move(context);
        c.hosts = &host_health_;
        return c;
      }()),
      resolver_(MxResolver::FixedHosts(config_.mx_records), config_.dns_server,
                config_.domain_as_host, dns, context_.log),
      delivery_(config_, resolver_, transport, context_),
      claims_(std::move(claims)) {
  for (const char* f :
       {variant_.scan_folder, variant_.next_folder, kXQueueFolder, kBadmailFolder, kTempFolder}) {
    if (f) CreateFolderPath(Folder(f));
  }
  if (variant_.renames_to_work) {
    for (const std::string& path : MessageFiles()) {
      if (NameOf(path).starts_with(kWorkPrefix)) leftovers_.insert(path);
    }
  }
  if (context_.status) context_.status->last_activity = context_.now();
}

std::string RelayWorker::Folder(const char* name) const {
  return FolderPath(config_.mail_root, name);
}

void RelayWorker::LogDeleteFailed(const std::string& path, bool retry_wording) {
  Log(StrPrintf(retry_wording ? B5("無法刪除： %s!") : B5("錯誤： 無法刪除： %s!"), path.c_str()));
}

bool RelayWorker::WaitReadable(const std::string& path) {
  return WaitUntilReadable(path, [this] {
    for (int i = 0; i < 10 && !Stopping(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
}

std::vector<std::string> RelayWorker::MessageFiles() {
  std::vector<std::string> files;
  std::string folder = ScanFolder();
  for (const FileEntry& e : ListFolder(folder)) {
    if (!e.is_dir && HasMessageExtension(e.name)) files.push_back(folder + "/" + e.name);
  }
  return files;
}

void RelayWorker::DropOrphanJournals() {
  // A journal arrives just before its file: only one left for an hour
  // without its file is an orphan (its file was deleted before it).
  constexpr int64_t kOrphanAge = 3600;
  std::string folder = ScanFolder();
  for (const FileEntry& e : ListFolder(folder)) {
    std::string file = TrimJournalSuffix(e.name);
    // A journal of the X folder whose file still waits in the queue folder
    // under its work name (a crash between the two moves) is not one.
    bool waiting = variant_.kind == RelayKind::kX &&
                   FileExists(FolderPath(Folder(kQueueFolder), WorkFileName(file)));
    if (!e.is_dir && file != e.name && context_.now() - e.mtime > kOrphanAge && !waiting &&
        !FileExists(folder + "/" + file)) {
      DeleteFile(folder + "/" + e.name);
    }
  }
}

bool RelayWorker::IsLocal(const std::string& recipient) const {
  return IsLocalDomain(GetDomain(recipient), config_.domains);
}

void RelayWorker::Run() {
  if (variant_.continuous) {
    WatchQueue();
  } else {
    Pass();
  }
}

bool RelayWorker::DetectNewFiles() {
  if (context_.status) context_.status->last_activity = context_.now();
  bool added = false;
  std::vector<std::string> files = MessageFiles();
  std::lock_guard<std::mutex> lock(work_mu_);
  for (const std::string& path : files) added |= remembered_.insert(path).second;
  return added;
}

void RelayWorker::WatchQueue() {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return;
  asio::io_context io;
  asio::posix::stream_descriptor notify(io, fd);
  if (inotify_add_watch(fd, ScanFolder().c_str(),
                        IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR) < 0) {
    return;
  }
  StartWorkers(kRelayWorkers);
  if (DetectNewFiles()) Dispatch();
  asio::steady_timer sweep(io);
  while (!Stopping()) {
    enum { kNone, kChange, kSweep } event = kNone;
    asio::error_code ignored;
    notify.async_wait(asio::posix::stream_descriptor::wait_read,
                      [&](const asio::error_code& e) { event = e ? event : kChange; });
    sweep.expires_after(std::chrono::seconds(std::max(1, config_.scan_interval)));
    sweep.async_wait([&](const asio::error_code& e) { event = e ? event : kSweep; });
    io.restart();
    while (event == kNone && !Stopping()) io.run_one_for(std::chrono::milliseconds(200));
    notify.cancel(ignored);
    sweep.cancel();
    io.restart();
    io.poll();
    if (event == kChange) {
      char buf[4096];
      while (read(fd, buf, sizeof buf) > 0) {
      }
      if (DetectNewFiles()) Dispatch();
    } else if (event == kSweep) {
      // Files no notification told of (none that are in work).
      Dispatch(true);
    }
  }
  StopWorkers();
}

void RelayWorker::StartWorkers(int count) {
  for (int i = 0; i < count; ++i) workers_.emplace_back([this] { WorkerMain(); });
}

void RelayWorker::StopWorkers() {
  for (std::thread& t : workers_) t.join();  // each sees the stop within a wait
  workers_.clear();
}

void RelayWorker::WorkerMain() {
  std::unique_lock<std::mutex> lock(work_mu_);
  while (!Stopping()) {
    if (todo_.empty()) {
      // Woken by new work; the stop is seen within the wait.
      work_cv_.wait_for(lock, std::chrono::milliseconds(200));
      continue;
    }
    // The first file whose time has come; put-off ones wait a little.
    auto now = std::chrono::steady_clock::now();
    auto ready = std::find_if(todo_.begin(), todo_.end(),
                              [now](const Todo& t) { return t.not_before <= now; });
    if (ready == todo_.end()) {
      work_cv_.wait_for(lock, std::chrono::milliseconds(20));
      continue;
    }
    std::string path = std::move(ready->path);
    todo_.erase(ready);
    ++busy_;
    lock.unlock();
    std::string again;
    try {
      again = Work(path);
    } catch (const std::exception& e) {
      // Memory or the like: the file stays where it is for the next pass.
      Log(std::string("Relay error: ") + e.what());
    }
    lock.lock();
    --busy_;
    handed_.erase(path);
    if (!again.empty()) {
      // Its host was busy answering another worker: back in line for a bit.
      handed_.insert(again);
      todo_.push_back({again, std::chrono::steady_clock::now() + kPutOff});
    }
    if (todo_.empty() && busy_ == 0) {
      Log(B5("完成郵件處理行程"));
      remembered_.clear();
    }
  }
}

bool RelayWorker::Dispatch(bool only_new) {
  std::vector<std::string> fresh;
  {
    std::lock_guard<std::mutex> lock(work_mu_);
    for (const std::string& path : MessageFiles()) {
      if (!handed_.count(path)) fresh.push_back(path);
    }
  }
  if (fresh.empty() && only_new) return false;
  if (only_new) Log(B5("正在處理佇列中未偵測到的訊息"));
  if (context_.status) context_.status->last_activity = context_.now();
  Log(B5("偵測到新的訊息"));
  DropOrphanJournals();
  std::lock_guard<std::mutex> lock(work_mu_);
  for (std::string& path : fresh) {
    if (handed_.insert(path).second) todo_.push_back({std::move(path), {}});
  }
  work_cv_.notify_all();
  if (todo_.empty() && busy_ == 0) remembered_.clear();
  return !fresh.empty();
}

std::string RelayWorker::Work(const std::string& path) {
  Claim claim(*claims_, path);
  if (!claim.held() || !WaitReadable(path)) return {};
  switch (variant_.kind) {
    case RelayKind::kMain:
      return QueueFile(path);
    case RelayKind::kX:
      XQueueFile(path);
      return {};
    default:
      RetryFile(path);
      return {};
  }
}

void RelayWorker::Pass() {
  if (variant_.continuous) {
    if (context_.status) context_.status->last_activity = context_.now();
    Log(B5("偵測到新的訊息"));
  }
  DropOrphanJournals();
  for (const std::string& path : MessageFiles()) {
    if (Stopping()) break;
    // One thread alone never finds a host busy with another attempt.
    Work(path);
  }
  if (variant_.continuous) {
    Log(B5("完成郵件處理行程"));
    remembered_.clear();
  }
}

std::vector<std::string> RelayWorker::PendingRecipients(
    const std::string& path, const std::vector<std::string>& recipients) {
  std::set<std::string> done = ReadJournal(CopyJournalName(path));
  std::vector<std::string> pending;
  for (const std::string& r : recipients) {
    if (!IsLocal(r) && !done.count(r)) pending.push_back(r);
  }
  return pending;
}

RelayWorker::Settled RelayWorker::DeliverAll(const std::string& path, const std::string& content,
                                             const std::vector<std::string>& recipients) {
  std::string name = NameOf(path);
  std::string id = TrimExtension(TrimWorkPrefix(name));
  // Recipients taken before count towards the limit too.
  std::vector<std::string> pending = PendingRecipients(path, recipients);
  size_t remote = 0;
  for (const std::string& r : recipients) remote += IsLocal(r) ? 0 : 1;
  size_t taken = remote - pending.size();
  bool settled = true;
  bool limit_logged = false;
  for (size_t i = 0; i < pending.size(); ++i) {
    const std::string& r = pending[i];
    if (Stopping()) return Settled::kStopped;
    bool secured = true;
    if (config_.max_recipients > 0 && taken >= static_cast<size_t>(config_.max_recipients)) {
      // Beyond the limit a recipient is told of, never dropped in silence.
      if (variant_.limit_logged && !limit_logged) Log(B5("收件人數超過系統限制!"));
      limit_logged = true;
      delivery_.Report(path, r, OverLimitReasons());
    } else {
      ++taken;
      std::string target;
      switch (delivery_.DeliverToRecipient(path, content, r)) {
        case RecipientOutcome::kDelivered:
          break;
        case RecipientOutcome::kRetryLater:
          target = FolderPath(Folder(variant_.next_folder), RetryFileName(id, r, 0));
          break;
        case RecipientOutcome::kGivenUp:
          target = FolderPath(Folder(kBadmailFolder), TrimWorkPrefix(name));
          break;
        case RecipientOutcome::kInterrupted:
          return Settled::kStopped;
        case RecipientOutcome::kPostponed:
          return Settled::kPostponed;
      }
      if (!target.empty()) secured = CopyFileDurable(path, target, Folder(kTempFolder));
    }
    // A recipient not secured is met again. The last one needs no journal
    // line when the file goes next.
    if (!secured) {
      settled = false;
    } else if ((i + 1 < pending.size() || !settled) && !AppendJournal(CopyJournalName(path), r)) {
      settled = false;
    }
  }
  return settled ? Settled::kAll : Settled::kNotAll;
}

bool RelayWorker::MoveWithJournal(const std::string& from, const std::string& to) {
  std::string tmp = Folder(kTempFolder);
  if (FileExists(CopyJournalName(from)) &&
      RenewAndMove(CopyJournalName(from), CopyJournalName(to), tmp) != MoveResult::kMoved) {
    return false;
  }
  MoveResult r = RenewAndMove(from, to, tmp);
  if (r == MoveResult::kDeleteFailed) LogDeleteFailed(from, false);
  return r != MoveResult::kCopyFailed;
}

void RelayWorker::GiveUp(const std::string& path, const std::string& name,
                         const std::string& recipients, const ReportReasons& reasons) {
  std::string target = FolderPath(Folder(kBadmailFolder), name);
  MoveResult r = RenewAndMove(path, target, Folder(kTempFolder));
  if (r == MoveResult::kCopyFailed) return;  // met again at the next pass
  if (r == MoveResult::kDeleteFailed) LogDeleteFailed(path, false);
  DeleteFile(CopyJournalName(path));
  if (!recipients.empty()) delivery_.Report(target, recipients, reasons);
}

std::string RelayWorker::QueueFile(const std::string& path) {
  std::string name = NameOf(path);
  bool resumed = false;
  if (name.starts_with(kWorkPrefix)) {
    // Only work names found when the thread started are left over from an
    // interrupted pass; any other is this thread's own, put off: resumed.
    bool left_over = false;
    {
      std::lock_guard<std::mutex> lock(work_mu_);
      postponed_.erase(path);
      left_over = leftovers_.erase(path) > 0;
    }
    if (left_over) {
      RecoverInterrupted(path);
      return {};
    }
    resumed = true;
  } else {
    Log(B5("正在處理檔案： ") + name);
  }
  std::string content;
  if (!ReadFile(path, content)) {
    Log(B5("郵件檔案讀取錯誤"));
    return {};
  }
  std::vector<std::string> recipients = ReadRecipients(content);
  if (recipients.empty()) {
    Log(B5("收件人資訊查詢錯誤，稍後重試： ") + name);
    MoveWithJournal(path, FolderPath(Folder(kXQueueFolder), TrimWorkPrefix(name)));
    return {};
  }
  // Held, and handed out, before it has its name: a listing that meets it
  // leaves it alone.
  // A file put off and now resumed is held by the caller already.
  std::string work = resumed ? path : FolderPath(ScanFolder(), WorkFileName(name));
  std::optional<Claim> claim;
  if (!resumed) {
    claim.emplace(*claims_, work);
    if (!claim->held()) return {};
    {
      std::lock_guard<std::mutex> lock(work_mu_);
      handed_.insert(work);
    }
    if (rename(path.c_str(), work.c_str()) != 0) {
      std::lock_guard<std::mutex> lock(work_mu_);
      handed_.erase(work);
      return {};
    }
  }
  // Any end but a put-off gives the work name up again.
  struct Unhand {
    RelayWorker& w;
    const std::string& work;
    bool keep = false;
    ~Unhand() {
      if (keep) return;
      std::lock_guard<std::mutex> lock(w.work_mu_);
      w.handed_.erase(work);
    }
  } unhand{*this, work};
  switch (DeliverAll(work, content, recipients)) {
    case Settled::kAll:
      if (!DeleteFile(work)) LogDeleteFailed(work, false);
      DeleteFile(CopyJournalName(work));
      return {};
    case Settled::kNotAll:
      // What could not be settled is left to the X relay thread.
      MoveWithJournal(work, FolderPath(Folder(kXQueueFolder), TrimWorkPrefix(name)));
      return {};
    case Settled::kPostponed: {
      std::lock_guard<std::mutex> lock(work_mu_);
      postponed_.insert(work);
      unhand.keep = true;
      return work;
    }
    case Settled::kStopped:
      return {};  // the next start finds it as left over
  }
  return {};
}

void RelayWorker::RecoverInterrupted(const std::string& path) {
  std::string name = NameOf(path);
  std::string target = FolderPath(Folder(kXQueueFolder), TrimWorkPrefix(name));
  std::string content;
  ReadFile(path, content);
  std::vector<std::string> pending = PendingRecipients(path, ReadRecipients(content));
  if (!MoveWithJournal(path, target)) return;
  Log(name + B5(" 前次傳遞失敗，系統稍後自動重試"));
  if (!pending.empty()) {
    delivery_.Report(target, Recipients(pending, true),
                     {B5("可能因為線路不穩或系統異常停止，前次傳遞失敗，系統稍後自動重試！"),
                      "Message temporarily deferred. Relay subsystem will try again later."});
  }
}

void RelayWorker::XQueueFile(const std::string& path) {
  std::string name = NameOf(path);
  auto st = StatFile(path);
  if (!st) return;
  std::string content;
  bool read = ReadFile(path, content);
  std::vector<std::string> recipients = ReadRecipients(content);
  if (IsExpired(context_.now() - st->mtime, config_.retry_timeout)) {
    Log(name + B5("超過郵件處理時效"));
    GiveUp(path, name, Recipients(PendingRecipients(path, recipients), false), ExpiredReasons());
    return;
  }
  Log(B5("正在檢查檔案： ") + name);
  if (!read) {
    Log(B5("郵件檔案讀取錯誤"));
    return;
  }
  if (recipients.empty()) {
    Log(B5("無法確認收件人資訊 ") + name);
    GiveUp(path, name, "unknown",
           {B5("無法確認收件人資訊！"), "Unable to determine the recipients!"});
    return;
  }
  if (DeliverAll(path, content, recipients) == Settled::kAll) {
    if (!DeleteFile(path)) LogDeleteFailed(path, false);
    DeleteFile(CopyJournalName(path));
  }
}

void RelayWorker::RetryFile(const std::string& path) {
  std::string name = NameOf(path);
  auto st = StatFile(path);
  if (!st) return;
  std::string tmp = Folder(kTempFolder);
  std::string recipient = RetryRecipientOf(name);
  switch (DecideRetry(variant_, context_.now() - st->mtime, RetryCount(name), config_.retry_timeout,
                      config_.retry_times)) {
    case RetryStep::kTooYoung:
      return;
    case RetryStep::kHandOver:
      RenewAndMove(path, FolderPath(Folder(variant_.next_folder), name), tmp);
      return;
    case RetryStep::kExpired:
      Log(B5("檢查等待重寄檔案： ") + name);
      Log(name + B5("超過郵件處理時效"));
      GiveUp(path, name, recipient, ExpiredReasons());
      return;
    case RetryStep::kExhausted:
      Log(B5("檢查等待重寄檔案： ") + name);
      Log(name + B5("超過重寄次數"));
      GiveUp(path, name, recipient, ExhaustedReasons());
      return;
    case RetryStep::kRetry:
      break;
  }
  Log(B5("檢查等待重寄檔案： ") + name);
  std::string content;
  if (!ReadFile(path, content)) {
    Log(B5("郵件檔案讀取錯誤"));
    return;
  }
  switch (delivery_.RetryRecipient(path, content)) {
    case RecipientOutcome::kDelivered:
      if (!DeleteFile(path)) LogDeleteFailed(path, true);
      break;
    case RecipientOutcome::kRetryLater:
      RenewAndMove(path, FolderPath(ScanFolder(), WithRetryCount(name, RetryCount(name) + 1)), tmp);
      break;
    case RecipientOutcome::kGivenUp:
      // The report is written already.
      GiveUp(path, TrimWorkPrefix(name), "", {});
      break;
    case RecipientOutcome::kInterrupted:
    case RecipientOutcome::kPostponed:
      break;  // met again at the next pass
  }
}

// The thread's own state: kept alive by the thread itself, so that a thread
// let go by its stop never uses a released object.
struct CRelayThreadBase::State : CRelayEventSink, RelayTransport, MxLookup {
  State(RelayKind k, RelayConfig c, RelayLogSink h, std::shared_ptr<RelayFileClaims> f)
      : kind(k), config(std::move(c)), post_log(std::move(h)), claims(std::move(f)) {}

  void Log(const std::string& text) { post_log(2, thread_id, VariantOf(kind).log_prefix + text); }
  // The sink of the socket client.
  void OnMessage(const std::string& text) override { Log(text); }
  void OnConnected() override { Log(B5("已連線至 SMTP 伺服器")); }
  void OnDisconnected() override { Log(B5("中斷與 SMTP 伺服器之連線")); }

  AttemptResult Attempt(const std::string& host_name, const std::string& sender,
                        const std::string& recipient, const std::string& text,
                        const std::function<void()>& answered) override {
    CRelaySocket socket(&stop);
    socket.SetAnswerHandler(answered);
    socket.SetSink(this);
    socket.SetHeloName(config.helo_name);
    socket.SetReplyTimeout(config.relay_timeout);
    AttemptResult r;
    bool ran = socket.Deliver(host_name, config.port, sender, recipient, text);
    r.delivered = ran && socket.IsDelivered();
    r.code = ran ? socket.LastCode() : 0;
    r.reply = socket.GetLastReply();
    if (r.code == 0 && !socket.FailureText().empty()) r.reply = socket.FailureText();
    return r;
  }

  Outcome Lookup(const std::string& server, const std::string& domain,
                 std::vector<std::string>& results, std::string& error_text) override {
    CDnsLookup lookup;
    lookup.SetCancel(&stop);
    bool ok = lookup.Lookup(server, domain, results);
    error_text = lookup.GetErrorText();
    if (!ok) return Outcome::kFailed;
    return lookup.NoAnswer() ? Outcome::kNoAnswer : Outcome::kAnswered;
  }

  void Main() {
    thread_id = CurrentThreadId();
    RelayContext context{[this](const std::string& t) { Log(t); },
                         [] { return std::time(nullptr); }, &stop, &status};
    try {
      RelayWorker worker(kind, config, context, *this, *this, claims);
      worker.Run();
    } catch (const std::exception& e) {
      post_log(1, thread_id, VariantOf(kind).log_prefix + std::string("Relay error: ") + e.what());
    }
    std::lock_guard<std::mutex> lock(mu);
    ended = true;
    ended_cv.notify_all();
  }

  RelayKind kind;
  RelayConfig config;
  RelayLogSink post_log;
  std::shared_ptr<RelayFileClaims> claims;
  RelayThreadStatus status;
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> thread_id{0};
  std::mutex mu;
  std::condition_variable ended_cv;
  bool ended = false;
};

CRelayThreadBase::CRelayThreadBase(RelayKind kind, RelayConfig config, RelayLogSink log,
                                   std::shared_ptr<RelayFileClaims> claims)
    : state_(std::make_shared<State>(kind, std::move(config), std::move(log), std::move(claims))) {
  state_->status.last_activity = std::time(nullptr);
}

CRelayThreadBase::~CRelayThreadBase() {
  RequestStop();
  Release();
}

void CRelayThreadBase::Start() {
  std::shared_ptr<State> s = state_;
  thread_ = std::thread([s] { s->Main(); });
}

void CRelayThreadBase::RequestStop() { state_->stop = true; }

bool CRelayThreadBase::WaitEnded(std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(state_->mu);
  return state_->ended_cv.wait_for(lock, limit, [this] { return state_->ended; });
}

bool CRelayThreadBase::Release() {
  if (!thread_.joinable()) return true;
  if (WaitEnded(std::chrono::milliseconds(0))) {
    thread_.join();
    return true;
  }
  thread_.detach();
  return false;
}

RelayKind CRelayThreadBase::kind() const { return state_->kind; }
const RelayThreadStatus& CRelayThreadBase::status() const { return state_->status; }
void CRelayThreadBase::ClearInLookup() { state_->status.ClearLookups(); }
uint32_t CRelayThreadBase::ThreadId() const { return state_->thread_id; }

std::unique_ptr<CRelayThreadBase> MakeRelayThread(RelayKind kind, RelayConfig config,
                                                  const RelayLogSink& host,
                                                  std::shared_ptr<RelayFileClaims> claims) {
  switch (kind) {
    case RelayKind::kMain:
      return std::make_unique<CRelayThread>(std::move(config), host, std::move(claims));
    case RelayKind::kX:
      return std::make_unique<CXRelayThread>(std::move(config), host, std::move(claims));
    case RelayKind::kY:
      return std::make_unique<CYRelayThread>(std::move(config), host, std::move(claims));
    default:
      return std::make_unique<CZRelayThread>(std::move(config), host, std::move(claims));
  }
}

}  // namespace heron
