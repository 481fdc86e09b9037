#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace heron {
namespace {

// Runs one iconv conversion; `replacement` stands for each input sequence
// that cannot be converted (one input unit of `skip` bytes is skipped).
std::string Convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement, size_t skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (left > 0) {
    char* dst = buf.data();
    size_t room = buf.size();
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence): replace and skip one unit.
      out.append(replacement);
      size_t n = skip < left ? skip : left;
      src += n;
      left -= n;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToBig5(std::string_view utf8) { return Convert("CP950", "UTF-8", utf8, "?", 1); }

std::string Big5ToUtf8(std::string_view big5) {
  return Convert("UTF-8", "CP950", big5, "\xEF\xBF\xBD", 1);
}

std::string Utf16LeToBig5(std::string_view utf16le) {
  return Convert("CP950", "UTF-16LE", utf16le, "?", 2);
}

const char* B5(const char* utf8_literal) {
  static std::mutex mu;
  static std::unordered_map<const char*, std::string> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto it = cache.find(utf8_literal);
  if (it == cache.end()) it = cache.emplace(utf8_literal, Utf8ToBig5(utf8_literal)).first;
  return it->second.c_str();
}

std::string StrVPrintf(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string StrPrintf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = StrVPrintf(fmt, ap);
  va_end(ap);
  return s;
}

int ReadDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) v = INT_MAX;
  }
  return static_cast<int>(negative ? -v : v);
}

std::string DoublePercent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

namespace {

// Changes the case of ASCII letters only; the second byte of a Big5
// character (which may be any of 0x40 to 0x7E) is part of that character
// and never a letter of its own.
std::string FoldCase(std::string_view s, char from, char to) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 0x81) {
      ++i;  // a lead byte and its trail byte
    } else if (out[i] >= from && out[i] <= from + 25) {
      out[i] = static_cast<char>(out[i] - from + to);
    }
  }
  return out;
}

}  // namespace

std::string ToUpperAscii(std::string_view s) { return FoldCase(s, 'a', 'A'); }

std::string ToLowerAscii(std::string_view s) { return FoldCase(s, 'A', 'a'); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string FirstWordUpper(std::string_view line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::string();
  size_t end = line.find_first_of(" \t", start);
  return ToUpperAscii(line.substr(start, end == std::string_view::npos ? end : end - start));
}

std::string Trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::vector<std::string> SplitText(std::string_view s, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(separator, start);
    pieces.emplace_back(s.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return pieces;
    start = at + 1;
  }
}

}  // namespace heron
