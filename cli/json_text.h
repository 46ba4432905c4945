// JSON as brenvik-cli writes it: one object per line, text that is no UTF-8 replaced rather
// than thrown on, and null where a value is not known.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brenvik::cli {

inline std::string JsonLine(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

inline nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

inline nlohmann::json TextOrNull(const std::optional<std::string>& text) {
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

}  // namespace brenvik::cli
