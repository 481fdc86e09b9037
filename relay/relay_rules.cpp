#include "relay/relay_rules.h"

#include "platform/text.h"
#include "service/address.h"
#include "service/mail_folders.h"

namespace heron {

const RelayVariant& VariantOf(RelayKind kind) {
  // kind, class, scan, next, prefix, continuous, work prefix, min age,
  // RetryTimeout, RetryTimes, MaxRecipients, limit logged, hand-over hours,
  // per recipient
  static const RelayVariant kVariants[kRelayKinds] = {
      {RelayKind::kMain, "CRelayThread", kQueueFolder, kYQueueFolder, "<RELAY> ", true, true, 0,
       false, false, true, true, 0, false},
      {RelayKind::kX, "CXRelayThread", kXQueueFolder, kYQueueFolder, "<RELAY2> ", false, false, 0,
       true, false, true, false, 0, false},
      {RelayKind::kY, "CYRelayThread", kYQueueFolder, kZQueueFolder, "<RETRY> ", false, false, 5,
       true, true, false, false, 2, true},
      {RelayKind::kZ, "CZRelayThread", kZQueueFolder, nullptr, "<RETRY> ", false, false, 5, true,
       true, false, false, 0, true},
  };
  return kVariants[static_cast<int>(kind)];
}

RetryStep DecideRetry(const RelayVariant& v, int64_t age_seconds, int retry_count,
                      int retry_timeout_hours, int retry_times) {
  if (AgeMinutes(age_seconds) < v.min_age_minutes) return RetryStep::kTooYoung;
  if (v.hand_over_hours > 0 && AgeHours(age_seconds) >= v.hand_over_hours) {
    return RetryStep::kHandOver;
  }
  if (v.retry_timeout_test && IsExpired(age_seconds, retry_timeout_hours)) {
    return RetryStep::kExpired;
  }
  if (v.retry_times_test && retry_count > retry_times) return RetryStep::kExhausted;
  return RetryStep::kRetry;
}

bool IsExpired(int64_t age_seconds, int retry_timeout_hours) {
  return AgeHours(age_seconds) > retry_timeout_hours;
}

std::string GetDomain(std::string_view address) {
  std::string_view a = address;
  if (size_t lt = a.find('<'); lt != std::string_view::npos) {
    a = a.substr(lt + 1);
    if (size_t gt = a.find('>'); gt != std::string_view::npos) a = a.substr(0, gt);
  }
  if (size_t at = a.find('@'); at != std::string_view::npos) a = a.substr(at + 1);
  return Trim(a);
}

bool IsUsableDomain(std::string_view domain) {
  static constexpr std::string_view kUnusable = " !@#$%^&*()_+=|\\/~`?\"{}'<>,";
  return domain.find_first_of(kUnusable) == std::string_view::npos &&
         domain.find('.') != std::string_view::npos;
}

std::string RetryRecipientOf(std::string_view file_name) {
  size_t open = file_name.find('[');
  size_t close = file_name.rfind(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
  std::string recipient = "<";
  recipient.append(file_name.substr(open + 1, close - open - 1));
  recipient += '>';
  return recipient;
}

MessageText LoadMessageText(std::string_view content) {
  MessageText out;
  out.text.reserve(content.size() + 8);
  bool envelope = true;
  size_t pos = 0;
  while (pos < content.size()) {
    // A line ends at CR LF, LF or CR.
    size_t end = content.find_first_of("\r\n", pos);
    std::string_view line = content.substr(pos, end == std::string_view::npos ? end : end - pos);
    pos = end == std::string_view::npos ? content.size()
          : content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n' ? end + 2
                                                                                         : end + 1;
    if (envelope) {
      if (StartsWithNoCase(line, "x-receiver:")) continue;
      if (StartsWithNoCase(line, "x-sender:")) {
        out.sender = Trim(line.substr(9));
        continue;
      }
      envelope = false;
    }
    if (line == ".") out.text += '.';
    out.text.append(line);
    out.text += "\r\n";
  }
  out.text += "\r\n.";
  return out;
}

std::vector<std::string> SplitHostList(std::string_view list) {
  std::vector<std::string> hosts;
  if (list.find('|') == std::string_view::npos) {
    if (!list.empty()) hosts.emplace_back(list);
    return hosts;
  }
  size_t start = 0;
  while (start < list.size()) {
    size_t bar = list.find('|', start);
    std::string_view item = list.substr(start, bar == std::string_view::npos ? bar : bar - start);
    if (item.empty()) break;
    hosts.emplace_back(item);
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return hosts;
}

std::map<std::string, std::string> MxResolver::FixedHosts(const std::vector<std::string>& records) {
  std::map<std::string, std::string> hosts;
  for (const std::string& entry : records) {
    size_t bar = entry.find('|');
    if (bar == std::string::npos) continue;
    hosts[ToLowerAscii(entry.substr(0, bar))] = entry.substr(bar + 1);
  }
  return hosts;
}

MxResolver::Result MxResolver::DomainAsHost(const std::string& domain, std::string& host_list) {
  if (!domain_as_host_) return Result::kNoHost;
  host_list = domain;
  log_(B5("以網域名稱作為主機名稱直接傳遞"));
  return Result::kFound;
}

MxResolver::Result MxResolver::ResolveMx(const std::string& domain, std::string& host_list) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!mx_hosts_.empty()) {
      auto it = mx_hosts_.find(domain);
      if (it == mx_hosts_.end()) it = mx_hosts_.find("*");
      if (it != mx_hosts_.end()) {
        host_list = it->second;
        return Result::kFound;
      }
    }
  }
  std::vector<std::string> results;
  std::string error;
  MxLookup::Outcome outcome;
  try {
    outcome = dns_.Lookup(dns_server_, domain, results, error);
  } catch (const std::exception& e) {
    log_("'" + domain + B5("' DNS 查詢失敗：  ") + e.what());
    return Result::kNoHost;
  }
  switch (outcome) {
    case MxLookup::Outcome::kFailed:
      log_("'" + domain + B5("' DNS 查詢失敗：  ") + error);
      return DomainAsHost(domain, host_list);
    case MxLookup::Outcome::kNoAnswer:
      // A lost datagram or a name server that is down says nothing of the
      // domain.
      log_("'" + domain + B5("' DNS 查詢沒有回應，稍後重試"));
      return Result::kTryLater;
    case MxLookup::Outcome::kAnswered:
      break;
  }
  if (results.empty()) {
    log_("'" + domain + B5("' DNS 查詢失敗！"));
    return DomainAsHost(domain, host_list);
  }
  host_list.clear();
  for (const std::string& r : results) {
    size_t space = r.find(' ');
    host_list += (space == std::string::npos ? r : r.substr(space + 1)) + "|";
  }
  std::lock_guard<std::mutex> lock(mu_);
  mx_hosts_[domain] = host_list;
  return Result::kFound;
}

}  // namespace heron
