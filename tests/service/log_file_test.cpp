#include "service/log_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using testing::Contents;

TEST(LogFormatTest, LineHasThreadDateTimeAndCrLf) {
  std::tm t{};
  ASSERT_TRUE(strptime("2026-12-06 17:06:20", "%Y-%m-%d %H:%M:%S", &t));
  EXPECT_EQ(FormatLogLine(2040, t, 123, "text"), "[2040]12/06/2026 17:06:20.123 text\r\n");
  t.tm_mon = 0;
  t.tm_hour = 0;
  EXPECT_EQ(FormatLogLine(1, t, 5, "%s"), "[1]01/06/2026 00:06:20.005 %s\r\n");
  // Outside text can neither end its line nor forge another; Big5 stays.
  EXPECT_EQ(FormatLogLine(1, t, 5, "a\r\n[9]01/06/2026 forged\t\x01\x7f\xA4\xA4"),
            "[1]01/06/2026 00:06:20.005 a\\r\\n[9]01/06/2026 forged\\t\\x01\\x7F\xA4\xA4\r\n");
}

TEST(LogFormatTest, PathUsesDefaultFolderAndDropsTrailingSlashes) {
  TraceLog trace("/data/root/");
  EXPECT_EQ(trace.LogFilePath(), "/data/root/Mailtrace.log");
  trace.set_settings({2, 2, "/var/log/heron//"});
  EXPECT_EQ(trace.LogFilePath(), "/var/log/heron/Mailtrace.log");
  EXPECT_EQ(trace.ArchiveFolder(), "/var/log/heron/ArchiveLogs");
}

class TraceLogTest : public ::testing::Test {
 protected:
  TraceLogTest() {
    trace.retry_pause = [] {};
  }
  void Start(int level, int max_log, const std::string& old_bytes = "") {
    if (!old_bytes.empty()) std::ofstream(log_path, std::ios::binary) << old_bytes;
    trace.set_settings({level, max_log, ""});
    trace.Open();
  }
  // Checks "MM/DD/YYYY hh:mm:ss.mmm <marker>\r\n".
  static void ExpectMarkerLine(const std::string& line, const char* utf8_marker) {
    static const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} )");
    ASSERT_GE(line.size(), 24u) << line;
    EXPECT_TRUE(std::regex_match(line.substr(0, 24), stamp)) << line;
    EXPECT_EQ(line.substr(24), Utf8ToBig5(utf8_marker) + "\r\n");
  }

  testing::TempDir dir;
  std::string log_path = dir / "Mailtrace.log";
  TraceLog trace{dir.path()};
};

TEST_F(TraceLogTest, LevelFiltersLinesAndTextIsLiteral) {
  Start(1, 2);
  ASSERT_TRUE(trace.IsOpen());
  trace.Log(1, 77, "first 100% %s %n");
  trace.Log(2, 77, "second");
  trace.Close();
  std::string s = Contents(log_path);
  EXPECT_TRUE(
      std::regex_match(s, std::regex(R"(\[77\]\d\d/\d\d/\d{4} [\d:.]{12} first 100% %s %n\r\n)")))
      << s;
}

TEST_F(TraceLogTest, ArchiveMovesTheLogAside) {
  const std::string old_bytes("old line\r\n\0binary\xFF", 19);
  Start(2, 0, old_bytes);
  ASSERT_TRUE(trace.Archive());
  auto archived = ListFolder(trace.ArchiveFolder());
  ASSERT_EQ(archived.size(), 1u);
  EXPECT_TRUE(std::regex_match(archived[0].name, std::regex(R"(\d{4}_\d\d_\d\d_\d{6}_A\.log)")))
      << archived[0].name;
  EXPECT_EQ(Contents(trace.ArchiveFolder() + "/" + archived[0].name), old_bytes);
  ExpectMarkerLine(Contents(log_path), "*** 自動封存 ***");

  trace.Log(2, 3, "after");
  EXPECT_NE(Contents(log_path).find("after\r\n"), std::string::npos);
}

TEST_F(TraceLogTest, SmallLogIsNotArchived) {
  for (int max_log : {2, 2048, 4096}) {  // 2048 and 4096 overflow 32 bits
    Start(2, max_log, "small\r\n");
    EXPECT_FALSE(trace.Archive()) << max_log;
    trace.Close();
  }
  EXPECT_FALSE(FileExists(trace.ArchiveFolder()));
  EXPECT_EQ(Contents(log_path), "small\r\n");
}

TEST_F(TraceLogTest, FailedArchiveKeepsTheLog) {
  std::ofstream(dir / "ArchiveLogs") << "a file, not a folder";
  Start(2, 0, "old\r\n");
  EXPECT_FALSE(trace.Archive());
  trace.Log(1, 9, "still here");
  std::string s = Contents(log_path);
  EXPECT_EQ(s.substr(0, 5), "old\r\n");
  EXPECT_NE(s.find(Utf8ToBig5("無法封存記錄檔至")), std::string::npos) << s;
  EXPECT_NE(s.find("still here\r\n"), std::string::npos) << s;
  EXPECT_EQ(Contents(dir / "ArchiveLogs"), "a file, not a folder");
}

TEST_F(TraceLogTest, LevelZeroWritesNothingButClearStartsAFile) {
  Start(0, 0);
  EXPECT_FALSE(trace.IsOpen());
  trace.Log(0, 1, "x");
  EXPECT_FALSE(trace.Archive());
  EXPECT_FALSE(FileExists(log_path));
  std::ofstream(log_path) << "old contents\r\n";
  trace.Clear();
  ExpectMarkerLine(Contents(log_path), "*** 開新記錄檔 ***");
}

}  // namespace
}  // namespace heron
