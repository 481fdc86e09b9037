// The data of a message being received: held in blocks, so that it grows
// without copying, and read back piece by piece.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

class MessageData {
 public:
  void Append(std::string_view bytes);
  size_t size() const { return size_; }
  bool EndsWith(std::string_view tail) const;
  // The last `n` bytes (all of them when there are fewer).
  std::string Last(size_t n) const;
  // Hands every piece, in order, to `piece`.
  void ForEach(const std::function<void(std::string_view)>& piece) const;
  // Empties it and gives its memory back.
  void Clear();

 private:
  static constexpr size_t kBlock = 256 * 1024;
  std::vector<std::string> blocks_;
  size_t size_ = 0;
};

}  // namespace heron
