#include "text/printable.h"

#include <cstdio>

namespace brenvik::text {
namespace {

// The length of the well-formed UTF-8 sequence at `s` (overlong forms, surrogates and code
// points above U+10FFFF are not), 0 for none; its code point in `cp`.
size_t Utf8Sequence(std::string_view s, char32_t& cp) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (n == 0 || s.size() < n) return 0;
  cp = lead & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char escape[8];
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const size_t n = c >= 0x80 ? Utf8Sequence(text.substr(i), cp) : 0;
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
      ++i;
    } else if (cp <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(cp));
      out += escape;
      i += n;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace brenvik::text
