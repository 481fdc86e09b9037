#include "smtp/message_edits.h"

#include <string_view>

namespace heron {
namespace {

// One pass into a new string: linear however many matches the data holds.
void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  size_t pos = s.find(from);
  if (pos == std::string::npos) return;
  std::string out;
  out.reserve(s.size());
  size_t last = 0;
  for (; pos != std::string::npos; pos = s.find(from, last)) {
    out.append(s, last, pos - last);
    out.append(to);
    last = pos + from.size();
  }
  out.append(s, last, std::string::npos);
  s.swap(out);
}

}  // namespace

std::string ApplySpamTag(std::string data, const std::string& tag) {
  ReplaceAll(data, "Subject:", "Subject: " + tag);
  ReplaceAll(data, "subject:", "subject: " + tag);
  return data;
}

std::string ApplyFooter(std::string data) {
  if (data.find(kFooterMark) != std::string::npos) return data;
  const std::string one = kFooterLine1, two = kFooterLine2;
  if (data.find("text/html") == std::string::npos) {
    ReplaceAll(data, "\r\n.\r\n",
               "\r\n " + std::string(50, '_') + " \r\n " + kFooterMark + " \r\n " + one + "\r\n " +
                   two + "\r\n.\r\n");
  } else {
    for (const char* tag : {"</BODY>", "</Body>", "</body>"}) {
      ReplaceAll(data, tag,
                 std::string("<P><HR><FONT face=Arial > ") + kFooterMark + "<BR> " + one +
                     " <BR> " + two + "</FONT><P><P> " + tag);
    }
  }
  return data;
}

}  // namespace heron
