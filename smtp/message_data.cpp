#include "smtp/message_data.h"

#include <algorithm>

namespace heron {

void MessageData::Append(std::string_view bytes) {
  size_ += bytes.size();
  while (!bytes.empty()) {
    if (blocks_.empty() || blocks_.back().size() == kBlock) {
      blocks_.emplace_back();
      blocks_.back().reserve(kBlock);
    }
    std::string& last = blocks_.back();
    size_t n = std::min(bytes.size(), kBlock - last.size());
    last.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
}

bool MessageData::EndsWith(std::string_view tail) const {
  if (tail.size() > size_) return false;
  // Compare from the end, across the last blocks.
  size_t want = tail.size();
  for (auto b = blocks_.rbegin(); b != blocks_.rend() && want > 0; ++b) {
    size_t n = std::min(want, b->size());
    if (std::string_view(*b).substr(b->size() - n) != tail.substr(want - n, n)) return false;
    want -= n;
  }
  return true;
}

std::string MessageData::Last(size_t n) const {
  std::string out;
  for (auto b = blocks_.rbegin(); b != blocks_.rend() && out.size() < n; ++b) {
    size_t take = std::min(n - out.size(), b->size());
    out.insert(0, std::string_view(*b).substr(b->size() - take));
  }
  return out;
}

void MessageData::ForEach(const std::function<void(std::string_view)>& piece) const {
  for (const std::string& b : blocks_) piece(b);
}

void MessageData::Clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  size_ = 0;
}

}  // namespace heron
