#include "applet/applet_rules.h"

#include <algorithm>
#include <cstdlib>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "service/log_file.h"

namespace heron::kestrel {

ServiceView ViewOfServiceState(uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return {"已停止", BoxState::kStopped};
    case kServiceStartPending:
      return {"正在啟動", BoxState::kPending};
    case kServiceStopPending:
      return {"正在停止", BoxState::kPending};
    case kServiceRunning:
      return {"執行中", BoxState::kRunning};
    case kServiceContinuePending:
      return {"正在繼續", BoxState::kPending};
    case kServicePausePending:
      return {"正在暫停", BoxState::kPending};
    case kServicePaused:
      return {"已暫停", BoxState::kPending};
    default:
      return {"不明", BoxState::kPending};
  }
}

std::string StartTimeText(const std::tm& t) {
  return std::string("服務開始時間：") + StrPrintf("%2.2d/%2.2d/%2.2d -- %2.2d:%2.2d:%2.2d",
                                                   t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                                   t.tm_hour, t.tm_min, t.tm_sec);
}

std::string BackupFileName(const std::tm& t) {
  return StrPrintf("%2.2d%2.2d%2.2d%2.2d%2.2d%2.2d.db", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                   t.tm_hour, t.tm_min, t.tm_sec);
}

std::string VersionText(std::string_view digits) {
  std::string d(digits);
  std::string first = d.substr(0, 1);
  std::string second = d.size() > 1 ? d.substr(1, 1) : std::string();
  std::string last = d.size() > 4 ? d.substr(d.size() - 4) : d;
  std::string text = first;
  text.append(".").append(second).append(".").append(last);
  return text;
}

VersionReply ReadVersionReply(std::string_view body) {
  std::string text(body);
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  VersionReply reply;
  reply.text = Trim(text);
  reply.newer = std::atol(reply.text.c_str()) >= kFirstNewerVersion;
  return reply;
}

std::vector<std::string> ResolvConfServers(std::string_view text) {
  std::vector<std::string> servers;
  for (const std::string& raw : SplitText(std::string(text), '\n')) {
    std::string line = Trim(raw);
    constexpr std::string_view kKey = "nameserver";
    if (line.size() <= kKey.size() || line.compare(0, kKey.size(), kKey) != 0) continue;
    if (line[kKey.size()] != ' ' && line[kKey.size()] != '\t') continue;
    std::string server = Trim(line.substr(kKey.size()));
    size_t end = server.find_first_of(" \t#;");
    if (end != std::string::npos) server.resize(end);
    if (!server.empty()) servers.push_back(server);
  }
  return servers;
}

bool IsPrivateServer(std::string_view server) {
  if (server.empty() || server == "127.0.0.1") return true;
  static const char* const kPatterns[] = {"10.*.*.*", "172.*.*.*", "192.168.*.*", "169.254.*.*"};
  std::vector<std::string> parts = SplitText(std::string(server), '.');
  for (const char* pattern : kPatterns) {
    std::vector<std::string> want = SplitText(pattern, '.');
    if (want.size() != parts.size()) continue;
    bool match = true;
    for (size_t i = 0; i < want.size() && match; ++i) {
      match = want[i] == "*" || want[i] == parts[i];
    }
    if (match) return true;
  }
  return false;
}

std::string DetectNameServer(const std::vector<std::string>& values) {
  // The first server of each value keeps its place; further ones follow
  // after all the values.
  std::vector<std::string> servers, later;
  for (const std::string& value : values) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : value + ",") {
      if (c == ',' || c == ' ') {
        if (!part.empty()) parts.push_back(part);
        part.clear();
      } else {
        part += c;
      }
    }
    if (parts.empty()) continue;
    servers.push_back(parts[0]);
    later.insert(later.end(), parts.begin() + 1, parts.end());
  }
  servers.insert(servers.end(), later.begin(), later.end());
  for (const std::string& s : servers) {
    if (!IsPrivateServer(s)) return s;
  }
  return {};
}

std::string DnsTestDomain(std::string_view text) {
  std::string s(text);
  size_t lt = s.find('<');
  if (lt != std::string::npos) {
    s = s.substr(lt + 1);
    size_t gt = s.find('>');
    if (gt != std::string::npos) s.resize(gt);
  }
  size_t at = s.find('@');
  if (at != std::string::npos) s = s.substr(at + 1);
  return ToLowerAscii(Trim(s));
}

std::string HostNameWarning(std::string_view name) {
  std::string text = "您目前使用電腦名稱 [ ";
  text.append(name).append(" ] 作為郵件主機名稱。\r\n\r\n");
  text.append("建議改成真正的郵件主機網址，以免被當作垃圾郵件主機！");
  return text;
}

std::string RangeMessage(const ScalarSetting& setting) {
  return StrPrintf("請輸入介於 %d 和 %d 之間的整數。", setting.min, setting.max);
}

std::string TextFieldProblem(const ScalarSetting& setting, std::string_view utf8) {
  std::string big5 = Utf8ToBig5(utf8);
  if (Big5ToUtf8(big5) != utf8) return "此欄位含有無法儲存的字元。";
  if (big5.size() > setting.max_length) {
    return StrPrintf("此欄位最多只能輸入 %zu 個位元組。", setting.max_length);
  }
  return {};
}

std::string AppletTextDefault(const ScalarSetting& setting) {
  std::string_view name = setting.name;
  if (EqualsNoCase(name, "ServerID")) return B5("Heron Mail Server SMTP (4.2)");
  // The design's "C:\Mailboxes", under the data root.
  if (EqualsNoCase(name, "MailFolder") || EqualsNoCase(name, "LogPath")) {
    return TrimTrailingSlashes(DefaultMailFolder());
  }
  return setting.TextDefault();
}

int PageAfterKey(int current, int count, bool page_up) {
  if (count <= 0) return current;
  return page_up ? (current + 1) % count : (current + count - 1) % count;
}

Rgb HeaderRowColour(int y, int height) {
  constexpr Rgb kTop{78, 178, 255}, kBottom{184, 216, 255};
  if (height <= 0) return kTop;
  auto mix = [&](int top, int bottom) { return top + (bottom - top) * y / height; };
  return {mix(kTop.r, kBottom.r), mix(kTop.g, kBottom.g), mix(kTop.b, kBottom.b)};
}

int HeaderBandHeight(int icon_height, int edge) {
  int by_icon = kHeaderMargin * 2 + edge + icon_height;
  int by_text = kHeaderMargin * 2 + edge + kHeaderTitleHeight + kHeaderTextHeight + 2;
  return std::max({60, by_icon, by_text});
}

std::string TraceLogFile(const std::string& log_path) {
  LogSettings s;
  s.path = log_path;
  return LogFilePathFor(s, HeronHome());
}

namespace {

LogTool CheckLog(const std::string& log_path) {
  if (log_path.empty()) return LogTool::kNoLogPath;
  if (!FileExists(TraceLogFile(log_path))) return LogTool::kNoLogFile;
  return LogTool::kDone;
}

// A running service keeps writing into the file it holds open, also once
// the file is gone from its folder: it is told every time, so that it starts
// a new file (a service that does not run hears nothing).
void DeleteAndTell(const std::string& file, const std::function<void()>& ask) {
  DeleteFile(file);
  if (ask) ask();
}

}  // namespace

LogTool ArchiveTraceLog(const std::string& log_path, const std::tm& now,
                        const std::function<void()>& ask_service_to_clear, std::string* archive) {
  LogTool check = CheckLog(log_path);
  if (check != LogTool::kDone) return check;
  LogSettings s;
  s.path = log_path;
  std::string folder = ArchiveFolderFor(s, HeronHome());
  CreateFolderPath(folder);
  std::string target = folder + "/" + ArchiveLogName(now, 'M');
  std::string log = TraceLogFile(log_path);
  if (archive) *archive = target;
  // The log goes only once a copy of it is safe.
  if (!CopyFileDurable(log, target)) return LogTool::kCopyFailed;
  DeleteAndTell(log, ask_service_to_clear);
  return LogTool::kDone;
}

LogTool ClearTraceLog(const std::string& log_path,
                      const std::function<void()>& ask_service_to_clear) {
  LogTool check = CheckLog(log_path);
  if (check == LogTool::kDone) DeleteAndTell(TraceLogFile(log_path), ask_service_to_clear);
  return check;
}

const char* LogToolMessage(LogTool result) {
  switch (result) {
    case LogTool::kNoLogPath:
      return "找不到記錄檔路徑！";
    case LogTool::kNoLogFile:
      return "找不到記錄檔！";
    case LogTool::kCopyFailed:
      return "無法建立封存檔，記錄檔未變更！";
    case LogTool::kDone:
      break;
  }
  return "";
}

}  // namespace heron::kestrel
