// The applet's rules that do not need a window: what the service box shows,
// the texts and file names made from the clock, the version check, the name
// server found for the relay page, the DNS test's domain, the field checks,
// the page keys, the header band, and the log tools. Texts are UTF-8; store
// values are Big5.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "service/settings.h"

namespace heron::kestrel {

// --- Service box --------------------------------------------------------
enum class BoxState { kStopped, kRunning, kPending };
struct ServiceView {
  const char* status;
  BoxState state;
};
// The status text and control state of a service state.
ServiceView ViewOfServiceState(uint32_t state);
inline constexpr const char* kNotInstalledText = "尚未安裝";
// The companion service started after and stopped before the mail service.
inline constexpr const char* kMonitorServiceName = "Heron Mail Monitor";

// "服務開始時間：YYYY/MM/DD -- hh:mm:ss"
std::string StartTimeText(const std::tm& t);
// "YYYYMMDDhhmmss.db"
std::string BackupFileName(const std::tm& t);

// --- Version ------------------------------------------------------------
inline constexpr int32_t kOwnVersion = 420018;
inline constexpr int32_t kFirstNewerVersion = 420019;
// The version number's digits shown as "4.2.0018": the first digit, the
// second, and the last four.
std::string VersionText(std::string_view digits);
struct VersionReply {
  bool newer = false;
  std::string text;  // the fetched version, cleaned (line ends as blanks, trimmed)
};
VersionReply ReadVersionReply(std::string_view body);

// --- Name servers -------------------------------------------------------
// The servers of the "nameserver" lines of a resolv.conf, in order.
std::vector<std::string> ResolvConfServers(std::string_view text);
// The first server that is not private among the values (each may hold
// several servers, separated by commas or blanks); empty when none.
std::string DetectNameServer(const std::vector<std::string>& values);
bool IsPrivateServer(std::string_view server);

// The domain of an address typed for the DNS test: inside "<...>" when
// there is one, after the first "@", trimmed, lower case.
std::string DnsTestDomain(std::string_view text);

// The warning of a host name equal to the computer's name.
std::string HostNameWarning(std::string_view name);

// --- Field checks -------------------------------------------------------
// The refusal shown for a number field outside the setting's range.
std::string RangeMessage(const ScalarSetting& setting);
// The refusal of a text field that would not fit, or that has characters
// the store cannot keep; empty when the text is fine.
std::string TextFieldProblem(const ScalarSetting& setting, std::string_view utf8);
// The default the applet shows for a text setting (Big5): its own for
// ServerID, MailFolder and LogPath, the table's for the others.
std::string AppletTextDefault(const ScalarSetting& setting);

// --- Sheet --------------------------------------------------------------
// The page selected by Page Up (next) or Page Down (previous), wrapping.
int PageAfterKey(int current, int count, bool page_up);
struct Rgb {
  int r, g, b;
};
// Colour of row y of a header band of `height` rows.
Rgb HeaderRowColour(int y, int height);
inline constexpr int kHeaderMargin = 10, kHeaderTitleHeight = 18, kHeaderTextHeight = 14;
// Height of the header band.
int HeaderBandHeight(int icon_height, int edge);

// --- Log tools ----------------------------------------------------------
enum class LogTool { kDone, kNoLogPath, kNoLogFile, kCopyFailed };
// The trace log of a LogPath (Big5, as stored).
std::string TraceLogFile(const std::string& log_path);
// Copies the log to ArchiveLogs/<date>_M.log and deletes it, then calls
// `ask_service_to_clear`, so that a running service, which would go on
// writing into the file it holds, starts a new one. Without a good copy the
// log stays.
LogTool ArchiveTraceLog(const std::string& log_path, const std::tm& now,
                        const std::function<void()>& ask_service_to_clear,
                        std::string* archive = nullptr);
// Deletes the log and asks the service to start a new one.
LogTool ClearTraceLog(const std::string& log_path,
                      const std::function<void()>& ask_service_to_clear);
// The message and caption of a log tool's refusal.
const char* LogToolMessage(LogTool result);

}  // namespace heron::kestrel
