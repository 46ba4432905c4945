#include "run_row.h"

#include <cstdint>

#include <nlohmann/json.hpp>

#include "download/sha256.h"
#include "station/result.h"

namespace brenvik::records {

const std::array<const char*, kColumnCount> kColumnNames = {
    "run_id", "station", "time", "image", "image_bytes", "size", "sha256", "kind", "device", "device_bytes",
    "usb_port", "usb_serial", "bytes_sent", "seconds", "average_rate", "result", "cause"};

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

enum class Kind { kText, kWhole, kNumber };

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
  struct Field {
    Column column;
    Kind kind;
    bool required;
  };
  static const Field fields[] = {
      {kRunId, Kind::kText, false},     {kStation, Kind::kText, false},     {kTime, Kind::kText, true},
      {kImage, Kind::kText, true},      {kImageBytes, Kind::kText, false},  {kSize, Kind::kWhole, false},
      {kSha256, Kind::kText, false},    {kKind, Kind::kWhole, false},       {kDevice, Kind::kText, false},
      {kDeviceBytes, Kind::kText, false}, {kUsbPort, Kind::kText, false},   {kUsbSerial, Kind::kText, false},
      {kBytesSent, Kind::kWhole, false}, {kSeconds, Kind::kNumber, false},  {kAverageRate, Kind::kWhole, false},
      {kResult, Kind::kText, true},     {kCause, Kind::kText, false}};
  Row row;
  for (const Field& f : fields)
    if (!Take(j, kColumnNames[f.column], f.kind, f.required, row[f.column], why)) return std::nullopt;
  if (!IsLogTime(*row[kTime])) {
    why = "its time is not UTC in ISO 8601 (2026-12-07T14:30:05.123Z)";
    return std::nullopt;
  }
  if (!station::ParseResult(*row[kResult])) {
    why = "its result is none of success, failed, stopped";
    return std::nullopt;
  }
  for (Column hex : {kImageBytes, kDeviceBytes, kSha256})
    if (row[hex] && !IsHex(*row[hex])) {
      why = std::string(kColumnNames[hex]) + " is not lowercase hex";
      return std::nullopt;
    }
  if (row[kRunId] && !IsUuid(*row[kRunId])) {
    why = "its run_id is no UUID";
    return std::nullopt;
  }
  if (!row[kRunId]) row[kRunId] = LineRunId(line);
  return row;
}

}  // namespace brenvik::records
