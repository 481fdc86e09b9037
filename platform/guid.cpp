#include "platform/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

namespace heron {

std::string NewGuidHex() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // No kernel randomness: fall back to the library's generator.
      std::random_device rd;
      for (size_t i = got; i < sizeof b; ++i) b[i] = static_cast<uint8_t>(rd());
      break;
    }
    got += static_cast<size_t>(n);
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(32, '0');
  for (size_t i = 0; i < 16; ++i) {
    out[2 * i] = kHex[b[i] >> 4];
    out[2 * i + 1] = kHex[b[i] & 0x0F];
  }
  return out;
}

}  // namespace heron
