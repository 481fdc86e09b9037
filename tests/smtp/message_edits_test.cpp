#include "smtp/message_edits.h"

#include <gtest/gtest.h>

namespace heron {
namespace {

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

}  // namespace
}  // namespace heron
