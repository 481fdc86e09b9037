// The client side of one relay delivery, without sockets: the fixed
// dialogue HELO, MAIL FROM, RCPT TO (each recipient), DATA, message, QUIT as
// a step table, and the reading of (multi-line) replies. The socket shell
// feeds it reply lines and sends what it asks for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace heron {

// Collects the lines of one reply: "250-..." lines continue until a line
// with the same code and a blank; lines of 2 characters or fewer are read
// on. The text is the lines joined with "\n".
class ReplyReader {
 public:
  // Lines of one reply at most: the reply is taken as complete with the
  // last of them.
  static constexpr size_t kMaxLines = 512;

  // Adds a line (without its line end); true once the reply is complete.
  bool Add(std::string_view line);
  // The number formed by the first 3 characters of the text (0 otherwise).
  int code() const;
  const std::string& text() const { return text_; }
  void Clear();

 private:
  std::string text_;
  std::string multi_code_;  // set inside a multi-line reply
  size_t lines_ = 0;
};

class CRelayDialogue {
 public:
  enum Step { kGreeting = 0, kHelo, kMailFrom, kRcptTo, kData, kMessage, kQuit };

  // `recipients`: addresses separated by ","; leading white space of each is
  // dropped, empty items between commas stay.
  CRelayDialogue(std::string helo_name, std::string sender, std::string_view recipients,
                 std::string message);

  // What to do after a complete reply.
  struct Action {
    std::string send;      // a command line, or the message data (CR LF added by the sender)
    bool is_data = false;  // the message data: not handed to the log
    bool close = false;    // the dialogue ended with QUIT's reply: shut down
    bool go_on = false;    // read the next reply
    std::string log;       // a text for the log when a step is refused, else empty
  };
  Action OnReply(int code);

  bool delivered() const { return delivered_; }
  int step() const { return step_; }

 private:
  Action Send(std::string line);

  std::string helo_name_, sender_, message_;
  std::vector<std::string> recipients_;
  size_t next_recipient_ = 0;
  int step_ = kGreeting;
  bool delivered_ = false;
};

}  // namespace heron
