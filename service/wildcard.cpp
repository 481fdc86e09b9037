#include "service/wildcard.h"

namespace heron {

bool WildcardMatch(std::string_view pattern, std::string_view text) {
  // Iterative match with backtracking to the last "*": linear in practice,
  // never recursive, so hostile patterns cannot exhaust the stack.
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace heron
