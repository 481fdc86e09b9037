// The trace log: the writer of Mailtrace.log and the log operations of the
// service (level filter, archiving by size, clearing on request).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace heron {

// The file writer. Writes are dropped while no file is open or the writer
// is disabled.
class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile() { Close(); }
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // Opens (creating when missing) for appending. On failure reports
  // "無法建立或開啟檔案： '<name>'" and stays without a file.
  bool Open(const std::string& name);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  CLogFile& Write(std::string_view text);
  CLogFile& WriteDate();
  CLogFile& WriteTime();
  CLogFile& WriteCrLf() { return Write("\r\n"); }

  bool enabled = true;

 private:
  int fd_ = -1;
  std::string name_;
};

// "MM/DD/YYYY " and "hh:mm:ss.mmm " of a local time.
std::string LogDateText(const std::tm& t);
std::string LogTimeText(const std::tm& t, int millis);
// The text with CR, LF, TAB and other control bytes written as \r, \n, \t
// and \xNN, so that no outside text can end a line or forge another; 8-bit
// bytes stay as they are.
std::string EscapeLogText(std::string_view text);
// One whole log line: "[tid]" date time text (escaped) CR LF.
std::string FormatLogLine(uint32_t thread_id, const std::tm& t, int millis, std::string_view text);

// The defaults are those of the settings table.
struct LogSettings {
  int32_t level = 0;    // LogLevel
  int32_t max_log = 0;  // MaxLog, MiB
  std::string path;     // LogPath; empty = the data root
  bool operator==(const LogSettings&) const = default;
};

// Folder of the log (LogPath, or `default_folder` when it is empty) without
// trailing separators, and the log file in it.
std::string LogFolder(const LogSettings& s, const std::string& default_folder);
std::string LogFilePathFor(const LogSettings& s, const std::string& default_folder);
// The archive folder beside the log, and the name of an archive made at `t`
// ("YYYY_MM_DD_hhmmss_<who>.log"; the service archives with 'A', the applet
// with 'M').
std::string ArchiveFolderFor(const LogSettings& s, const std::string& default_folder);
std::string ArchiveLogName(const std::tm& t, char who);

// The log operations of the service; all run on the service's main thread.
class TraceLog {
 public:
  // Folder used when LogPath is empty.
  explicit TraceLog(std::string default_folder) : default_folder_(std::move(default_folder)) {}

  void set_settings(const LogSettings& s) { settings_ = s; }
  const LogSettings& settings() const { return settings_; }

  std::string LogFilePath() const;
  std::string ArchiveFolder() const;

  // Writes one line when LogLevel >= level. The text is written literally.
  void Log(int level, uint32_t thread_id, std::string_view text);
  // Whether a line of the level is written now.
  bool Writes(int level) const;
  // Writes formatted lines as they are, when the file is open.
  void WriteRaw(std::string_view lines);
  // OpenTraceLog: when LogLevel is not 0, enables and opens the log file.
  void Open();
  void Close() { file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }
  // Archives the file when it is larger than MaxLog MiB. The log is deleted
  // only after a good copy exists. Returns true when it archived.
  bool Archive();
  // Deletes the file and starts a new one with a marker line, whatever the
  // level.
  void Clear();

  // Pause used between two delete attempts (tests shorten it).
  std::function<void()> retry_pause;

 private:
  void Marker(const char* big5_text);
  void DeleteWithRetry(const std::string& path);

  std::string default_folder_;
  LogSettings settings_;
  CLogFile file_;
};

}  // namespace heron
