#include "relay/relay_delivery.h"

#include "platform/text.h"
#include "service/mail_folders.h"

namespace heron {

ReportReasons HostUnknownReasons(const std::string& domain) {
  return {StrPrintf(B5("DNS 查詢失敗：找不到 %s 的郵件主機"), domain.c_str()),
          StrPrintf("Host unknown (Name server: %s: host not found)", domain.c_str())};
}

ReportReasons DnsNoAnswerReasons(const std::string& domain) {
  return {StrPrintf(B5("DNS 查詢沒有回應：暫時無法查詢 %s 的郵件主機，系統稍後自動重試！"),
                    domain.c_str()),
          StrPrintf("DNS lookup got no answer for %s; the relay subsystem will try again later.",
                    domain.c_str())};
}

namespace {

// The reasons of a retry's final failure: the cause, then that it was a retry.
ReportReasons RetryFailed(const ReportReasons& cause) {
  return {cause.chinese + B5("\r\n\r\n嘗試重寄失敗！"), cause.english + "\r\n\r\nRetry fail!"};
}

}  // namespace

RecipientDelivery::RecipientDelivery(const RelayConfig& config, MxResolver& resolver,
                                     RelayTransport& transport, const RelayContext& context)
    : config_(config), resolver_(resolver), transport_(transport), context_(context) {}

std::string RecipientDelivery::BadmailFolder() const {
  return FolderPath(config_.mail_root, kBadmailFolder) + "/";
}

void RecipientDelivery::Report(const std::string& path, const std::string& recipients,
                               ReportReasons reasons) {
  WriteReport(config_.mail_root, path, recipients, reasons, config_.server_id, context_.now());
}

uint64_t RelayThreadStatus::BeginLookup(int64_t now) {
  std::lock_guard<std::mutex> lock(mu_);
  lookups_[++next_] = now;
  return next_;
}

void RelayThreadStatus::EndLookup(uint64_t lookup) {
  std::lock_guard<std::mutex> lock(mu_);
  lookups_.erase(lookup);
}

std::optional<int64_t> RelayThreadStatus::OldestLookup() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::optional<int64_t> oldest;
  for (const auto& [id, start] : lookups_) {
    if (!oldest || start < *oldest) oldest = start;
  }
  return oldest;
}

void RelayThreadStatus::ClearLookups() {
  std::lock_guard<std::mutex> lock(mu_);
  lookups_.clear();
}

MxResolver::Result RecipientDelivery::Resolve(const std::string& domain, std::string& host_list) {
  uint64_t lookup = context_.status ? context_.status->BeginLookup(context_.now()) : 0;
  MxResolver::Result r = resolver_.ResolveMx(domain, host_list);
  if (context_.status) context_.status->EndLookup(lookup);
  // A list without a single host is no host at all.
  if (r == MxResolver::Result::kFound && SplitHostList(host_list).empty()) {
    r = MxResolver::Result::kNoHost;
  }
  return r;
}

AttemptResult RecipientDelivery::TryHosts(const std::string& host_list,
                                          const std::string& recipient, const std::string& content,
                                          std::optional<RecipientOutcome>& outcome) {
  MessageText message = LoadMessageText(content);
  AttemptResult last;
  outcome.reset();
  for (const std::string& host : SplitHostList(host_list)) {
    if (Stopping()) break;
    auto verdict = context_.hosts ? context_.hosts->Admit(host) : HostHealth::Verdict::kTry;
    if (verdict == HostHealth::Verdict::kBusy) {
      outcome = RecipientOutcome::kPostponed;
      return last;
    }
    if (verdict == HostHealth::Verdict::kResting) {
      context_.log(B5("主機最近無法連線，暫不嘗試： ") + host);
      last = {false, 0, B5("無法與遠端伺服器建立連線")};
      continue;
    }
    context_.log(B5("傳遞郵件至 '") + recipient + "' (" + host + ")");
    if (context_.status) context_.status->last_activity = context_.now();
    bool answered = false;
    last = transport_.Attempt(host, message.sender, recipient, message.text, [&] {
      answered = true;
      if (context_.hosts) context_.hosts->Answered(host);
    });
    // No answer at all: the host rests before it is tried again.
    if (context_.hosts) context_.hosts->Finished(host, answered, answered || Stopping());
    if (last.delivered) return last;
  }
  // A stop cuts an attempt short: its failure says nothing of the host.
  if (Stopping()) outcome = RecipientOutcome::kInterrupted;
  return last;
}

RecipientOutcome RecipientDelivery::DeliverToRecipient(const std::string& path,
                                                       const std::string& content,
                                                       const std::string& recipient) {
  std::string domain = ToLowerAscii(GetDomain(recipient));
  std::string host_list;
  auto found = IsUsableDomain(domain) ? Resolve(domain, host_list) : MxResolver::Result::kNoHost;
  // A stop cuts the lookup short: that says nothing of the domain.
  if (Stopping()) return RecipientOutcome::kInterrupted;
  if (found == MxResolver::Result::kTryLater) {
    Report(path, recipient, DnsNoAnswerReasons(domain));
    context_.log(B5("稍後重試..."));
    return RecipientOutcome::kRetryLater;
  }
  if (found == MxResolver::Result::kNoHost) {
    ReportReasons dns = HostUnknownReasons(domain);
    Report(path, recipient, dns);
    context_.log(dns.chinese);
    context_.log(B5("複製訊息到： ") + BadmailFolder());
    return RecipientOutcome::kGivenUp;
  }
  std::optional<RecipientOutcome> unfinished;
  AttemptResult r = TryHosts(host_list, recipient, content, unfinished);
  if (r.delivered) return RecipientOutcome::kDelivered;
  if (unfinished) return *unfinished;
  Report(path, recipient, {r.reply, r.reply});
  if (IsTemporaryFailure(r.code)) {
    context_.log(B5("稍後重試..."));
    return RecipientOutcome::kRetryLater;
  }
  context_.log(B5("複製訊息到： ") + BadmailFolder());
  return RecipientOutcome::kGivenUp;
}

RecipientOutcome RecipientDelivery::RetryRecipient(const std::string& path,
                                                   const std::string& content) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::string recipient = RetryRecipientOf(name);
  std::string domain = ToLowerAscii(GetDomain(recipient));
  std::string host_list;
  auto found = recipient.empty() ? MxResolver::Result::kNoHost : Resolve(domain, host_list);
  if (Stopping()) return RecipientOutcome::kInterrupted;
  if (found == MxResolver::Result::kTryLater) return RecipientOutcome::kRetryLater;
  if (found == MxResolver::Result::kNoHost) {
    // Nothing is given up in silence: the sender learns of it.
    Report(path, recipient, RetryFailed(HostUnknownReasons(domain)));
    context_.log(B5("複製訊息到： ") + BadmailFolder());
    return RecipientOutcome::kGivenUp;
  }
  std::optional<RecipientOutcome> unfinished;
  AttemptResult r = TryHosts(host_list, recipient, content, unfinished);
  if (r.delivered) return RecipientOutcome::kDelivered;
  if (unfinished) return *unfinished;
  if (IsTemporaryFailure(r.code)) return RecipientOutcome::kRetryLater;
  Report(path, recipient, RetryFailed({r.reply, r.reply}));
  context_.log(B5("重寄失敗複製訊息到： ") + BadmailFolder());
  return RecipientOutcome::kGivenUp;
}

}  // namespace heron
