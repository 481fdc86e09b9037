#include "applet/applet_rules.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/scm.h"
#include "service/settings.h"
#include "tests/platform/temp_dir.h"

namespace heron::kestrel {
namespace {

std::tm At(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return t;
}

TEST(AppletRulesTest, ServiceStatesAsTheBoxShowsThem) {
  struct Row {
    uint32_t state;
    const char* text;
    BoxState box;
  } rows[] = {
      {kServiceStopped, "已停止", BoxState::kStopped},
      {kServiceStartPending, "正在啟動", BoxState::kPending},
      {kServiceStopPending, "正在停止", BoxState::kPending},
      {kServiceRunning, "執行中", BoxState::kRunning},
      {kServiceContinuePending, "正在繼續", BoxState::kPending},
      {kServicePausePending, "正在暫停", BoxState::kPending},
      {kServicePaused, "已暫停", BoxState::kPending},
      {99, "不明", BoxState::kPending},
  };
  for (const Row& r : rows) {
    ServiceView v = ViewOfServiceState(r.state);
    EXPECT_STREQ(v.status, r.text) << r.state;
    EXPECT_EQ(v.state, r.box) << r.state;
  }
}

TEST(AppletRulesTest, NamesAndTextsMadeFromTheClock) {
  EXPECT_EQ(StartTimeText(At(2026, 12, 6, 17, 5, 9)), "服務開始時間：2026/12/06 -- 17:05:09");
  EXPECT_EQ(BackupFileName(At(2026, 3, 6, 9, 5, 3)), "20260306090503.db");
  EXPECT_EQ(ArchiveLogName(At(2026, 3, 6, 9, 5, 3), 'M'), "2026_03_06_090503_M.log");
}

TEST(AppletRulesTest, VersionReplies) {
  EXPECT_EQ(VersionText("420018"), "4.2.0018");
  struct Row {
    const char* body;
    bool newer;
    const char* shown;
  } rows[] = {
      {"420018", false, "4.2.0018"},
      {"420019\r\n", true, "4.2.0019"},
      {"\n420100 \n", true, "4.2.0100"},
      {"garbage", false, nullptr},
      {"", false, nullptr},
  };
  for (const Row& r : rows) {
    VersionReply v = ReadVersionReply(r.body);
    EXPECT_EQ(v.newer, r.newer) << r.body;
    if (r.shown) {
      EXPECT_EQ(VersionText(v.text), r.shown) << r.body;
    }
  }
}

TEST(AppletRulesTest, NameServerDetection) {
  EXPECT_EQ(ResolvConfServers("# generated\nnameserver 192.168.1.1\n  nameserver\t8.8.4.4 # x\n"
                              "nameservers 1.1.1.1\nsearch example.com\nnameserver ::1\n"),
            (std::vector<std::string>{"192.168.1.1", "8.8.4.4", "::1"}));
  struct Row {
    std::vector<std::string> values;
    const char* found;
  } rows[] = {
      {{"192.168.1.1", "168.95.1.1"}, "168.95.1.1"},
      {{"192.168.1.1", "10.0.0.1", "127.0.0.1", "169.254.3.3", "172.16.0.1"}, ""},
      // The first server of each value keeps its place, later ones go last.
      {{"10.0.0.1,203.0.113.9", "198.51.100.7"}, "198.51.100.7"},
      {{"10.0.0.1 203.0.113.9", "192.168.0.1"}, "203.0.113.9"},
      // Octet by octet: 192.168 needs four parts to be private.
      {{"192.168.1"}, "192.168.1"},
      {{}, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(DetectNameServer(r.values), r.found);
}

TEST(AppletRulesTest, DnsTestDomain) {
  EXPECT_EQ(DnsTestDomain("Bob Smith <Bob@Mail.Example.COM>"), "mail.example.com");
  EXPECT_EQ(DnsTestDomain(" alice@Example.org "), "example.org");
  EXPECT_EQ(DnsTestDomain("Example.NET"), "example.net");
  EXPECT_EQ(DnsTestDomain("<a@b@c.d"), "b@c.d");
}

TEST(AppletRulesTest, PageKeysWrapAndHeaderBand) {
  EXPECT_EQ(PageAfterKey(0, 7, false), 6);  // Page Down on the first page
  EXPECT_EQ(PageAfterKey(6, 7, true), 0);   // Page Up on the last page
  EXPECT_EQ(PageAfterKey(3, 7, true), 4);
  EXPECT_EQ(HeaderBandHeight(32, 2), 60);
  EXPECT_EQ(HeaderBandHeight(48, 2), 70);
  Rgb top = HeaderRowColour(0, 60), bottom = HeaderRowColour(59, 60);
  EXPECT_EQ((std::vector<int>{top.r, top.g, top.b}), (std::vector<int>{78, 178, 255}));
  EXPECT_EQ((std::vector<int>{bottom.r, bottom.g, bottom.b}), (std::vector<int>{182, 215, 255}));
}

TEST(AppletRulesTest, FieldChecksAndDefaults) {
  EXPECT_EQ(RangeMessage(*FindScalarSetting("MaxLog")), "請輸入介於 1 和 1000 之間的整數。");
  const ScalarSetting& id = *FindScalarSetting("ServerID");
  EXPECT_EQ(AppletTextDefault(id), "Heron Mail Server SMTP (4.2)");
  EXPECT_EQ(TextFieldProblem(id, "中文 ok"), "");
  EXPECT_NE(TextFieldProblem(id, "emoji 😀"), "");
  EXPECT_NE(TextFieldProblem(id, std::string(256, 'x')), "");
}

TEST(AppletRulesTest, ArchiveAndClearTheTraceLog) {
  testing::TempDir home(true);
  int asked = 0;
  auto ask = [&] { ++asked; };
  std::tm t = At(2026, 3, 6, 9, 5, 3);
  EXPECT_EQ(ArchiveTraceLog("", t, ask), LogTool::kNoLogPath);
  EXPECT_EQ(ClearTraceLog(home.path(), ask), LogTool::kNoLogFile);

  ASSERT_TRUE(WriteFileAtomic(home.path(), home / "Mailtrace.log", "line\r\n"));
  std::string archive;
  EXPECT_EQ(ArchiveTraceLog(home.path() + "/", t, ask, &archive), LogTool::kDone);
  EXPECT_EQ(archive, home / "ArchiveLogs/2026_03_06_090503_M.log");
  EXPECT_EQ(testing::Contents(archive), "line\r\n");
  EXPECT_FALSE(FileExists(home / "Mailtrace.log"));

  ASSERT_TRUE(WriteFileAtomic(home.path(), home / "Mailtrace.log", "more"));
  EXPECT_EQ(ClearTraceLog(home.path(), ask), LogTool::kDone);
  EXPECT_FALSE(FileExists(home / "Mailtrace.log"));
  // Each done deletion also tells a running service to start a new file.
  EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace heron::kestrel
