#include "smtp/message_edits.h"

#include <memory>
#include <string_view>
#include <vector>

#include "service/message_file.h"

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

namespace {

// Replaces every `from` in a stream, as ReplaceAll does in a string: bytes
// that might begin a match wait for the next piece.
class StreamReplacer {
 public:
  StreamReplacer(std::string from, std::string to, DataSink next)
      : from_(std::move(from)), to_(std::move(to)), next_(std::move(next)) {}
  void Write(std::string_view piece) {
    pending_.append(piece);
    size_t pos = 0;
    for (size_t hit = pending_.find(from_); hit != std::string::npos;
         hit = pending_.find(from_, pos)) {
      next_(std::string_view(pending_).substr(pos, hit - pos));
      next_(to_);
      pos = hit + from_.size();
    }
    size_t keep = from_.size() - 1;
    size_t safe = pending_.size() > pos + keep ? pending_.size() - keep : pos;
    next_(std::string_view(pending_).substr(pos, safe - pos));
    pending_.erase(0, safe);
  }
  void Finish() {
    next_(pending_);
    pending_.clear();
  }

 private:
  std::string from_, to_, pending_;
  DataSink next_;
};

// Whether a stream contains a text, across pieces.
class StreamFinder {
 public:
  explicit StreamFinder(std::string needle) : needle_(std::move(needle)) {}
  void Write(std::string_view piece) {
    if (found_) return;
    tail_.append(piece);
    found_ = tail_.find(needle_) != std::string::npos;
    if (tail_.size() >= needle_.size()) tail_.erase(0, tail_.size() - (needle_.size() - 1));
  }
  bool found() const { return found_; }

 private:
  std::string needle_, tail_;
  bool found_ = false;
};

// Holds back trailing white space and dots until something else follows; at
// the end trims them as TrimMessageEnd does.
class EndTrimmer {
 public:
  explicit EndTrimmer(DataSink next) : next_(std::move(next)) {}
  void Write(std::string_view piece) {
    size_t last = piece.find_last_not_of(" \t\r\n.");
    if (last == std::string_view::npos) {
      held_.append(piece);
      return;
    }
    next_(held_);
    held_.clear();
    next_(piece.substr(0, last + 1));
    held_.assign(piece.substr(last + 1));
  }
  void Finish() { next_(TrimMessageEnd(held_)); }

 private:
  std::string held_;
  DataSink next_;
};

// The data with the spam tag applied, piece by piece.
void ForEachTagged(const MessageData& data, const std::string* spam_tag, const DataSink& out) {
  if (!spam_tag) {
    data.ForEach(out);
    return;
  }
  StreamReplacer lower("subject:", "subject: " + *spam_tag, out);
  StreamReplacer upper("Subject:", "Subject: " + *spam_tag,
                       [&lower](std::string_view p) { lower.Write(p); });
  data.ForEach([&upper](std::string_view p) { upper.Write(p); });
  upper.Finish();
  lower.Finish();
}

}  // namespace

void WriteStoredData(const MessageData& data, const std::string* spam_tag, const DataSink& out) {
  // The footer depends on what the tagged data holds: a first pass finds out.
  StreamFinder mark(kFooterMark), html("text/html");
  ForEachTagged(data, spam_tag, [&](std::string_view p) {
    mark.Write(p);
    html.Write(p);
  });
  EndTrimmer trimmer(out);
  DataSink trimmed = [&trimmer](std::string_view p) { trimmer.Write(p); };
  const std::string one = kFooterLine1, two = kFooterLine2;
  std::vector<std::unique_ptr<StreamReplacer>> chain;  // last in the stream first
  if (!mark.found()) {
    if (!html.found()) {
      chain.push_back(std::make_unique<StreamReplacer>("\r\n.\r\n",
                                                       "\r\n " + std::string(50, '_') + " \r\n " +
                                                           kFooterMark + " \r\n " + one + "\r\n " +
                                                           two + "\r\n.\r\n",
                                                       trimmed));
    } else {
      for (const char* tag : {"</body>", "</Body>", "</BODY>"}) {
        DataSink next =
            chain.empty() ? trimmed : [r = chain.back().get()](std::string_view p) { r->Write(p); };
        chain.push_back(std::make_unique<StreamReplacer>(
            tag,
            std::string("<P><HR><FONT face=Arial > ") + kFooterMark + "<BR> " + one + " <BR> " +
                two + "</FONT><P><P> " + tag,
            next));
      }
    }
  }
  DataSink first =
      chain.empty() ? trimmed : [r = chain.back().get()](std::string_view p) { r->Write(p); };
  ForEachTagged(data, spam_tag, first);
  for (auto r = chain.rbegin(); r != chain.rend(); ++r) (*r)->Finish();
  trimmer.Finish();
}

}  // namespace heron
