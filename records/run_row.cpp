#include "run_row.h"

#include <cmath>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "download/sha256.h"
#include "station/result.h"
#include "utc_time.h"

namespace brenvik::records {

namespace {

using nlohmann::json;

bool IsHex(std::string_view s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool IsUuid(std::string_view s) {
  if (s.size() != 36) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !IsHex(s.substr(i, 1))) return false;
  }
  return true;
}

using Kind = ValueKind;

// Whether a whole number fits the column's SQL type: INTEGER is 32-bit, BIGINT 64-bit.
bool FitsType(const json& value, SqlType sql) {
  if (value.is_number_unsigned()) return value.get<uint64_t>() <= (sql == SqlType::kInteger ? uint64_t(INT32_MAX) : uint64_t(INT64_MAX));
  const int64_t v = value.get<int64_t>();
  return sql != SqlType::kInteger || (v >= INT32_MIN && v <= INT32_MAX);
}

// A value of the line as the column's text; `why` says what is wrong with it. Whatever it
// takes, both databases take alike.
bool Take(const json& line, const ColumnDefinition& c, std::optional<std::string>& out, std::string& why) {
  const auto it = line.find(c.name);
  if (it == line.end() || it->is_null()) {
    if (c.required) why = std::string("it has no ") + c.name;
    return !c.required;
  }
  switch (c.kind) {
    case Kind::kText:
      if (!it->is_string()) break;
      out = it->get<std::string>();
      // PostgreSQL keeps no NUL in a text; SQLite would cut it at one.
      if (out->find('\0') != std::string::npos) {
        why = std::string(c.name) + " holds a NUL character";
        return false;
      }
      if (c.maxBytes && out->size() > c.maxBytes) {
        why = std::string(c.name) + " is longer than " + std::to_string(c.maxBytes) + " bytes";
        return false;
      }
      return true;
    case Kind::kWhole:
      if (!it->is_number_integer()) break;
      if (!FitsType(*it, c.sql)) {
        why = std::string(c.name) + " is out of range for a " + (c.sql == SqlType::kInteger ? "32" : "64") + "-bit number";
        return false;
      }
      out = it->dump();
      return true;
    case Kind::kNumber:
      if (!it->is_number()) break;
      if (!std::isfinite(it->get<double>())) {
        why = std::string(c.name) + " is no finite number";
        return false;
      }
      out = it->dump();
      return true;
  }
  why = std::string(c.name) + " is not " + (c.kind == Kind::kText ? "a text" : c.kind == Kind::kWhole ? "a whole number" : "a number");
  return false;
}

// Whether the text has the form; a time is put in the records' one.
bool HasForm(Form form, std::string& text) {
  switch (form) {
    case Form::kAny: return true;
    case Form::kUtcTime: {
      auto time = NormaliseLogTime(text);
      if (time) text = std::move(*time);
      return time.has_value();
    }
    case Form::kLowerHex: return IsHex(text);
    case Form::kUuid: return IsUuid(text);
    case Form::kResult: return station::ParseResult(text).has_value();
  }
  return false;
}

std::string FormFault(Form form, const char* name) {
  switch (form) {
    case Form::kUtcTime:
      return std::string("its ") + name + " is no time of the calendar in ISO 8601 (2026-12-07T14:30:05.123Z)";
    case Form::kResult: return std::string("its ") + name + " is none of success, failed, stopped";
    case Form::kLowerHex: return std::string(name) + " is not lowercase hex";
    case Form::kUuid: return std::string("its ") + name + " is no UUID";
    case Form::kAny: break;
  }
  return std::string(name) + " is malformed";
}

}  // namespace

std::string LineRunId(std::string_view line) {
  Sha256 sha;
  sha.Update(reinterpret_cast<const uint8_t*>(line.data()), line.size());
  std::array<uint8_t, 32> d = sha.Final();
  d[6] = uint8_t((d[6] & 0x0F) | 0x80);  // version 8: made by its own rule
  d[8] = uint8_t((d[8] & 0x3F) | 0x80);  // the variant of RFC 9562
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += {digits[d[i] >> 4], digits[d[i] & 15]};
  }
  return id;
}

std::optional<Row> ParseLogLine(std::string_view line, std::string& why) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  json j;
  try {
    j = json::parse(line);
  } catch (const json::exception&) {
    why = "it is no JSON (cut short?)";
    return std::nullopt;
  }
  if (!j.is_object()) {
    why = "it is no JSON object";
    return std::nullopt;
  }
  Row row;
  for (size_t c = 0; c < kColumnCount; ++c)
    if (!Take(j, kColumns[c], row[c], why)) return std::nullopt;
  // The forms are checked after every kind, the time and the result first.
  for (const Form form : {Form::kUtcTime, Form::kResult, Form::kLowerHex, Form::kUuid})
    for (size_t c = 0; c < kColumnCount; ++c)
      if (kColumns[c].form == form && row[c] && !HasForm(form, *row[c])) {
        why = FormFault(form, kColumns[c].name);
        return std::nullopt;
      }
  if (!row[kRunId]) row[kRunId] = LineRunId(line);
  return row;
}

}  // namespace brenvik::records
