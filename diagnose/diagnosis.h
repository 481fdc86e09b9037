// The mail-host diagnosis without windows or sockets: the command line, the
// DNS presets, the result list with its colours, the public-address reply,
// the SMTP probe's steps and the whole flow. The network is reached through
// DiagnosisNet; the dialog and the text mode only show the lines.
#pragma once

#include <atomic>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron::skylark {

struct Colour {
  int r, g, b;
  bool operator==(const Colour&) const = default;
};
inline constexpr Colour kDarkGrey{40, 40, 40}, kRed{255, 0, 0}, kTeal{0, 128, 128},
    kBlue{0, 0, 255}, kSeparatorColour{128, 128, 255}, kHintColour{128, 128, 0},
    kIntroColour{0, 0, 255}, kHeadingColour{23, 23, 23}, kTaskColour{0, 128, 128};

// --- Command line ---------------------------------------------------------
struct Target {
  std::string domain, dns_server;
};
// The "/H:domain,server" switch ("H" or "h", ":" optional, quotes removed);
// other switches and plain arguments are ignored.
Target ParseCommandLine(const std::vector<std::string>& args);

// --- DNS presets ------------------------------------------------------------
struct DnsPreset {
  const char* name;
  const char* address;
};
const std::vector<DnsPreset>& DnsPresets();
// The preset's address when `text` is exactly a preset's name, else `text`.
std::string ChooseDnsServer(const std::string& text);

// --- Result list ------------------------------------------------------------
struct ResultLine {
  std::string text;  // UTF-8, without line ends
  Colour colour;
};
// Holds the lines as the dialog shows them: when it already holds more than
// 250, the oldest goes before a new one comes.
class ResultList {
 public:
  static constexpr size_t kLimit = 250;
  // True when the oldest line was dropped to make room.
  bool Add(ResultLine line);
  const std::deque<ResultLine>& lines() const { return lines_; }

 private:
  std::deque<ResultLine> lines_;
};
// The line kinds, formatted as the list shows them.
ResultLine StepLine(const std::tm& now, Colour colour, std::string_view text);
ResultLine SeparatorLine();
ResultLine PlainLine(Colour colour, std::string_view text);

// The lines written when the dialog opens.
std::vector<ResultLine> IntroductionLines();

// --- Public address ---------------------------------------------------------
// The first dotted IPv4 address in an echo service's reply; empty if none.
std::string PublicAddressFrom(std::string_view body);

// --- SMTP probe -------------------------------------------------------------
// The probe's conversation as a step table: greeting (0), HELO (1), QUIT (6).
class SmtpProbeSteps {
 public:
  explicit SmtpProbeSteps(std::string host_name) : host_name_(std::move(host_name)) {}
  struct Action {
    std::string send;    // a command, sent with CR LF and then reported
    std::string report;  // a line for the list, before the command
    bool close = false;  // close the connection
    bool go_on = false;  // read the next reply
  };
  Action OnReply(int code);
  int step() const { return step_; }
  bool finished() const { return finished_; }  // "完成！" was reported

 private:
  std::string host_name_;
  int step_ = 0;
  bool finished_ = false;
};

// What the socket reports (shown as dark grey step lines).
class SmtpSink {
 public:
  virtual ~SmtpSink() = default;
  virtual void ShowText(const std::string& text) = 0;
  virtual void Connected() {}
  virtual void Closed() {}
};

// --- The flow ---------------------------------------------------------------
struct MxAnswer {
  bool ok = false;
  std::string error;                 // UTF-8, when not ok
  std::vector<std::string> entries;  // "preference host"
};

class DiagnosisNet {
 public:
  virtual ~DiagnosisNet() = default;
  virtual MxAnswer QueryMx(const std::string& server, const std::string& domain) = 0;
  // The body of an HTTP GET, or nothing when anything failed.
  virtual std::optional<std::string> HttpGet(const std::string& url) = 0;
  // The host's first IPv4 address, dotted; empty when it does not resolve.
  virtual std::string ResolveIPv4(const std::string& host) = 0;
  // Runs the SMTP probe against port 25 of the host; true when it ended with
  // "完成！". Throws when anything raised an error.
  virtual bool ProbeSmtp(const std::string& host, SmtpSink& sink) = 0;
  // The two echo services, in order.
  virtual std::vector<std::string> EchoUrls() = 0;
  virtual std::tm Now() = 0;
};

class DiagnosisOutput {
 public:
  virtual ~DiagnosisOutput() = default;
  virtual void Add(const ResultLine& line) = 0;
};

// Runs the diagnosis of one press of the start button; true when the SMTP
// probe ended with "完成！".
bool RunDiagnosis(const std::string& domain, const std::string& dns_text, DiagnosisNet& net,
                  DiagnosisOutput& out);

// The echo services (HERON_IP_ECHO_URLS, two addresses separated by a
// comma, else the built-in ones).
std::vector<std::string> EchoServiceUrls();

}  // namespace heron::skylark
