#include "service/line_splitter.h"

namespace heron {

bool LineSplitter::Append(std::string_view bytes) {
  if (bytes.size() + buffer_.size() - pos_ > kLimit) return false;
  buffer_.erase(0, pos_);
  pos_ = 0;
  buffer_.append(bytes);
  return true;
}

std::optional<std::string> LineSplitter::Next() {
  size_t end = buffer_.find("\r\n", pos_);
  if (end == std::string::npos) {
    buffer_.erase(0, pos_);
    pos_ = 0;
    return std::nullopt;
  }
  std::string line = buffer_.substr(pos_, end - pos_);
  pos_ = end + 2;
  return line;
}

std::string LineSplitter::TakeRest() {
  std::string rest = buffer_.substr(pos_);
  buffer_.clear();
  pos_ = 0;
  return rest;
}

}  // namespace heron
