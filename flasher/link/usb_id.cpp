#include <cstdio>

#include "link/device_discovery.h"

namespace brenvik {

bool ParseUsbId(const std::string& text, UsbId& id) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  auto hex = [](const std::string& part, uint16_t& out) {
    if (part.empty() || part.size() > 4) return false;
    unsigned v = 0;
    for (char c : part) {
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + unsigned(d);
    }
    out = uint16_t(v);
    return true;
  };
  UsbId parsed;
  if (!hex(text.substr(0, colon), parsed.vendor) || !hex(text.substr(colon + 1), parsed.product)) return false;
  id = parsed;
  return true;
}

std::string UsbIdText(const UsbId& id) {
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
  return text;
}

}  // namespace brenvik
