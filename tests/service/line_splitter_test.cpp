#include "service/line_splitter.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

TEST(LineSplitterTest, LinesEndAtCrLfAcrossReadsAndTheLimitHolds) {
  LineSplitter s;
  ASSERT_TRUE(s.Append("NO"));
  EXPECT_EQ(s.Next(), std::nullopt);
  ASSERT_TRUE(s.Append("OP\r"));
  EXPECT_EQ(s.Next(), std::nullopt);
  ASSERT_TRUE(s.Append("\n\r\nA\nB\r\nDATA\r\nrest\r\n.\r\n"));
  EXPECT_EQ(s.Next(), "NOOP");
  EXPECT_EQ(s.Next(), "");
  EXPECT_EQ(s.Next(), "A\nB");  // a bare LF does not end a line
  EXPECT_EQ(s.Next(), "DATA");
  EXPECT_EQ(s.TakeRest(), "rest\r\n.\r\n");
  EXPECT_EQ(s.Next(), std::nullopt);

  // kLimit pending bytes are kept; one more is refused and nothing added.
  ASSERT_TRUE(s.Append(std::string(LineSplitter::kLimit - 2, 'x') + "\r\n"));
  ASSERT_TRUE(s.Next().has_value());
  ASSERT_TRUE(s.Append(std::string(LineSplitter::kLimit, 'y')));
  EXPECT_FALSE(s.Append("z"));
  EXPECT_EQ(s.TakeRest(), std::string(LineSplitter::kLimit, 'y'));
}

}  // namespace
}  // namespace heron
