// Delivery of one recipient of one message file: its mail hosts, one
// attempt at each until one takes the message, the report to the sender,
// and the verdict that says where the file goes next.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "relay/host_health.h"
#include "relay/relay_rules.h"
#include "relay/report.h"

namespace heron {

// The settings a relay thread works with, copied when it starts.
struct RelayConfig {
  std::string mail_root;
  std::string helo_name;  // HostName
  std::string dns_server;
  std::string server_id;
  std::vector<std::string> domains;
  std::vector<std::string> mx_records;
  int relay_timeout = 60;  // seconds
  int retry_timeout = 24;  // hours
  int retry_times = 10;
  int max_recipients = 0;
  int scan_interval = 60;  // seconds
  bool domain_as_host = false;
  uint16_t port = 25;  // of every exchanger
};

// What the service's minute check reads of a relay thread: the MX lookups
// in progress (one per delivery worker at most) and the last activity.
class RelayThreadStatus {
 public:
  // A lookup begins at `now` (seconds since 1970); its number ends it.
  uint64_t BeginLookup(int64_t now);
  void EndLookup(uint64_t lookup);
  // The start of the oldest lookup in progress, if any.
  std::optional<int64_t> OldestLookup() const;
  // The minute check gives up on the lookups it restarts the thread for.
  void ClearLookups();

  std::atomic<int64_t> last_activity{0};  // main relay thread

 private:
  mutable std::mutex mu_;
  std::map<uint64_t, int64_t> lookups_;
  uint64_t next_ = 0;
};

// One attempt to hand a message to one host.
struct AttemptResult {
  bool delivered = false;
  int code = 0;       // of the last reply; 0 without one
  std::string reply;  // the last reply, or the client's own failure text
};
class RelayTransport {
 public:
  virtual ~RelayTransport() = default;
  // `answered` is called once, when the host's first reply has come.
  virtual AttemptResult Attempt(const std::string& host, const std::string& sender,
                                const std::string& recipient, const std::string& text,
                                const std::function<void()>& answered) = 0;
};

// What a relay thread gets from its surroundings.
struct RelayContext {
  std::function<void(const std::string&)> log;  // one line, the prefix added
  std::function<std::time_t()> now;
  const std::atomic<bool>* stop = nullptr;
  RelayThreadStatus* status = nullptr;
  HostHealth* hosts = nullptr;  // how exchangers answered lately; null: not kept
};

// Where the file of a recipient goes after an attempt.
enum class RecipientOutcome {
  kDelivered,    // done
  kRetryLater,   // a temporary failure: to the retry folder
  kGivenUp,      // to the bad-mail folder, the sender told
  kInterrupted,  // the thread is being stopped: nothing decided
  kPostponed,    // its host is busy answering another attempt: come back soon
};

class RecipientDelivery {
 public:
  RecipientDelivery(const RelayConfig& config, MxResolver& resolver, RelayTransport& transport,
                    const RelayContext& context);

  // A recipient of a whole-message file (`content` its bytes, `path` where
  // it lies): the first delivery attempt.
  RecipientOutcome DeliverToRecipient(const std::string& path, const std::string& content,
                                      const std::string& recipient);
  // The recipient of a retry file.
  RecipientOutcome RetryRecipient(const std::string& path, const std::string& content);

  // Writes a report about the message to its sender.
  void Report(const std::string& path, const std::string& recipients, ReportReasons reasons);
  std::string BadmailFolder() const;

 private:
  // Resolves the domain with the in-lookup flag set around it.
  MxResolver::Result Resolve(const std::string& domain, std::string& host_list);
  // Tries each host; the last attempt's result when none took the message.
  // `outcome` is set to kInterrupted or kPostponed when the hosts were not
  // all tried.
  AttemptResult TryHosts(const std::string& host_list, const std::string& recipient,
                         const std::string& content, std::optional<RecipientOutcome>& outcome);
  bool Stopping() const { return context_.stop && *context_.stop; }

  const RelayConfig& config_;
  MxResolver& resolver_;
  RelayTransport& transport_;
  RelayContext context_;
};

// The DNS texts of a domain that has no mail host.
ReportReasons HostUnknownReasons(const std::string& domain);
// The texts of a domain whose name server did not answer.
ReportReasons DnsNoAnswerReasons(const std::string& domain);

}  // namespace heron
