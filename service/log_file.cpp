#include "service/log_file.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/message_window.h"
#include "platform/text.h"

namespace heron {
namespace {

void LocalNow(std::tm& t, int& millis) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &t);
  millis = static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace

bool CLogFile::Open(const std::string& name) {
  Close();
  name_ = name;
  fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd_ < 0) {
    ShowMessageBox(StrPrintf(B5("無法建立或開啟檔案： '%s'"), name.c_str()),
                   B5("CLogFile::Open() 發生錯誤"));
    return false;
  }
  return true;
}

void CLogFile::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

CLogFile& CLogFile::Write(std::string_view text) {
  if (fd_ < 0 || !enabled) return *this;
  while (!text.empty()) {
    ssize_t n = write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // a full disk drops the rest of the line
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return *this;
}

CLogFile& CLogFile::WriteDate() {
  std::tm t;
  int ms;
  LocalNow(t, ms);
  return Write(LogDateText(t));
}

CLogFile& CLogFile::WriteTime() {
  std::tm t;
  int ms;
  LocalNow(t, ms);
  return Write(LogTimeText(t, ms));
}

std::string LogDateText(const std::tm& t) {
  return StrPrintf("%02d/%02d/%02d ", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
}

std::string LogTimeText(const std::tm& t, int millis) {
  return StrPrintf("%02d:%02d:%02d.%03d ", t.tm_hour, t.tm_min, t.tm_sec, millis);
}

std::string FormatLogLine(uint32_t thread_id, const std::tm& t, int millis, std::string_view text) {
  std::string line = StrPrintf("[%u]", thread_id);
  line += LogDateText(t);
  line += LogTimeText(t, millis);
  line += EscapeLogText(text);
  line += "\r\n";
  return line;
}

std::string EscapeLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += StrPrintf("\\x%02X", u);
    } else {
      out += c;  // 8-bit Big5 bytes stay as they are
    }
  }
  return out;
}

std::string LogFolder(const LogSettings& s, const std::string& default_folder) {
  std::string folder = s.path.empty() ? default_folder : s.path;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string LogFilePathFor(const LogSettings& s, const std::string& default_folder) {
  return LogFolder(s, default_folder) + "/Mailtrace.log";
}

std::string TraceLog::LogFilePath() const { return LogFilePathFor(settings_, default_folder_); }

std::string ArchiveFolderFor(const LogSettings& s, const std::string& default_folder) {
  return LogFolder(s, default_folder) + "/ArchiveLogs";
}

std::string ArchiveLogName(const std::tm& t, char who) {
  return StrPrintf("%2.2d_%2.2d_%2.2d_%2.2d%2.2d%2.2d_%c.log", t.tm_year + 1900, t.tm_mon + 1,
                   t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, who);
}

std::string TraceLog::ArchiveFolder() const { return ArchiveFolderFor(settings_, default_folder_); }

bool TraceLog::Writes(int level) const {
  return settings_.level >= level && file_.IsOpen() && file_.enabled;
}

void TraceLog::WriteRaw(std::string_view lines) {
  if (!lines.empty() && file_.IsOpen() && file_.enabled) file_.Write(lines);
}

void TraceLog::Log(int level, uint32_t thread_id, std::string_view text) {
  if (!Writes(level)) return;
  std::tm t;
  int ms;
  LocalNow(t, ms);
  // One write per line keeps lines whole for readers of the open file.
  file_.Write(FormatLogLine(thread_id, t, ms, text));
}

void TraceLog::Open() {
  if (settings_.level == 0) return;
  file_.enabled = true;
  file_.Open(LogFilePath());
}

void TraceLog::Marker(const char* big5_text) {
  std::tm t;
  int ms;
  LocalNow(t, ms);
  file_.Write(LogDateText(t) + LogTimeText(t, ms) + big5_text + "\r\n");
}

void TraceLog::DeleteWithRetry(const std::string& path) {
  if (DeleteFile(path) || errno == ENOENT) return;
  if (retry_pause) {
    retry_pause();
  } else {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  DeleteFile(path);
}

bool TraceLog::Archive() {
  if (settings_.level == 0) return false;
  std::string path = LogFilePath();
  auto st = StatFile(path);
  uint64_t size = st ? st->size : 0;
  // 64-bit product: MaxLog of 2048 or more must not overflow.
  int64_t limit = static_cast<int64_t>(settings_.max_log) * 1048576;
  if (static_cast<int64_t>(size) <= limit) return false;

  file_.enabled = false;
  file_.Close();
  std::string folder = ArchiveFolder();
  CreateFolderPath(folder);
  std::tm t;
  int ms;
  LocalNow(t, ms);
  std::string archive = folder + "/" + ArchiveLogName(t, 'A');
  // Without a durable copy the log is kept and written on.
  bool copied = CopyFileDurable(path, archive);
  if (copied) DeleteWithRetry(path);
  file_.enabled = true;
  file_.Open(path);
  if (!copied) {
    Log(1, CurrentThreadId(), StrPrintf(B5("無法封存記錄檔至 '%s'"), archive.c_str()));
    return false;
  }
  Marker(B5("*** 自動封存 ***"));
  return true;
}

void TraceLog::Clear() {
  std::string path = LogFilePath();
  file_.enabled = false;
  file_.Close();
  DeleteWithRetry(path);
  file_.enabled = true;
  file_.Open(path);
  Marker(B5("*** 開新記錄檔 ***"));
}

}  // namespace heron
