#include "relay/relay_dialogue.h"

#include "platform/text.h"

namespace heron {

bool ReplyReader::Add(std::string_view line) {
  text_.append(line);
  // A peer that never ends its reply has said all it will be heard saying.
  if (++lines_ >= kMaxLines) return true;
  if (line.size() <= 2) return false;
  bool more = line.size() > 3 && line[3] == '-';
  if (multi_code_.empty()) {
    if (!more) return true;
    multi_code_ = std::string(line.substr(0, 3));
  } else if (line.substr(0, 3) == multi_code_ && !more) {
    return true;
  }
  text_ += "\n";
  return false;
}

int ReplyReader::code() const {
  if (text_.size() < 3) return 0;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (text_[i] < '0' || text_[i] > '9') return 0;
    code = code * 10 + (text_[i] - '0');
  }
  return code;
}

void ReplyReader::Clear() {
  text_.clear();
  multi_code_.clear();
  lines_ = 0;
}

CRelayDialogue::CRelayDialogue(std::string helo_name, std::string sender,
                               std::string_view recipients, std::string message)
    : helo_name_(std::move(helo_name)), sender_(std::move(sender)), message_(std::move(message)) {
  size_t start = 0;
  for (;;) {
    size_t comma = recipients.find(',', start);
    std::string_view item =
        recipients.substr(start, comma == std::string_view::npos ? comma : comma - start);
    size_t first = item.find_first_not_of(" \t\r\n");
    recipients_.emplace_back(first == std::string_view::npos ? std::string_view()
                                                             : item.substr(first));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

CRelayDialogue::Action CRelayDialogue::Send(std::string line) {
  delivered_ = true;
  Action a;
  a.send = std::move(line);
  a.go_on = true;
  return a;
}

CRelayDialogue::Action CRelayDialogue::OnReply(int code) {
  // One row a step: the reply expected, what follows it, the text otherwise.
  struct Row {
    int expected;
    const char* refused;
  };
  static const Row kRows[] = {
      {220, "無效回應， 有效回應必須是 220 "},
      {250, "無效回應， HELO:指令的有效回應必須是 250."},
      {250, "無效回應， MAIL FROM:指令的有效回應必須是 250."},
      {250, "無效回應， RCPT TO: 指令的有效回應必須是 250."},
      {354, "無效回應， DATA: 指令的有效回應必須是 354."},
      {250, "Invalid response, expecting 250."},
      {221, "Invalid response, expecting 221."},
  };
  const Row& row = kRows[step_];
  if (code != row.expected) {
    Action a;
    a.log = B5(row.refused);
    if (step_ != kQuit) delivered_ = false;  // after the message, success stands
    return a;
  }
  switch (step_) {
    case kGreeting:
      step_ = kHelo;
      return Send("HELO " + helo_name_);
    case kHelo:
      step_ = kMailFrom;
      return Send("MAIL FROM: " + sender_);
    case kMailFrom:
      step_ = kRcptTo;
      return Send("RCPT TO: " + recipients_[next_recipient_++]);
    case kRcptTo:
      if (next_recipient_ < recipients_.size())
        return Send("RCPT TO: " + recipients_[next_recipient_++]);
      step_ = kData;
      return Send("DATA");
    case kData: {
      step_ = kMessage;
      Action a = Send(message_);
      a.is_data = true;
      return a;
    }
    case kMessage:
      step_ = kQuit;
      return Send("QUIT");
    default: {
      Action a;
      a.close = true;
      return a;
    }
  }
}

}  // namespace heron
