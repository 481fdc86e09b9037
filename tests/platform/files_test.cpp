#include "platform/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "platform/guid.h"
#include "platform/text.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using testing::Contents;

TEST(FilesTest, WriteFileAtomicLeavesExactBytesAndNoTemporary) {
  testing::TempDir dir;
  const std::string data("line\r\n\0\xFF end", 12);
  ASSERT_TRUE(WriteFileAtomic(dir / "tmp", dir / "out", data));
  EXPECT_EQ(Contents(dir / "out"), data);
  EXPECT_TRUE(ListFolder(dir / "tmp").empty());
  ASSERT_TRUE(WriteFileAtomic(dir / "tmp", dir / "out", "short"));
  EXPECT_EQ(Contents(dir / "out"), "short");
  EXPECT_FALSE(WriteFileAtomic(dir / "tmp", dir / "no/such/out", data));
  EXPECT_TRUE(ListFolder(dir / "tmp").empty());
}

TEST(FilesTest, CopyFileDurableCopiesExactly) {
  testing::TempDir dir;
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
  std::ofstream(dir / "src", std::ios::binary) << data;
  std::ofstream(dir / "dst") << "previous";
  ASSERT_TRUE(CopyFileDurable(dir / "src", dir / "dst"));
  EXPECT_EQ(Contents(dir / "dst"), data);
  EXPECT_EQ(ListFolder(dir.path()).size(), 2u);  // no temporary left beside it
  EXPECT_FALSE(CopyFileDurable(dir / "missing", dir / "new"));
  EXPECT_FALSE(FileExists(dir / "new"));
}

TEST(FilesTest, ReadFileTailDropsTheFirstByteOfWhatItTakes) {
  testing::TempDir dir;
  ASSERT_TRUE(WriteFileAtomic(dir.path(), dir / "log", "0123456789"));
  std::string out;
  struct Case {
    size_t limit;
    std::string tail;
  } cases[] = {{4, "789"}, {10, "123456789"}, {11, "123456789"}, {100, "123456789"}, {0, ""}};
  for (const Case& c : cases) {
    ASSERT_TRUE(ReadFileTail(dir / "log", c.limit, out)) << c.limit;
    EXPECT_EQ(out, c.tail) << c.limit;
  }
  EXPECT_FALSE(ReadFileTail(dir / "missing", 10, out));
}

TEST(FilesTest, FindChildNoCasePrefersExactName) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateFolderPath(dir / "Bob"));
  EXPECT_EQ(FindChildNoCase(dir.path(), "BOB"), "Bob");
  EXPECT_EQ(FindChildNoCase(dir.path(), "bob"), "Bob");
  EXPECT_EQ(FindChildNoCase(dir.path(), "Bobby"), std::nullopt);
  ASSERT_TRUE(CreateFolderPath(dir / "bob"));
  ASSERT_TRUE(CreateFolderPath(dir / "BOB"));
  for (const char* name : {"Bob", "bob", "BOB"}) EXPECT_EQ(FindChildNoCase(dir.path(), name), name);
  EXPECT_EQ(FindChildNoCase(dir / "missing", "x"), std::nullopt);
}

TEST(FilesTest, SafePathNames) {
  for (const char* bad : {"", ".", "..", ".hidden", "a/b", "a\001b", "tab\there", "del\x7F"})
    EXPECT_FALSE(IsSafePathName(bad)) << bad;
  EXPECT_FALSE(IsSafePathName(std::string("a\0b", 3)));
  for (const char* good : {"bob", "Bob.Smith", "a..b", "\xA4\xA4"})
    EXPECT_TRUE(IsSafePathName(good));
}

TEST(FilesTest, GuidsAreRandomUpperHex) {
  const std::regex form("[0-9A-F]{12}4[0-9A-F]{3}[89AB][0-9A-F]{15}");
  std::string a = NewGuidHex(), b = NewGuidHex();
  EXPECT_TRUE(std::regex_match(a, form)) << a;
  EXPECT_TRUE(std::regex_match(b, form)) << b;
  EXPECT_NE(a, b);
}

TEST(FilesTest, CreateFolderPathMakesEveryLevel) {
  testing::TempDir dir;
  ASSERT_TRUE(CreateFolderPath(dir / "a/b/c/"));
  auto st = StatFile(dir / "a/b/c");
  ASSERT_TRUE(st.has_value());
  EXPECT_TRUE(st->is_dir);
  EXPECT_TRUE(CreateFolderPath(dir / "a/b"));
  std::ofstream(dir / "file") << "x";
  EXPECT_FALSE(CreateFolderPath(dir / "file/sub"));
  EXPECT_FALSE(CreateFolderPath(dir / "file"));
  EXPECT_EQ(TrimTrailingSlashes("/a/b//"), "/a/b");
  EXPECT_EQ(TrimTrailingSlashes("///"), "/");
}

TEST(TextTest, CaseIgnoresOnlyAsciiLettersOutsideBig5Characters) {
  // Two Big5 characters whose second bytes are 'A' and 'a' are different
  // names; letters around them still fold.
  EXPECT_FALSE(EqualsNoCase("\xA4\x41", "\xA4\x61"));
  EXPECT_TRUE(EqualsNoCase("Bob\xA4\x41Z", "bOB\xA4\x41z"));
  EXPECT_EQ(ToLowerAscii("\xB3\x5A\xA4\x41X"), "\xB3\x5A\xA4\x41x");
  EXPECT_EQ(ToUpperAscii("a\xA4\x61"
                         "b"),
            "A\xA4\x61"
            "B");
  EXPECT_EQ(ToUpperAscii("x\xA4"), "X\xA4");  // a lead byte at the end
}

}  // namespace
}  // namespace heron
