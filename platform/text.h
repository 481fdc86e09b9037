// Text helpers: the system keeps user-visible texts as 8-bit Big5 (code page
// 950); source files are UTF-8. Conversion happens here and nowhere else.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

// Converts UTF-8 to Big5. Characters without a Big5 form become '?'.
std::string Utf8ToBig5(std::string_view utf8);

// Converts Big5 to UTF-8. Undecodable bytes become U+FFFD.
std::string Big5ToUtf8(std::string_view big5);

// Converts UTF-16LE code units (as raw bytes) to Big5; used for the wide
// entries of stored lists.
std::string Utf16LeToBig5(std::string_view utf16le);

// Big5 form of a UTF-8 string literal, converted once and kept for the life
// of the process. The argument must be a literal (its address is the key).
const char* B5(const char* utf8_literal);

// printf into a std::string.
std::string StrPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string StrVPrintf(const char* fmt, va_list ap);

// A decimal number read the way atoi reads it (leading blanks, a sign,
// digits; 0 without digits), saturating at the int range instead of
// overflowing.
int ReadDecimal(std::string_view text);

// Doubles every '%' so that outside text can pass through a formatter.
std::string DoublePercent(std::string_view text);

// ASCII letter case and blanks; the bytes of Big5 characters (a byte from
// 0x81 up and the byte after it) are left as they are.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
std::string ToUpperAscii(std::string_view s);
std::string ToLowerAscii(std::string_view s);
// Without leading and trailing blanks, tabs, CR and LF.
std::string Trim(std::string_view s);
// The pieces of `s` between the separators (an empty `s` gives one empty piece).
std::vector<std::string> SplitText(std::string_view s, char separator);
// The first word of a command line, upper case: after leading blanks and
// tabs, up to the next blank or tab.
std::string FirstWordUpper(std::string_view line);

}  // namespace heron
