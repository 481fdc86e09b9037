#include "dns/dns_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/dns/dns_builder.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using namespace dnstest;

const std::string kUnsupported = "(unsupported)";

std::vector<std::string> Texts(const std::vector<DnsEntry>& entries) {
  std::vector<std::string> out;
  for (const DnsEntry& e : entries) out.push_back(e.data);
  return out;
}

using testing::Bytes;

// Header with `questions` and `answers` counts, no others.
std::string Header(unsigned questions, unsigned answers) {
  return U16(1) + U16(kFlagsResponse) + U16(questions) + U16(answers) + U16(0) + U16(0);
}

const std::string kQueryHeader = Bytes({0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0});

TEST(DnsQuery, EncodesHeaderLabelsTypeAndClass) {
  auto query = EncodeMxQuery("example.com");
  ASSERT_TRUE(query);
  EXPECT_EQ(*query,
            kQueryHeader + Bytes({7}) + "example" + Bytes({3}) + "com" + Bytes({0, 0, 0x0F, 0, 1}));
}

TEST(DnsQuery, LabelsHoldAtMostSixtyThreeCharacters) {
  const std::string l63(63, 'a'), l64(64, 'b');
  auto query = EncodeMxQuery(l63 + ".example." + l63);
  ASSERT_TRUE(query);
  EXPECT_EQ(*query, kQueryHeader + Name(l63 + ".example." + l63) + Bytes({0, 0x0F, 0, 1}));
  EXPECT_FALSE(EncodeMxQuery(l64));
  EXPECT_FALSE(EncodeMxQuery("mail." + l64 + ".com"));
  EXPECT_FALSE(EncodeMxQuery("example." + l64));
}

TEST(DnsReply, AnswerTextsByTypeInServerOrder) {
  const std::string aaaa1 = Bytes({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  const std::string aaaa2 =
      Bytes({0xAB, 0xCD, 0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0});
  // The second exchange ends in a pointer to the question's "example.com".
  const std::string mx2 = Record(Pointer(kQuestionName), 15, U16(5) + "\x03mx2" + Pointer(12));
  std::string reply =
      Message(0x1234, kFlagsAuthoritative, Question("example.com"),
              {Mx(10, "mx1.example.com"), mx2, Mx(100, "host.example.com"),
               A(Pointer(kQuestionName), 192, 0, 2, 1), Record(Pointer(kQuestionName), 28, aaaa1),
               Record(Pointer(kQuestionName), 28, aaaa2),
               Record(Name("www.example.com"), kTypeCname, Name("target.example.net")),
               Record(Pointer(kQuestionName), kTypeTxt, "\x05hello")},
              {Record(Pointer(kQuestionName), kTypeNs, Name("ns1.example.com"))},
              {A(Name("ns1.example.com"), 10, 0, 0, 1)});

  auto parsed = ParseReply(reply, kUnsupported);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->id, 0x1234);
  EXPECT_TRUE(parsed->authoritative());
  EXPECT_EQ(parsed->rcode(), 0);
  ASSERT_EQ(parsed->questions.size(), 1u);
  EXPECT_EQ(parsed->questions[0].name, "example.com");
  EXPECT_EQ(parsed->questions[0].type, 15);
  EXPECT_EQ(
      Texts(parsed->answers),
      (std::vector<std::string>{"10 mx1.example.com", "05 mx2.example.com", "100 host.example.com",
                                "192.0.2.1", "2001:db8:0:0:0:0:0:1", "abcd:f0:0:0:0:0:ffff:0",
                                "target.example.net", kUnsupported}));
  EXPECT_EQ(parsed->answers[0].name, "example.com");
  EXPECT_EQ(parsed->answers[6].name, "www.example.com");
  EXPECT_EQ(parsed->answers[7].data_length, 6);
  ASSERT_EQ(parsed->authorities.size(), 1u);
  EXPECT_EQ(parsed->authorities[0].data, "ns1.example.com");
  ASSERT_EQ(parsed->additionals.size(), 1u);
  EXPECT_EQ(parsed->additionals[0].name, "ns1.example.com");
  EXPECT_EQ(parsed->additionals[0].data, "10.0.0.1");
}

TEST(DnsReply, NameErrorParsesWithNoAnswers) {
  auto parsed = ParseReply(Message(1, 0x8183, Question("nowhere.example"), {}), kUnsupported);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->rcode(), 3);
  EXPECT_FALSE(parsed->authoritative());
  EXPECT_TRUE(parsed->answers.empty());
}

TEST(DnsName, PositionAfterNameOrFirstPointer) {
  const std::string bytes = Name("example.com") + "\x03mx2" + Pointer(0) + "\x03www" + Pointer(13);
  size_t pos = 0;
  EXPECT_EQ(DecodeName(bytes, pos), "example.com");
  EXPECT_EQ(pos, 13u);
  EXPECT_EQ(DecodeName(bytes, pos), "mx2.example.com");  // ends in a pointer
  EXPECT_EQ(pos, 19u);
  EXPECT_EQ(DecodeName(bytes, pos), "www.mx2.example.com");  // a chain of two pointers
  EXPECT_EQ(pos, bytes.size());
  pos = 12;
  EXPECT_EQ(DecodeName(bytes, pos), "");  // the root
  EXPECT_EQ(pos, 13u);
}

TEST(DnsName, AtMostTwoHundredFiftyFiveCharacters) {
  const std::string l63(63, 'a');
  std::string longest = l63 + "." + l63 + "." + l63 + "." + l63;
  size_t pos = 0;
  EXPECT_EQ(DecodeName(Name(longest), pos), longest);
  pos = 0;
  EXPECT_FALSE(
      DecodeName(Name(l63 + "." + l63 + "." + l63 + "." + std::string(62, 'b') + ".c"), pos));
  pos = 0;
  std::string many;
  for (int i = 0; i < 200; ++i) many += "\x01x";
  EXPECT_FALSE(DecodeName(many + '\0', pos));
}

// Every case must end with nothing, and never read outside the bytes: the
// copy ends exactly at the last byte, so AddressSanitizer sees any read past.
void ExpectRefused(const std::string& bytes) {
  std::unique_ptr<char[]> exact(new char[bytes.size()]);
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  EXPECT_FALSE(ParseReply(std::string_view(exact.get(), bytes.size()), kUnsupported));
}

TEST(DnsHostile, EveryTruncationOfAValidReplyIsRefused) {
  std::string reply = Message(7, kFlagsResponse, Question("example.com"),
                              {Mx(10, "mx1.example.com"),
                               Record(Pointer(kQuestionName), 15, U16(5) + "\x01m" + Pointer(12)),
                               Record(Pointer(kQuestionName), 28, std::string(16, '\x01'))},
                              {Record(Pointer(kQuestionName), kTypeNs, Name("ns.example.com"))},
                              {A(Name("ns.example.com"), 127, 0, 0, 2)});
  ASSERT_TRUE(ParseReply(reply, kUnsupported));
  for (size_t n = 0; n < reply.size(); ++n) {
    SCOPED_TRACE(n);
    ExpectRefused(reply.substr(0, n));
  }
}

TEST(DnsHostile, PointerLoopsAndOutOfRangePointersEnd) {
  const std::string header = Header(1, 0);
  ExpectRefused(header + Pointer(12) + U16(15) + U16(1));                // points at itself
  ExpectRefused(header + Pointer(14) + Pointer(12) + U16(15) + U16(1));  // two point at each other
  ExpectRefused(header + "\x01x" + Pointer(12) + U16(15) + U16(1));      // grows on each turn
  ExpectRefused(header + Pointer(0x3FFF) + U16(15) + U16(1));            // beyond the end
  ExpectRefused(header + "\x01x\xC0");                                   // pointer cut in half
  for (size_t offset : {size_t{0}, size_t{2}}) {
    size_t pos = offset;
    EXPECT_FALSE(DecodeName(Pointer(2) + Pointer(0), pos));
  }
}

TEST(DnsHostile, ReservedLabelTypesEnd) {
  for (int len = 0x40; len <= 0xBF; ++len) {
    SCOPED_TRACE(len);
    std::string name = static_cast<char>(len) + std::string(200, 'a') + '\0';
    size_t pos = 0;
    EXPECT_FALSE(DecodeName(name, pos));
    ExpectRefused(Message(1, kFlagsResponse, name + U16(15) + U16(1), {}));
  }
}

TEST(DnsHostile, RecordDataMustFitItsLength) {
  const std::string q = Question("example.com");
  const std::string owner = Pointer(kQuestionName);
  // RDLENGTH beyond the end of the datagram.
  ExpectRefused(Header(1, 1) + q + owner + U16(1) + U16(1) + U32(0) + U16(100) +
                "\x01\x02\x03\x04");
  // Address data shorter than an address.
  ExpectRefused(Message(1, kFlagsResponse, q, {Record(owner, 1, "\x7F\x01")}));
  ExpectRefused(Message(1, kFlagsResponse, q, {Record(owner, 28, std::string(8, '\0'))}));
  // A name in the data may not run past RDLENGTH, even into valid bytes.
  ExpectRefused(Message(1, kFlagsResponse, q, {Record(owner, 15, U16(5)) + Name("mx.example")}));
  ExpectRefused(Message(1, kFlagsResponse, q, {Record(owner, 15, "\x01")}));
  ExpectRefused(
      Message(1, kFlagsResponse, q, {Record(owner, kTypeCname, "\x05xyz") + "vw" + '\0'}));
}

}  // namespace
}  // namespace heron
