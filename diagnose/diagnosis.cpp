#include "diagnose/diagnosis.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>

#include "platform/text.h"

namespace heron::skylark {

namespace {

std::string WithoutLineEnds(std::string_view text) {
  std::string s;
  for (char c : text) {
    if (c != '\r' && c != '\n') s += c;
  }
  return s;
}

// "http://server[:port]/object": false when it cannot be split so.
bool SplitHttpUrl(const std::string& url) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() <= kScheme.size() || !EqualsNoCase(url.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  std::string rest = url.substr(kScheme.size());
  std::string server = rest.substr(0, rest.find_first_of(":/"));
  return !server.empty();
}

}  // namespace

Target ParseCommandLine(const std::vector<std::string>& args) {
  Target t;
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) continue;  // plain: ignored
    if (arg[1] != 'H' && arg[1] != 'h') continue;
    std::string text = arg.substr(2);
    size_t colon = text.find(':');
    if (colon != std::string::npos) text = text.substr(colon + 1);
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    size_t comma = text.find(',');
    t.domain = Trim(text.substr(0, comma));
    t.dns_server = comma == std::string::npos ? std::string() : Trim(text.substr(comma + 1));
  }
  return t;
}

const std::vector<DnsPreset>& DnsPresets() {
  static const std::vector<DnsPreset> presets = {
      {"HiNet DNS (168.95.1.1)", "168.95.1.1"},
      {"HiNet DNS (168.95.192.1)", "168.95.192.1"},
      {"TWNIC Quad101 (101.101.101.101)", "101.101.101.101"},
      {"Google Public DNS (8.8.8.8)", "8.8.8.8"},
  };
  return presets;
}

std::string ChooseDnsServer(const std::string& text) {
  for (const DnsPreset& p : DnsPresets()) {
    if (text == p.name) return p.address;
  }
  return text;
}

bool ResultList::Add(ResultLine line) {
  bool dropped = lines_.size() > kLimit;
  if (dropped) lines_.pop_front();
  lines_.push_back(std::move(line));
  return dropped;
}

ResultLine StepLine(const std::tm& now, Colour colour, std::string_view text) {
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "[%H:%M:%S] ", &now);
  return {WithoutLineEnds(std::string(stamp) + std::string(text)), colour};
}

ResultLine SeparatorLine() { return {std::string(169, '-'), kSeparatorColour}; }

ResultLine PlainLine(Colour colour, std::string_view text) {
  return {WithoutLineEnds(text), colour};
}

std::vector<ResultLine> IntroductionLines() {
  std::vector<ResultLine> lines;
  for (const char* t :
       {"以下工作將協助您執行網域名稱 DNS 設定、內外 IP 對應、以及主機連線等測試工作。",
        "您必須通過所有的測試工作才能接受外部連線、正常收信。",
        "部分的設定可能必須參考網路設備說明書、或洽 ISP、域名註冊商協助完成。"}) {
    lines.push_back(PlainLine(kIntroColour, t));
  }
  lines.push_back(SeparatorLine());
  lines.push_back(PlainLine(kHeadingColour, "工作清單："));
  for (const char* t :
       {"1. 取得真實對外的 IP 位址！", "2. 查詢網域名稱所登錄之所有郵件交換紀錄(MX)",
        "3. 查尋每一筆 MX Record 對應之主機 IP", "4. 比對步驟一所取得之真實 IP ",
        "5. 使用 SMTP 指令，測試 SMTP 之回應能力",
        "6. 根據步驟五之結果，判斷防火牆或寬頻分享器之內外IP設定是否正確"}) {
    lines.push_back(PlainLine(kTaskColour, t));
  }
  lines.push_back(SeparatorLine());
  return lines;
}

std::string PublicAddressFrom(std::string_view body) {
  std::string text(body);
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  for (const std::string& field : SplitText(text, ' ')) {
    if (field.empty()) continue;
    size_t n = 0;
    while (n < field.size() &&
           (std::isdigit(static_cast<unsigned char>(field[n])) || field[n] == ' ' ||
            field[n] == '.' || field[n] == '[' || field[n] == ']')) {
      ++n;
    }
    std::string candidate = Trim(field.substr(0, n));
    in_addr a;
    if (!candidate.empty() && inet_pton(AF_INET, candidate.c_str(), &a) == 1) return candidate;
  }
  return {};
}

SmtpProbeSteps::Action SmtpProbeSteps::OnReply(int code) {
  Action a;
  switch (step_) {
    case 0:
      if (code != 220) {
        a.report = "無效的回應(伺服器名稱無法解析)";
        return a;
      }
      a.send = "HELO " + host_name_;
      a.go_on = true;
      step_ = 1;
      return a;
    case 1:
      if (code != 250) {
        a.report = "無效的回應！";
        return a;
      }
      a.report = " 恭喜您，網路連線正常！";
      a.send = "QUIT";
      a.go_on = true;
      step_ = 6;
      return a;
    default:
      if (code == 221) {
        a.report = "完成！";
        a.close = true;
        finished_ = true;
      }
      return a;
  }
}

namespace {

class Flow {
 public:
  Flow(DiagnosisNet& net, DiagnosisOutput& out) : net_(net), out_(out) {}

  void Step(Colour c, std::string_view text) { out_.Add(StepLine(net_.Now(), c, text)); }
  void Separator() { out_.Add(SeparatorLine()); }
  void Hint(std::string_view text) { out_.Add(PlainLine(kHintColour, text)); }

  bool Run(const std::string& typed_domain, const std::string& dns_text);

 private:
  // Nothing when the probe failed; the address (maybe empty) otherwise.
  std::optional<std::string> PublicAddress();

  DiagnosisNet& net_;
  DiagnosisOutput& out_;
};

class SinkToList : public SmtpSink {
 public:
  explicit SinkToList(Flow& flow) : flow_(flow) {}
  void ShowText(const std::string& text) override { flow_.Step(kDarkGrey, text); }

 private:
  Flow& flow_;
};

std::optional<std::string> Flow::PublicAddress() {
  std::vector<std::string> urls = net_.EchoUrls();
  for (size_t i = 0; i < urls.size() && i < 2; ++i) {
    if (!SplitHttpUrl(urls[i])) return std::nullopt;
    if (auto body = net_.HttpGet(urls[i])) return PublicAddressFrom(*body);
  }
  return std::nullopt;
}

bool Flow::Run(const std::string& typed_domain, const std::string& dns_text) {
  if (typed_domain.empty()) return false;
  Step(kDarkGrey, "開始進行 [ " + typed_domain + " ]之 DNS 與網路設定測試...");
  Separator();
  const std::string domain = ToLowerAscii(typed_domain);

  std::string server = ChooseDnsServer(dns_text);
  if (server.empty()) {
    Step(kRed, "無法取得 DNS 伺服器資料。");
    return false;
  }
  Step(kDarkGrey, "準備連線至 DNS 伺服器 [" + server + "]...");
  Separator();

  MxAnswer mx = net_.QueryMx(server, domain);
  if (!mx.ok) {
    Step(kRed, mx.error);
    Separator();
    return false;
  }
  if (mx.entries.empty()) {
    Step(kRed, "無法取得 MX Record ，請依下列步驟排除。");
    Hint("::: 請切換不同的 DNS 伺服器試試。");
    Hint("::: 請確定您的網際網路連線是否正常。");
    Hint("::: 請確定您已完成DNS 之 MX 紀錄設定。");
    Hint("::: 若您不確定以上問題，請洽網管人員或網域服務供應商協助處理。");
    Separator();
    return false;
  }

  Step(kDarkGrey, "查詢伺服器真實對外 IP 位址...");
  std::optional<std::string> public_address = PublicAddress();
  if (public_address) {
    Step(kTeal, "IP: " + *public_address);
  } else {
    Step(kRed, "IP 解析錯誤...");
    Separator();
  }
  Separator();

  Step(kDarkGrey, "查詢 MX record...");
  std::string matched_line, matched_host;
  const std::string own = Trim(public_address.value_or(""));
  for (const std::string& entry : mx.entries) {
    std::vector<std::string> fields = SplitText(entry, ' ');
    std::string host = fields.size() > 1 ? Trim(fields[1]) : std::string();
    std::string address = host.empty() ? std::string() : net_.ResolveIPv4(host);
    std::string line = entry + " [ " + address + " ]";
    Step(kTeal, line);
    if (address.empty()) Hint("::: 無法解析 IP 位置，請稍後再試或更換 DNS 伺服器IP。");
    if (!address.empty() && EqualsNoCase(address, own)) {
      matched_line = line;  // a later match wins
      matched_host = host;
    }
  }
  Separator();
  if (matched_host.empty()) {
    Step(kRed, "沒有對應這台主機的 MX 紀錄！");
    Hint("::: 寄到 " + domain + " 網域的信件將無法成功傳遞到這台主機！");
    Hint("::: 請檢查網路 IP 設定或修改 " + domain + " 之 DNS 設定！");
    Hint("::: 若您不熟析 IP 與網路設定，請洽網管人員或您的網路業者協助處理。");
    Hint("::: 若您不熟析 DNS 網域設定，請洽域名註冊商協助處理。");
    Separator();
    return false;
  }
  Step(kBlue, "MX 紀錄與 IP 相符。 " + matched_line);
  Separator();
  Step(kDarkGrey, "準備測試SMTP主機連線...");
  Separator();
  SinkToList sink(*this);
  try {
    return net_.ProbeSmtp(matched_host, sink);
  } catch (const std::exception&) {
    Step(kRed, "連線異常...");
    Separator();
    return false;
  }
}

}  // namespace

bool RunDiagnosis(const std::string& domain, const std::string& dns_text, DiagnosisNet& net,
                  DiagnosisOutput& out) {
  Flow flow(net, out);
  return flow.Run(domain, dns_text);
}

std::vector<std::string> EchoServiceUrls() {
  const char* env = std::getenv("HERON_IP_ECHO_URLS");
  if (env && *env) {
    std::vector<std::string> urls;
    for (const std::string& u : SplitText(env, ',')) urls.push_back(Trim(u));
    return urls;
  }
  return {"http://checkip.amazonaws.com/", "http://api.ipify.org/"};
}

}  // namespace heron::skylark
