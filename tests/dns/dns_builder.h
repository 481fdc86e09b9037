// Builds DNS messages byte by byte for the codec and lookup tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace heron::dnstest {

constexpr uint16_t kFlagsResponse = 0x8180;  // QR, RD, RA; not authoritative
constexpr uint16_t kFlagsAuthoritative = 0x8580;
constexpr uint16_t kTypeNs = 2;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeTxt = 16;
constexpr unsigned kQuestionName = 12;  // offset of the first question's name

inline std::string U16(unsigned v) {
  return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string U32(uint32_t v) { return U16(v >> 16) + U16(v & 0xFFFF); }

// Labels of a dotted name and the terminating zero.
inline std::string Name(std::string_view dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t dot = dotted.find('.', start);
    if (dot == std::string_view::npos) dot = dotted.size();
    out += static_cast<char>(dot - start);
    out.append(dotted.substr(start, dot - start));
    start = dot + 1;
  }
  return out + '\0';
}
inline std::string Pointer(unsigned offset) { return U16(0xC000 | offset); }

inline std::string Question(std::string_view name) { return Name(name) + U16(15) + U16(1); }

inline std::string Record(const std::string& owner, uint16_t type, const std::string& rdata) {
  return owner + U16(type) + U16(1) + U32(3600) + U16(static_cast<unsigned>(rdata.size())) + rdata;
}
inline std::string Mx(unsigned preference, std::string_view exchange) {
  return Record(Pointer(kQuestionName), 15, U16(preference) + Name(exchange));
}
inline std::string A(const std::string& owner, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return Record(owner, 1,
                std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                            static_cast<char>(d)});
}

// A message with one question (`question` already encoded, empty for none).
inline std::string Message(uint16_t id, uint16_t flags, const std::string& question,
                           const std::vector<std::string>& answers,
                           const std::vector<std::string>& authorities = {},
                           const std::vector<std::string>& additionals = {}) {
  std::string out = U16(id) + U16(flags) + U16(question.empty() ? 0 : 1) +
                    U16(static_cast<unsigned>(answers.size())) +
                    U16(static_cast<unsigned>(authorities.size())) +
                    U16(static_cast<unsigned>(additionals.size())) + question;
  for (const auto* section : {&answers, &authorities, &additionals}) {
    for (const std::string& r : *section) out += r;
  }
  return out;
}

// The reply to `request`: its id and question, then the given sections.
inline std::string ReplyTo(const std::string& request, uint16_t flags,
                           const std::vector<std::string>& answers,
                           const std::vector<std::string>& authorities = {},
                           const std::vector<std::string>& additionals = {}) {
  uint16_t id = static_cast<uint16_t>((static_cast<uint8_t>(request[0]) << 8) |
                                      static_cast<uint8_t>(request[1]));
  return Message(id, flags, request.substr(12), answers, authorities, additionals);
}

}  // namespace heron::dnstest
