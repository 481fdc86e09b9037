// The relay threads: one design for the four kinds. The main relay thread
// watches the queue folder until it is stopped; the X, Y and Z relay
// threads make one pass over their folder per start. What sets them apart
// comes from their variant (relay_rules.h).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "relay/relay_delivery.h"
#include "relay/relay_rules.h"

namespace heron {

// Where a relay thread's log lines go (level, thread id, text); called on
// the relay threads.
using RelayLogSink = std::function<void(int, uint32_t, std::string)>;

// The files some relay thread works on. A thread that outlived its stop
// still holds its file, and a new thread of its kind passes that file by.
class RelayFileClaims {
 public:
  bool Claim(const std::string& path);
  void Release(const std::string& path);

 private:
  std::mutex mu_;
  std::set<std::string> held_;
};

// The passes of one relay thread over its folders, on the calling thread.
class RelayWorker {
 public:
  RelayWorker(RelayKind kind, RelayConfig config, RelayContext context, MxLookup& dns,
              RelayTransport& transport, std::shared_ptr<RelayFileClaims> claims);

  // The thread body: one pass, or (main relay thread) watching the queue
  // folder until stopped.
  void Run();
  // One pass over the scan folder, on the calling thread.
  void Pass();
  // Main relay thread: remembers the files of the queue folder not seen
  // before; true when there was one.
  bool DetectNewFiles();

  const RelayVariant& variant() const { return variant_; }

 private:
  std::string Folder(const char* name) const;
  std::string ScanFolder() const { return Folder(variant_.scan_folder); }
  bool Stopping() const { return context_.stop && *context_.stop; }
  void Log(const std::string& text) { context_.log(text); }
  void LogDeleteFailed(const std::string& path, bool retry_wording);
  // Waits until the file can be read, a second between tries.
  bool WaitReadable(const std::string& path);
  // The message files of the scan folder (journals and sub-folders left out).
  std::vector<std::string> MessageFiles();
  void DropOrphanJournals();
  void WatchQueue();
  // One file of the scan folder, unless another thread holds it. A file
  // put off for a while comes back under the name it has then.
  std::string Work(const std::string& path);

  // Main relay thread: delivery workers take the files of the queue folder
  // one by one; the watching thread only lists the folder and hands out
  // what is new, so that a slow exchanger holds up one worker only.
  void StartWorkers(int count);
  void StopWorkers();
  void WorkerMain();
  // Lists the folder and hands out every file not handed out yet; true when
  // there was one.
  bool Dispatch(bool only_new = false);

  // One file of the scan folder, by kind.
  // The work file's path when it is put off, else empty.
  std::string QueueFile(const std::string& path);
  void RecoverInterrupted(const std::string& path);
  void XQueueFile(const std::string& path);
  void RetryFile(const std::string& path);

  // Delivers the remote recipients of a whole-message file not delivered
  // before (journal).
  enum class Settled {
    kAll,        // each recipient settled for good
    kNotAll,     // some could not be secured: met again
    kStopped,    // the thread is being stopped
    kPostponed,  // a host was busy: the rest comes later
  };
  Settled DeliverAll(const std::string& path, const std::string& content,
                     const std::vector<std::string>& recipients);
  // Remote recipients of the list not in the file's journal.
  std::vector<std::string> PendingRecipients(const std::string& path,
                                             const std::vector<std::string>& recipients);
  // Moves a whole-message file, with its journal, to another folder.
  bool MoveWithJournal(const std::string& from, const std::string& to);
  // Gives a file up: to the bad-mail folder, its sender told why.
  void GiveUp(const std::string& path, const std::string& name, const std::string& recipients,
              const ReportReasons& reasons);
  bool IsLocal(const std::string& recipient) const;

  const RelayVariant& variant_;
  RelayConfig config_;
  // A host still to greet one attempt holds the others back for up to the
  // reply time-out.
  HostHealth host_health_{std::chrono::minutes(2), std::chrono::seconds(config_.relay_timeout)};
  RelayContext context_;
  MxResolver resolver_;
  RecipientDelivery delivery_;
  std::shared_ptr<RelayFileClaims> claims_;
  std::set<std::string> remembered_;  // main relay thread: names seen

  std::mutex work_mu_;
  std::condition_variable work_cv_;
  struct Todo {
    std::string path;
    std::chrono::steady_clock::time_point not_before;
  };
  static constexpr std::chrono::milliseconds kPutOff{200};
  std::deque<Todo> todo_;
  std::set<std::string> handed_;     // in `todo_` or in work
  std::set<std::string> postponed_;  // work files of this thread put off
  std::set<std::string> leftovers_;  // work files found at the start
  int busy_ = 0;
  std::vector<std::thread> workers_;
};

// Delivery workers of the main relay thread.
inline constexpr int kRelayWorkers = 8;

// One relay thread: the worker on a thread of its own, with the socket
// client and the DNS client. Its state lives as long as the thread does,
// also past a stop that gave up waiting for it.
class CRelayThreadBase {
 public:
  CRelayThreadBase(RelayKind kind, RelayConfig config, RelayLogSink log,
                   std::shared_ptr<RelayFileClaims> claims);
  virtual ~CRelayThreadBase();

  void Start();
  // Asks the thread to end; every wait of it ends soon.
  void RequestStop();
  bool WaitEnded(std::chrono::milliseconds limit) const;
  // Ends the thread's ownership here: joins an ended thread, lets one that
  // is still running go on alone. False when it was let go.
  bool Release();

  RelayKind kind() const;
  const RelayThreadStatus& status() const;
  // The minute check gives up on a lookup it restarts the thread for.
  void ClearInLookup();
  uint32_t ThreadId() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

// The four kinds.
class CRelayThread : public CRelayThreadBase {
 public:
  CRelayThread(RelayConfig c, const RelayLogSink& h, std::shared_ptr<RelayFileClaims> f)
      : CRelayThreadBase(RelayKind::kMain, std::move(c), h, std::move(f)) {}
};
class CXRelayThread : public CRelayThreadBase {
 public:
  CXRelayThread(RelayConfig c, const RelayLogSink& h, std::shared_ptr<RelayFileClaims> f)
      : CRelayThreadBase(RelayKind::kX, std::move(c), h, std::move(f)) {}
};
class CYRelayThread : public CRelayThreadBase {
 public:
  CYRelayThread(RelayConfig c, const RelayLogSink& h, std::shared_ptr<RelayFileClaims> f)
      : CRelayThreadBase(RelayKind::kY, std::move(c), h, std::move(f)) {}
};
class CZRelayThread : public CRelayThreadBase {
 public:
  CZRelayThread(RelayConfig c, const RelayLogSink& h, std::shared_ptr<RelayFileClaims> f)
      : CRelayThreadBase(RelayKind::kZ, std::move(c), h, std::move(f)) {}
};
std::unique_ptr<CRelayThreadBase> MakeRelayThread(RelayKind kind, RelayConfig config,
                                                  const RelayLogSink& log,
                                                  std::shared_ptr<RelayFileClaims> claims);

}  // namespace heron
