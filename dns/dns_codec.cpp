#include "dns/dns_codec.h"

#include <cstdio>

namespace heron {
namespace {

bool ReadU16(std::string_view b, size_t& pos, uint16_t& v) {
  if (pos + 2 > b.size()) return false;
  v = static_cast<uint16_t>((static_cast<uint8_t>(b[pos]) << 8) | static_cast<uint8_t>(b[pos + 1]));
  pos += 2;
  return true;
}

bool ReadU32(std::string_view b, size_t& pos, uint32_t& v) {
  uint16_t hi, lo;
  if (!ReadU16(b, pos, hi) || !ReadU16(b, pos, lo)) return false;
  v = (static_cast<uint32_t>(hi) << 16) | lo;
  return true;
}

void PutU16(std::string& out, uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
}

// Reads one record's fixed part and its data as text. The data of every
// type must lie inside its own RDLENGTH; the record ends there.
bool ReadRecord(std::string_view b, size_t& pos, const std::string& unsupported, DnsEntry& e) {
  auto name = DecodeName(b, pos);
  if (!name) return false;
  e.name = std::move(*name);
  if (!ReadU16(b, pos, e.type) || !ReadU16(b, pos, e.klass) || !ReadU32(b, pos, e.ttl) ||
      !ReadU16(b, pos, e.data_length)) {
    return false;
  }
  size_t start = pos;
  size_t end = start + e.data_length;
  if (end > b.size()) return false;
  std::string_view rdata = b.substr(0, end);  // names may point back, never past the data
  switch (e.type) {
    case 1: {
      if (e.data_length < 4) return false;
      char buf[20];
      std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", static_cast<uint8_t>(b[start]),
                    static_cast<uint8_t>(b[start + 1]), static_cast<uint8_t>(b[start + 2]),
                    static_cast<uint8_t>(b[start + 3]));
      e.data = buf;
      break;
    }
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9:
    case 12: {
      size_t p = start;
      auto target = DecodeName(rdata, p);
      if (!target) return false;
      e.data = std::move(*target);
      break;
    }
    case 15: {
      size_t p = start;
      uint16_t preference;
      if (!ReadU16(rdata, p, preference)) return false;
      auto exchange = DecodeName(rdata, p);
      if (!exchange) return false;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%02u ", static_cast<unsigned>(preference));
      e.data = buf + *exchange;
      break;
    }
    case 28: {
      if (e.data_length < 16) return false;
      std::string text;
      for (int i = 0; i < 8; ++i) {
        unsigned group = (static_cast<uint8_t>(b[start + 2 * i]) << 8) |
                         static_cast<uint8_t>(b[start + 2 * i + 1]);
        char buf[8];
        std::snprintf(buf, sizeof buf, i ? ":%x" : "%x", group);
        text += buf;
      }
      e.data = text;
      break;
    }
    default:
      e.data = unsupported;
      break;
  }
  pos = end;
  return true;
}

bool ReadSection(std::string_view b, size_t& pos, uint16_t count, const std::string& unsupported,
                 std::vector<DnsEntry>& out) {
  for (uint16_t i = 0; i < count; ++i) {
    DnsEntry e;
    if (!ReadRecord(b, pos, unsupported, e)) return false;
    out.push_back(std::move(e));
  }
  return true;
}

}  // namespace

std::optional<std::string> EncodeMxQuery(std::string_view domain) {
  std::string out;
  PutU16(out, 1);       // id
  PutU16(out, 0x0100);  // recursion desired
  PutU16(out, 1);       // one question
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, 0);
  size_t start = 0;
  while (start < domain.size()) {
    size_t dot = domain.find('.', start);
    std::string_view label =
        domain.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (label.size() > 63) return std::nullopt;
    out += static_cast<char>(label.size());
    out.append(label);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  out += '\0';
  PutU16(out, kDnsTypeMx);
  PutU16(out, 1);  // IN
  return out;
}

std::optional<std::string> DecodeName(std::string_view b, size_t& pos) {
  std::string name;
  size_t p = pos;
  std::optional<size_t> after;  // position after the first pointer
  int pointers = 0;
  for (;;) {
    if (p >= b.size()) return std::nullopt;
    uint8_t len = static_cast<uint8_t>(b[p]);
    if (len == 0) {
      ++p;
      break;
    }
    if ((len & 0xC0) == 0xC0) {
      if (p + 1 >= b.size() || ++pointers > kDnsMaxPointers) return std::nullopt;
      if (!after) after = p + 2;
      p = ((len & 0x3F) << 8) | static_cast<uint8_t>(b[p + 1]);
      continue;
    }
    if (len >= 64) return std::nullopt;  // reserved label types
    if (p + 1 + len > b.size() || name.size() + len + 1 > kDnsMaxName + 1) return std::nullopt;
    name.append(b.substr(p + 1, len));
    name += '.';
    p += 1 + len;
  }
  if (!name.empty()) name.pop_back();
  pos = after ? *after : p;
  return name;
}

std::optional<DnsReply> ParseReply(std::string_view b, const std::string& unsupported) {
  DnsReply r;
  size_t pos = 0;
  uint16_t qd, an, ns, ar;
  if (!ReadU16(b, pos, r.id) || !ReadU16(b, pos, r.flags) || !ReadU16(b, pos, qd) ||
      !ReadU16(b, pos, an) || !ReadU16(b, pos, ns) || !ReadU16(b, pos, ar)) {
    return std::nullopt;
  }
  for (uint16_t i = 0; i < qd; ++i) {
    DnsEntry q;
    auto name = DecodeName(b, pos);
    if (!name || !ReadU16(b, pos, q.type) || !ReadU16(b, pos, q.klass)) return std::nullopt;
    q.name = std::move(*name);
    r.questions.push_back(std::move(q));
  }
  if (!ReadSection(b, pos, an, unsupported, r.answers) ||
      !ReadSection(b, pos, ns, unsupported, r.authorities) ||
      !ReadSection(b, pos, ar, unsupported, r.additionals)) {
    return std::nullopt;
  }
  return r;
}

}  // namespace heron
