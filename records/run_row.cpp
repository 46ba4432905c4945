#include "run_row.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include <simdjson.h>

#include "download/sha256.h"
#include "station/result.h"
#include "utc_time.h"

namespace brenvik::records {

namespace {

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

// A number as its column's text: a whole one as written, any other in the shortest form
// that reads back as the same double, with ".0" where it would look whole.
std::string NumberText(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  std::string out(text, end);
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

// A value of the line as the column's text; `why` says what is wrong with it. Whatever it
// takes, both databases take alike.
bool Take(simdjson::dom::object line, const ColumnDefinition& c, std::optional<std::string>& out, std::string& why) {
  simdjson::dom::element value;
  if (line.at_key(c.name).get(value) != simdjson::SUCCESS || value.is_null()) {
    if (c.required) why = std::string("it has no ") + c.name;
    return !c.required;
  }
  switch (c.kind) {
    case Kind::kText: {
      std::string_view text;
      if (value.get_string().get(text) != simdjson::SUCCESS) break;
      // PostgreSQL keeps no NUL in a text; SQLite would cut it at one.
      if (text.find('\0') != std::string_view::npos) {
        why = std::string(c.name) + " holds a NUL character";
        return false;
      }
      if (c.maxBytes && text.size() > c.maxBytes) {
        why = std::string(c.name) + " is longer than " + std::to_string(c.maxBytes) + " bytes";
        return false;
      }
      out = std::string(text);
      return true;
    }
    case Kind::kWhole: {
      if (!value.is_int64() && !value.is_uint64()) break;
      // INTEGER is 32-bit, BIGINT 64-bit: a number past its type is no value of the column.
      const bool fits = value.is_int64() && (c.sql != SqlType::kInteger ||
                                             (int64_t(value) >= INT32_MIN && int64_t(value) <= INT32_MAX));
      if (!fits) {
        why = std::string(c.name) + " is out of range for a " + (c.sql == SqlType::kInteger ? "32" : "64") + "-bit number";
        return false;
      }
      out = std::to_string(int64_t(value));
      return true;
    }
    case Kind::kNumber:
      if (value.is_int64()) {
        out = std::to_string(int64_t(value));
      } else if (value.is_uint64()) {
        out = std::to_string(uint64_t(value));
      } else if (value.is_double()) {
        const double number = double(value);
        if (!std::isfinite(number)) {
          why = std::string(c.name) + " is no finite number";
          return false;
        }
        out = NumberText(number);
      } else {
        break;
      }
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
  // One parser per thread (the importer's, a writer's), its buffers kept from line to line.
  thread_local simdjson::dom::parser parser;
  simdjson::dom::element document;
  if (parser.parse(line.data(), line.size(), true).get(document) != simdjson::SUCCESS) {
    why = "it is no JSON (cut short?)";
    return std::nullopt;
  }
  simdjson::dom::object j;
  if (document.get_object().get(j) != simdjson::SUCCESS) {
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
