// JSON as brenvik-cli writes it: one object per line, text that is no UTF-8 replaced rather
// than thrown on, and null where a value is not known.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brenvik::text {

inline std::string JsonLine(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Whether the text is UTF-8 that a JSON line carries as it is.
inline bool IsUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// A name's bytes as lower-case hex: how a line keeps a name that is no UTF-8, beside it.
inline std::string HexBytes(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
  return hex;
}

// The bytes back from HexBytes's text (as the records keep it, checked to be lower-case hex).
inline std::string BytesOfHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

inline nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

inline nlohmann::json TextOrNull(const std::optional<std::string>& text) {
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

// A rate or a count, rounded to a whole number.
inline nlohmann::json WholeOrNull(const std::optional<double>& value) {
  return value ? nlohmann::json(uint64_t(std::llround(*value))) : nlohmann::json(nullptr);
}

}  // namespace brenvik::text
