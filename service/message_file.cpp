#include "service/message_file.h"

#include <algorithm>

#include "platform/text.h"

namespace heron {
namespace {

// Calls `line` for each line before the first empty one, line end removed,
// lower-cased, until it returns false.
template <typename F>
void ForEachEnvelopeLine(std::string_view content, F line) {
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    std::string_view l =
        content.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (l.empty()) return;
    if (!line(ToLowerAscii(l))) return;
    if (nl == std::string_view::npos) return;
    pos = nl + 1;
  }
}

// Trimmed text after `field` in a lower-case line that starts with it.
bool FieldValue(const std::string& line, std::string_view field, std::string& value) {
  if (line.compare(0, field.size(), field) != 0) return false;
  value = Trim(std::string_view(line).substr(field.size()));
  return true;
}

}  // namespace

std::string GmtDateText(std::time_t t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm g;
  if (!gmtime_r(&t, &g)) {
    std::time_t epoch = 0;
    gmtime_r(&epoch, &g);
  }
  return StrPrintf("%s, %02d %s %d %02d:%02d:%02d GMT", kDays[g.tm_wday], g.tm_mday,
                   kMonths[g.tm_mon], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
}

std::string_view TrimMessageEnd(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  while (!text.empty() && text.back() == '.') text.remove_suffix(1);
  return text;
}

std::string MessageFileHead(const MessageEnvelope& env) {
  std::string out = "x-sender: " + env.sender + "\r\n";
  for (const auto& r : env.recipients) out += "x-receiver: " + r + "\r\n";
  out += "Received: from " + env.helo + " ([" + env.client_ip + "]) by " + env.by_domain +
         " with " + env.server_id + ";\r\n\t" + GmtDateText(env.when) + "\r\n";
  return out;
}

std::string BuildMessageFile(const MessageEnvelope& env, std::string_view data) {
  std::string out = MessageFileHead(env);
  out.append(TrimMessageEnd(data));
  return out;
}

std::vector<std::string> ReadRecipients(std::string_view content) {
  std::vector<std::string> out;
  // Only the envelope lines at the top count: a header or an argument that
  // merely contains "x-receiver:" must never add a recipient.
  ForEachEnvelopeLine(content, [&out](const std::string& line) {
    std::string value;
    if (FieldValue(line, "x-receiver:", value)) {
      out.push_back(value);
      return true;
    }
    return FieldValue(line, "x-sender:", value);
  });
  return out;
}

namespace {

// Calls `line(start, length_with_end, is_receiver)` for each line of the
// leading run of envelope lines; returns whether the run ended in `content`.
template <typename F>
bool ForEachLeadingEnvelopeLine(std::string_view content, F line) {
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    if (nl == std::string_view::npos) return false;  // cut short: maybe more
    std::string lower = ToLowerAscii(content.substr(pos, std::min<size_t>(nl - pos, 16)));
    bool receiver = lower.starts_with("x-receiver:");
    if (!receiver && !lower.starts_with("x-sender:")) return true;
    line(pos, nl + 1 - pos, receiver);
    pos = nl + 1;
  }
  return false;
}

}  // namespace

size_t ReceiverLineBytes(std::string_view content, bool* complete) {
  size_t bytes = 0;
  bool ended = ForEachLeadingEnvelopeLine(content, [&](size_t, size_t n, bool receiver) {
    if (receiver) bytes += n;
  });
  if (complete) *complete = ended;
  return bytes;
}

void StripReceiverLines(std::string& content) {
  std::vector<std::pair<size_t, size_t>> cuts;
  ForEachLeadingEnvelopeLine(content, [&](size_t start, size_t n, bool receiver) {
    if (receiver) cuts.emplace_back(start, n);
  });
  if (cuts.empty()) return;
  // Close the gaps in place: the message is held once.
  size_t write = cuts[0].first;
  for (size_t i = 0; i < cuts.size(); ++i) {
    size_t from = cuts[i].first + cuts[i].second;
    size_t to = i + 1 < cuts.size() ? cuts[i + 1].first : content.size();
    std::copy(content.begin() + static_cast<long>(from), content.begin() + static_cast<long>(to),
              content.begin() + static_cast<long>(write));
    write += to - from;
  }
  content.resize(write);
}

MessageHeaderFields ReadHeaderFields(std::string_view content) {
  MessageHeaderFields f;
  bool envelope = true;
  ForEachEnvelopeLine(content, [&](const std::string& line) {
    std::string ignored;
    envelope = envelope &&
               (FieldValue(line, "x-sender:", ignored) || FieldValue(line, "x-receiver:", ignored));
    if (envelope) FieldValue(line, "x-sender:", f.sender);
    FieldValue(line, "date:", f.date);
    FieldValue(line, "subject:", f.subject);
    return true;
  });
  return f;
}

}  // namespace heron
