#include "text/html_text.h"

#include "text/printable.h"

namespace brenvik::text {

std::string HtmlText(std::string_view text) {
  std::string out;
  for (char c : Printable(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace brenvik::text
