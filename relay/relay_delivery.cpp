#include "relay/relay_delivery.h"

#include "platform/text.h"
#include "service/mail_folders.h"

namespace heron {

ReportReasons HostUnknownReasons(const std::string& domain) {
  return {StrPrintf(B5("DNS 查詢失敗：找不到 %s 的郵件主機"), domain.c_str()),
          StrPrintf("Host unknown (Name server: %s: host not found)", domain.c_str())};
}

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

bool RecipientDelivery::Resolve(const std::string& domain, std::string& host_list) {
  if (context_.status) {
    context_.status->lookup_start = context_.now();
    context_.status->in_lookup = true;
  }
  bool found = resolver_.ResolveMx(domain, host_list);
  if (context_.status) context_.status->in_lookup = false;
  return found;
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
  if (!IsUsableDomain(domain) || !Resolve(domain, host_list)) {
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
  if (recipient.empty() || !Resolve(domain, host_list)) {
    // Nothing is given up in silence: the sender learns of it.
    ReportReasons dns = HostUnknownReasons(domain);
    Report(path, recipient,
           {dns.chinese + B5("\r\n\r\n嘗試重寄失敗！"), dns.english + "\r\n\r\nRetry fail!"});
    context_.log(B5("複製訊息到： ") + BadmailFolder());
    return RecipientOutcome::kGivenUp;
  }
  std::optional<RecipientOutcome> unfinished;
  AttemptResult r = TryHosts(host_list, recipient, content, unfinished);
  if (r.delivered) return RecipientOutcome::kDelivered;
  if (unfinished) return *unfinished;
  if (IsTemporaryFailure(r.code)) return RecipientOutcome::kRetryLater;
  Report(path, recipient,
         {r.reply + B5("\r\n\r\n嘗試重寄失敗！"), r.reply + "\r\n\r\nRetry fail!"});
  context_.log(B5("重寄失敗複製訊息到： ") + BadmailFolder());
  return RecipientOutcome::kGivenUp;
}

}  // namespace heron
