// Written by hand rather than taken from fnmatch: the core is also built for Windows, which
// has none.
#include "station/glob.h"

#include <cstddef>

namespace brenvik::station {
namespace {

constexpr size_t npos = std::string_view::npos;

// The set whose contents start at pattern[at], just after its `[`: whether it holds c, and
// the position after its `]`; npos when it is not closed. A `]` first in the set belongs to it.
size_t MatchSet(std::string_view pattern, size_t at, char c, bool& holds) {
  bool negate = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
  if (negate) ++at;
  bool found = false;
  for (size_t i = at; i < pattern.size(); ++i) {
    if (pattern[i] == ']' && i > at) {
      holds = found != negate;
      return i + 1;
    }
    char low = pattern[i];
    char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = pattern[i + 2];
      i += 2;
    }
    if (low <= c && c <= high) found = true;
  }
  return npos;
}

// Whether the one-character element at pattern[p] (anything but `*`) takes c; `next` is
// where the element ends.
bool TakesChar(std::string_view pattern, size_t p, char c, size_t& next) {
  switch (pattern[p]) {
    case '?':
      next = p + 1;
      return true;
    case '[': {
      bool holds = false;
      size_t end = MatchSet(pattern, p + 1, c, holds);
      if (end == npos) break;  // unclosed: a plain `[`
      next = end;
      return holds;
    }
    case '\\':
      if (p + 1 == pattern.size()) break;
      next = p + 2;
      return pattern[p + 1] == c;
    default:
      break;
  }
  next = p + 1;
  return pattern[p] == c;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  // The last `*` and the text it has taken so far: on a mismatch it takes one character more.
  // Going back to the last star alone is enough, so the work stays pattern times text.
  size_t starP = npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    size_t next = 0;
    if (p < pattern.size() && TakesChar(pattern, p, text[t], next)) {
      p = next;
      ++t;
      continue;
    }
    if (starP == npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace brenvik::station
