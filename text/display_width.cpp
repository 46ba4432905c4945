#include "text/display_width.h"

namespace brenvik::text {
namespace {

// One UTF-8 character at `text[i]`: its length in bytes and its code point (-1 when malformed).
long Decode(std::string_view text, size_t i, size_t* length) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > text.size()) {
    *length = 1;
    return -1;
  }
  long cp = n == 1 ? c : c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) {
      *length = 1;
      return -1;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  *length = n;
  return cp;
}

size_t Columns(long cp) {
  if (cp >= 0x300 && cp <= 0x36F) return 0;  // combining marks sit on the character before
  const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                    (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
                    (cp >= 0x20000 && cp <= 0x3FFFD);
  return wide ? 2 : 1;
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0, n = 0; i < text.size(); i += n) {
    const long cp = Decode(text, i, &n);
    width += cp < 0 ? 1 : Columns(cp);
  }
  return width;
}

std::string CutToWidth(std::string_view text, size_t width) {
  size_t used = 0, i = 0;
  for (size_t n = 0; i < text.size(); i += n) {
    const long cp = Decode(text, i, &n);
    const size_t w = cp < 0 ? 1 : Columns(cp);
    if (used + w > width) break;
    used += w;
  }
  return std::string(text.substr(0, i));
}

std::string ShortenMiddle(std::string_view text, size_t width) {
  if (DisplayWidth(text) <= width) return std::string(text);
  if (width < 3) return CutToWidth(text, width);
  const size_t tailWidth = (width - 1) / 2;
  const std::string head = CutToWidth(text, width - 1 - tailWidth);
  // The tail: the shortest end of the text that takes no more than its share.
  size_t start = text.size();
  while (start > 0) {
    size_t begin = start - 1;
    while (begin > 0 && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80) --begin;
    if (DisplayWidth(text.substr(begin)) > tailWidth) break;
    start = begin;
  }
  return head + "\xE2\x80\xA6" + std::string(text.substr(start));
}

}  // namespace brenvik::text
