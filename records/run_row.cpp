#include "run_row.h"

#include <cstdint>

#include <nlohmann/json.hpp>

#include "download/sha256.h"
#include "station/result.h"

namespace brenvik::records {

namespace {

using nlohmann::json;

bool Digits(std::string_view s, size_t at, size_t n) {
  if (at + n > s.size()) return false;
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// "2026-12-07T14:30:05.123Z": the records sort and group by this text, so only UTC in this
// one form goes in.
bool IsLogTime(std::string_view t) {
  if (t.size() < 20 || t.back() != 'Z') return false;
  if (!Digits(t, 0, 4) || t[4] != '-' || !Digits(t, 5, 2) || t[7] != '-' || !Digits(t, 8, 2) || t[10] != 'T' ||
      !Digits(t, 11, 2) || t[13] != ':' || !Digits(t, 14, 2) || t[16] != ':' || !Digits(t, 17, 2))
    return false;
  if (t.size() == 20) return true;
  return t[19] == '.' && t.size() > 21 && Digits(t, 20, t.size() - 21);
}

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

// A value of the line as the column's text; `why` says what is wrong with it.
bool Take(const json& line, const char* key, Kind kind, bool required, std::optional<std::string>& out,
          std::string& why) {
  const auto it = line.find(key);
  if (it == line.end() || it->is_null()) {
    if (required) why = std::string("it has no ") + key;
    return !required;
  }
  switch (kind) {
    case Kind::kText:
      if (!it->is_string()) break;
      out = it->get<std::string>();
      // PostgreSQL keeps no NUL in a text; SQLite would cut it at one.
      if (out->find('\0') != std::string::npos) {
        why = std::string(key) + " holds a NUL character";
        return false;
      }
      return true;
    case Kind::kWhole:
      // A BIGINT column takes no more than a signed 64-bit number.
      if (!it->is_number_integer() || (it->is_number_unsigned() && it->get<uint64_t>() > uint64_t(INT64_MAX)))
        break;
      out = it->dump();
      return true;
    case Kind::kNumber:
      if (!it->is_number()) break;
      out = it->dump();
      return true;
  }
  why = std::string(key) + " is not " + (kind == Kind::kText ? "a text" : kind == Kind::kWhole ? "a whole number" : "a number");
  return false;
}

bool HasForm(Form form, const std::string& text) {
  switch (form) {
    case Form::kAny: return true;
    case Form::kUtcTime: return IsLogTime(text);
    case Form::kLowerHex: return IsHex(text);
    case Form::kUuid: return IsUuid(text);
    case Form::kResult: return station::ParseResult(text).has_value();
  }
  return false;
}

std::string FormFault(Form form, const char* name) {
  switch (form) {
    case Form::kUtcTime: return std::string("its ") + name + " is not UTC in ISO 8601 (2026-12-07T14:30:05.123Z)";
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
    if (!Take(j, kColumns[c].name, kColumns[c].kind, kColumns[c].required, row[c], why)) return std::nullopt;
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
