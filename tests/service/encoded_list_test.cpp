#include "service/encoded_list.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using testing::Bytes;

using List = std::vector<std::string>;

TEST(EncodedListTest, ShortListsHaveExactBytes) {
  List list{"ab", "xyz"};
  EXPECT_EQ(EncodeList(list), Bytes({0x02, 0x00, 0x02, 'a', 'b', 0x03, 'x', 'y', 'z'}));
  EXPECT_EQ(DecodeList(EncodeList(list)), list);
  EXPECT_EQ(EncodeList({}), Bytes({0x00, 0x00}));
  EXPECT_EQ(DecodeList(Bytes({0x00, 0x00})), List{});
}

TEST(EncodedListTest, LongEntriesUseWiderLengthPrefixes) {
  std::string enc = EncodeList({std::string(300, 'q')});
  EXPECT_EQ(enc.substr(0, 5), Bytes({0x01, 0x00, 0xFF, 0x2C, 0x01}));
  EXPECT_EQ(enc.size(), 5u + 300);

  enc = EncodeList({std::string(70000, 'z')});  // 70000 = 0x00011170
  EXPECT_EQ(enc.substr(0, 9), Bytes({0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(enc.size(), 9u + 70000);

  // Every boundary of the prefix forms round-trips; 0xFFFE must not be
  // taken for the wide-text mark.
  for (size_t n : {254u, 255u, 300u, 0xFFFDu, 0xFFFEu, 0xFFFFu, 70000u}) {
    List list{std::string(n, 'a'), "tail"};
    EXPECT_EQ(DecodeList(EncodeList(list)), list) << n;
  }
}

TEST(EncodedListTest, LargeCountUsesFourBytes) {
  List list(0xFFFF);
  std::string enc = EncodeList(list);
  EXPECT_EQ(enc.substr(0, 6), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(enc.size(), 6u + 0xFFFF);
  EXPECT_EQ(DecodeList(enc), list);

  List below(0xFFFE);
  EXPECT_EQ(EncodeList(below).substr(0, 2), Bytes({0xFE, 0xFF}));
  EXPECT_EQ(DecodeList(EncodeList(below)), below);
}

TEST(EncodedListTest, WideEntriesDecodeTo8Bit) {
  EXPECT_EQ(DecodeList(Bytes({0x01, 0x00, 0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42, 0x00})),
            List{"AB"});
  // U+4E2D U+6587 ("中文"), then an ordinary entry.
  auto list =
      DecodeList(Bytes({0x02, 0x00, 0xFF, 0xFE, 0xFF, 0x02, 0x2D, 0x4E, 0x87, 0x65, 0x01, 'x'}));
  EXPECT_EQ(list, (List{Utf8ToBig5("中文"), "x"}));
  // The length counts UTF-16 units: two units need four bytes.
  EXPECT_EQ(DecodeList(Bytes({0x01, 0x00, 0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42})),
            std::nullopt);
}

TEST(EncodedListTest, HostileBytesAreRejected) {
  // Every cut of a good encoding ends inside the list.
  std::string good = EncodeList({"ab", "xyz"});
  for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(DecodeList(good.substr(0, n)), std::nullopt);
  std::string big = EncodeList({std::string(70000, 'w')});
  for (size_t n : {3u, 5u, 8u, 70008u}) EXPECT_EQ(DecodeList(big.substr(0, n)), std::nullopt) << n;

  const std::string cases[] = {
      Bytes({0x01}),
      Bytes({0x01, 0x00, 0x05, 'a', 'b'}),                // length past the end
      Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),        // 4-byte count, no entries
      Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}),  // one of 2^32-1 entries
      Bytes({0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}),  // 4 GiB entry
      Bytes({0x01, 0x00, 0xFF, 0xFE, 0xFF, 0xFE, 0x41, 0x00}),             // wide, too short
      Bytes({0x01, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeList(c), std::nullopt) << c.size();
}

TEST(EncodedListTest, ReaderStaysInBounds) {
  const std::string bytes = Bytes({0x78, 0x56, 0x34, 0x12, 0x9A, 0xBC, 0xDE});
  uint32_t v = 0;
  ListReader r(bytes);
  ASSERT_TRUE(r.ReadU32(v));
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_FALSE(r.ReadU32(v));  // three bytes left
  EXPECT_EQ(r.remaining(), 3u);

  const std::string count = Bytes({0xFF, 0xFF, 0x01, 0x00});
  ListReader short_count(count);
  EXPECT_FALSE(short_count.ReadCount(v));
}

}  // namespace
}  // namespace heron
