#include "service/encoded_list.h"

#include "platform/text.h"

namespace heron {

bool ListReader::ReadU8(uint8_t& v) {
  if (remaining() < 1) return false;
  v = static_cast<uint8_t>(data_[pos_++]);
  return true;
}

bool ListReader::ReadU16(uint16_t& v) {
  if (remaining() < 2) return false;
  v = static_cast<uint16_t>(static_cast<uint8_t>(data_[pos_]) |
                            (static_cast<uint8_t>(data_[pos_ + 1]) << 8));
  pos_ += 2;
  return true;
}

bool ListReader::ReadU32(uint32_t& v) {
  if (remaining() < 4) return false;
  v = 0;
  for (size_t i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(data_[pos_ + i])) << (8 * i);
  pos_ += 4;
  return true;
}

bool ListReader::ReadCount(uint32_t& count) {
  uint16_t c16;
  if (!ReadU16(c16)) return false;
  if (c16 != 0xFFFF) {
    count = c16;
    return true;
  }
  return ReadU32(count);
}

// Length prefix: a byte below 0xFF; else 0xFF and a 2-byte length below
// 0xFFFF; else 0xFF, 0xFFFF and a 4-byte length. 0xFF 0xFFFE marks a wide
// text whose own length prefix follows.
bool ListReader::ReadLength(uint32_t& length, bool& wide) {
  wide = false;
  uint8_t b;
  if (!ReadU8(b)) return false;
  if (b < 0xFF) {
    length = b;
    return true;
  }
  uint16_t w;
  if (!ReadU16(w)) return false;
  if (w == 0xFFFE) {
    wide = true;
    if (!ReadU8(b)) return false;
    if (b < 0xFF) {
      length = b;
      return true;
    }
    if (!ReadU16(w)) return false;
  }
  if (w < 0xFFFF) {
    length = w;
    return true;
  }
  return ReadU32(length);
}

bool ListReader::ReadText(std::string& text) {
  uint32_t length;
  bool wide;
  if (!ReadLength(length, wide)) return false;
  uint64_t bytes = wide ? uint64_t{length} * 2 : length;
  if (bytes > remaining()) return false;
  std::string_view raw = data_.substr(pos_, static_cast<size_t>(bytes));
  pos_ += static_cast<size_t>(bytes);
  text = wide ? Utf16LeToBig5(raw) : std::string(raw);
  return true;
}

void ListWriter::WriteU16(uint16_t v) {
  out_ += static_cast<char>(v & 0xFF);
  out_ += static_cast<char>(v >> 8);
}

void ListWriter::WriteU32(uint32_t v) {
  for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void ListWriter::WriteCount(size_t count) {
  if (count < 0xFFFF) {
    WriteU16(static_cast<uint16_t>(count));
  } else {
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(count));
  }
}

void ListWriter::WriteText(std::string_view text) {
  size_t n = text.size();
  if (n < 0xFF) {
    out_ += static_cast<char>(n);
  } else if (n < 0xFFFE) {
    out_ += '\xFF';
    WriteU16(static_cast<uint16_t>(n));
  } else {
    out_ += '\xFF';
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(n));
  }
  out_.append(text);
}

std::string EncodeList(const std::vector<std::string>& entries) {
  ListWriter w;
  w.WriteCount(entries.size());
  for (const auto& e : entries) w.WriteText(e);
  return w.bytes();
}

std::optional<std::vector<std::string>> DecodeList(std::string_view bytes) {
  ListReader r(bytes);
  uint32_t count;
  if (!r.ReadCount(count)) return std::nullopt;
  std::vector<std::string> out;
  for (uint32_t i = 0; i < count; ++i) {
    std::string text;
    if (!r.ReadText(text)) return std::nullopt;  // also bounds a huge count
    out.push_back(std::move(text));
  }
  return out;
}

}  // namespace heron
