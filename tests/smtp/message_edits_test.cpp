#include "smtp/message_edits.h"

#include <gtest/gtest.h>

#include "service/message_file.h"

namespace heron {
namespace {

const std::string kDefaultTag = "[--SPAM--]";

std::string TextFooter() {
  return "\r\n " + std::string(50, '_') +
         " \r\n Powered By Heron Mail Server \r\n Made In Taiwan\r\n " + kFooterLine2 + "\r\n";
}

std::string HtmlFooter() {
  return std::string("<P><HR><FONT face=Arial > Powered By Heron Mail Server<BR> Made In Taiwan ") +
         "<BR> " + kFooterLine2 + "</FONT><P><P> ";
}

TEST(MessageEditsTest, SpamTagMarksOnlyTwoSpellingsOfSubject) {
  EXPECT_EQ(ApplySpamTag("Subject: hi\r\n", "[--SPAM--]"), "Subject: [--SPAM--] hi\r\n");
  EXPECT_EQ(ApplySpamTag("subject: hi\r\n", "[--SPAM--]"), "subject: [--SPAM--] hi\r\n");
  EXPECT_EQ(ApplySpamTag("SUBJECT: hi\r\n", "[--SPAM--]"), "SUBJECT: hi\r\n");
  // The body is tagged too, and a tag naming the field does not loop.
  EXPECT_EQ(ApplySpamTag("Subject: a\r\n\r\nre subject: b\r\n", "[X]"),
            "Subject: [X] a\r\n\r\nre subject: [X] b\r\n");
  EXPECT_EQ(ApplySpamTag("Subject: a", "Subject:"), "Subject: Subject: a");
}

TEST(MessageEditsTest, FooterGoesBeforeTheEndMarkerOrTheClosingBodyTag) {
  EXPECT_EQ(ApplyFooter("Subject: t\r\n\r\nHi\r\n.\r\n"),
            "Subject: t\r\n\r\nHi" + TextFooter() + ".\r\n");

  std::string html = "Content-Type: text/html\r\n\r\n<html><Body>x</Body></html>\r\n.\r\n";
  EXPECT_EQ(ApplyFooter(html), "Content-Type: text/html\r\n\r\n<html><Body>x" + HtmlFooter() +
                                   "</Body></html>\r\n.\r\n");

  std::string three = "text/html <b></BODY>|</Body>|</body>\r\n.\r\n";
  EXPECT_EQ(ApplyFooter(three), "text/html <b>" + HtmlFooter() + "</BODY>|" + HtmlFooter() +
                                    "</Body>|" + HtmlFooter() + "</body>\r\n.\r\n");

  std::string marked = "Hi\r\nPowered By Heron Mail Server\r\n.\r\n";
  EXPECT_EQ(ApplyFooter(marked), marked);
  EXPECT_EQ(ApplyFooter(ApplyFooter("Hi\r\n.\r\n")), ApplyFooter("Hi\r\n.\r\n"));
}

// The streamed edits give the bytes of the whole-string ones, however the
// data was received.
TEST(MessageEditsTest, StreamedEditsEqualTheWholeStringOnes) {
  const std::string big_body(300000, 'b');
  const std::string cases[] = {
      "Subject: hi\r\n\r\nHello\r\n.\r\n",
      "subject: a Subject: b\r\n\r\nx\r\n.\r\nmore after the marker\r\n.\r\n",
      "Content-Type: text/html\r\n\r\n<html></BODY></Body></body></html>\r\n.\r\n",
      "Subject: x\r\n\r\nPowered By Heron Mail Server\r\n.\r\n",
      "Subject: t\r\n\r\n" + big_body + "\r\n .. \t\r\n..\r\n.\r\n",
      ".\r\n",
      "\r\n.\r\n",
  };
  for (const std::string& data : cases) {
    for (const std::string* tag : {static_cast<const std::string*>(nullptr), &kDefaultTag}) {
      std::string whole = tag ? ApplySpamTag(data, *tag) : data;
      whole = std::string(TrimMessageEnd(ApplyFooter(whole)));
      for (size_t cut : {size_t{1}, size_t{3}, size_t{4096}, data.size()}) {
        MessageData received;
        for (size_t i = 0; i < data.size(); i += cut) received.Append(data.substr(i, cut));
        std::string streamed;
        WriteStoredData(received, tag, [&](std::string_view p) { streamed.append(p); });
        EXPECT_EQ(streamed, whole) << data.substr(0, 60) << " cut " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace heron
