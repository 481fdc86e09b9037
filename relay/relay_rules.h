// The relay's rules, without sockets, disk or clock: the four kinds of relay
// thread and what sets them apart, the retry decisions by age and count,
// recipient domains, the message text as it is sent, and the resolution of
// a domain to its mail hosts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

enum class RelayKind { kMain = 0, kX, kY, kZ };
inline constexpr int kRelayKinds = 4;

// What sets one kind of relay thread apart from the others.
struct RelayVariant {
  RelayKind kind;
  const char* name;         // class name, for messages
  const char* scan_folder;  // the folder it reads
  const char* next_folder;  // temporary failures and hand-overs; null: the scan folder
  const char* log_prefix;
  bool continuous;          // watches its folder until stopped; else one pass a start
  bool renames_to_work;     // marks a message it works on with "r_"
  int min_age_minutes;      // younger files are left alone
  bool retry_timeout_test;  // gives up files older than RetryTimeout
  bool retry_times_test;    // gives up files retried more than RetryTimes
  bool recipient_limit;     // MaxRecipients applies
  bool limit_logged;        // ... with a log line
  int hand_over_hours;      // older files go to `next_folder`; 0: never
  bool per_recipient;       // a file holds one recipient (retry files)
};
const RelayVariant& VariantOf(RelayKind kind);

// Ages of files: whole minutes and whole hours since the file got its name
// in its folder.
inline int64_t AgeMinutes(int64_t age_seconds) { return age_seconds / 60; }
inline int64_t AgeHours(int64_t age_seconds) { return age_seconds / 3600; }

// What a pass over a retry folder does with one file, tested in this order.
enum class RetryStep {
  kTooYoung,   // left alone this pass
  kHandOver,   // moved to the next stage under the same name
  kExpired,    // older than RetryTimeout: given up
  kExhausted,  // retried more than RetryTimes: given up
  kRetry,      // one more attempt
};
RetryStep DecideRetry(const RelayVariant& v, int64_t age_seconds, int retry_count,
                      int retry_timeout_hours, int retry_times);
// A whole message in the X folder older than RetryTimeout is given up.
bool IsExpired(int64_t age_seconds, int retry_timeout_hours);

// The domain of a recipient: inside "<" ">" when present, after the first
// "@", trimmed; an address without "@" is its own domain.
std::string GetDomain(std::string_view address);
// False for a domain that cannot be a mail domain: one of the characters
// space ! @ # $ % ^ & * ( ) _ + = | \ / ~ ` ? " { } ' < > , or no ".".
bool IsUsableDomain(std::string_view domain);
// The recipient of a retry file name: between its first "[" and the last
// "]", in angle brackets; empty when the name has none.
std::string RetryRecipientOf(std::string_view file_name);

// A final reply code that asks to try again later. No reply at all (no
// connection, a time-out, a lost connection) is such a failure too.
inline bool IsTemporaryFailure(int code) { return code == 0 || code / 100 == 4; }

// The sender and the text to send after DATA, taken from a message file:
// the "x-sender:" and "x-receiver:" lines of the envelope block at its top
// are left out (the sender read from them), every other line is sent as
// stored, ended by CR LF, whatever line end it had in the file. A line of a
// single "." (only a bare CR or LF can have made one) is sent as "..", so
// the data cannot end early. "\r\n." ends the text: the client adds the last
// CR LF.
struct MessageText {
  std::string sender;
  std::string text;
};
MessageText LoadMessageText(std::string_view content);

// Hosts of a host list: items ended by "|", up to the first empty item; a
// list without "|" is one host.
std::vector<std::string> SplitHostList(std::string_view list);

// The DNS client as the relay uses it: MX answers as texts "preference host".
class MxLookup {
 public:
  enum class Outcome {
    kAnswered,  // `results` hold the answer (maybe none)
    kFailed,    // the lookup could not be made (error text set)
    kNoAnswer,  // no reply came (or the thread is being stopped)
  };
  virtual ~MxLookup() = default;
  virtual Outcome Lookup(const std::string& server, const std::string& domain,
                         std::vector<std::string>& results, std::string& error_text) = 0;
};

// The mail hosts of a domain: from the fixed table (MxRecords, "*" for every
// domain), then the DNS client, whose answers join the table for the life of
// the resolver; with domain-as-host the domain itself when DNS has none.
// Safe for use by several threads.
class MxResolver {
 public:
  MxResolver(std::map<std::string, std::string> fixed, std::string dns_server, bool domain_as_host,
             MxLookup& dns, std::function<void(const std::string&)> log)
      : mx_hosts_(std::move(fixed)),
        dns_server_(std::move(dns_server)),
        domain_as_host_(domain_as_host),
        dns_(dns),
        log_(std::move(log)) {}
  enum class Result {
    kFound,     // `host_list` filled (a host list as above)
    kNoHost,    // no host is known for the domain
    kTryLater,  // the name server did not answer: ask again later
  };
  Result ResolveMx(const std::string& domain, std::string& host_list);

  // MxRecords entries "domain|host": the domain lower-cased as the key.
  static std::map<std::string, std::string> FixedHosts(const std::vector<std::string>& records);

 private:
  Result DomainAsHost(const std::string& domain, std::string& host_list);

  std::mutex mu_;  // the delivery workers of one thread share the table
  std::map<std::string, std::string> mx_hosts_;
  std::string dns_server_;
  bool domain_as_host_;
  MxLookup& dns_;
  std::function<void(const std::string&)> log_;
};

}  // namespace heron
