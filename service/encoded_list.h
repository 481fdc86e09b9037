// The byte encoding of stored string lists and the length-prefixed texts
// they are made of (also used by the account list).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

// Reads counts, texts and numbers from stored bytes; every read is bounds
// checked and fails (returns false) rather than reading past the end.
class ListReader {
 public:
  explicit ListReader(std::string_view bytes) : data_(bytes) {}
  // 2 bytes; 0xFFFF announces a 4-byte count.
  bool ReadCount(uint32_t& count);
  // A length prefix and 8-bit text; a wide (UTF-16LE) text is converted.
  bool ReadText(std::string& text);
  bool ReadU32(uint32_t& v);
  size_t remaining() const { return data_.size() - pos_; }

 private:
  bool ReadU8(uint8_t& v);
  bool ReadU16(uint16_t& v);
  bool ReadLength(uint32_t& length, bool& wide);
  std::string_view data_;
  size_t pos_ = 0;
};

class ListWriter {
 public:
  void WriteCount(size_t count);
  void WriteText(std::string_view text);
  void WriteU32(uint32_t v);
  const std::string& bytes() const { return out_; }

 private:
  void WriteU16(uint16_t v);
  std::string out_;
};

std::string EncodeList(const std::vector<std::string>& entries);
// Nothing when the bytes end inside the list or hold a bad length.
std::optional<std::vector<std::string>> DecodeList(std::string_view bytes);

}  // namespace heron
