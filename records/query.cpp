#include "query.h"

#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "station/result.h"
#include "text/json_text.h"
#include "utc_time.h"

namespace brenvik::records {
namespace {

std::string UtcText(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::time_t LocalMidnight(std::time_t now, int daysBack) {
  std::tm tm{};
  localtime_r(&now, &tm);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_mday -= daysBack;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// Reads `n` digits at `at` into `value`.
bool Number(const std::string& s, size_t& at, size_t n, int& value) {
  if (at + n > s.size()) return false;
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = s[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  at += n;
  return true;
}

std::optional<std::string> ParseIso(const std::string& s) {
  std::tm tm{};
  size_t at = 0;
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!Number(s, at, 4, year) || s.size() <= at || s[at++] != '-' || !Number(s, at, 2, month) || s.size() <= at ||
      s[at++] != '-' || !Number(s, at, 2, day))
    return std::nullopt;
  std::string fraction = "000";
  bool utc = false;
  long offset = 0;  // seconds east of UTC
  if (at < s.size() && (s[at] == 'T' || s[at] == ' ')) {
    ++at;
    if (!Number(s, at, 2, hour) || s.size() <= at || s[at++] != ':' || !Number(s, at, 2, minute)) return std::nullopt;
    if (at < s.size() && s[at] == ':') {
      ++at;
      if (!Number(s, at, 2, second)) return std::nullopt;
      if (at < s.size() && (s[at] == '.' || s[at] == ',')) {
        fraction.clear();
        for (++at; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at)
          if (fraction.size() < 3) fraction += s[at];
        if (fraction.empty()) return std::nullopt;
        fraction.resize(3, '0');
      }
    }
    if (at < s.size() && s[at] == 'Z') {
      utc = true;
      ++at;
    } else if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
      const int sign = s[at++] == '-' ? -1 : 1;
      int oh, om = 0;
      if (!Number(s, at, 2, oh)) return std::nullopt;
      if (at < s.size() && s[at] == ':') ++at;
      if (at < s.size() && !Number(s, at, 2, om)) return std::nullopt;
      if (om > 59 || !IsZoneOffset(oh * 60 + om)) return std::nullopt;
      utc = true;
      offset = sign * (oh * 3600L + om * 60L);
    }
  }
  if (at != s.size() || !IsCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const std::time_t t = utc ? timegm(&tm) - offset : std::mktime(&tm);
  std::string text = UtcText(t);
  return text.replace(20, 3, fraction);
}

}  // namespace

std::optional<std::string> ParseWhen(const std::string& text, std::time_t now) {
  if (text == "now") return UtcText(now);
  if (text == "today") return UtcText(LocalMidnight(now, 0));
  if (text == "yesterday") return UtcText(LocalMidnight(now, 1));
  if (text.size() >= 3 && text[0] == '-') {
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str() + 1, &end, 10);
    const std::string unit(end);
    const long long scale = unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
    if (text[1] >= '0' && text[1] <= '9' && scale && n >= 0 && n < 1000000LL * 86400 / scale)
      return UtcText(now - std::time_t(n * scale));
    return std::nullopt;
  }
  return ParseIso(text);
}

std::string PrefixEnd(const std::string& prefix) {
  std::string end = prefix;
  while (!end.empty()) {
    // The last character (not byte) is raised by one, so that the bound stays UTF-8 for
    // PostgreSQL; a character at its top is dropped and the one before raised.
    size_t start = end.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(end[start]) & 0xC0) == 0x80) --start;
    std::string last = end.substr(start);
    end.resize(start);
    const auto* b = reinterpret_cast<const unsigned char*>(last.data());
    unsigned cp = 0;
    if (last.size() == 1) cp = b[0];
    else if (last.size() == 2) cp = ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
    else if (last.size() == 3) cp = ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
    else if (last.size() == 4) cp = ((b[0] & 0x07u) << 18) | ((b[1] & 0x3Fu) << 12) | ((b[2] & 0x3Fu) << 6) | (b[3] & 0x3Fu);
    else continue;
    ++cp;
    if (cp == 0xD800) cp = 0xE000;
    if (cp == 0x80 && last.size() == 1 && b[0] == 0x7F) { end += char(0xC2); end += char(0x80); return end; }
    if (cp < 0x80) end += char(cp);
    else if (cp < 0x800) { end += char(0xC0 | (cp >> 6)); end += char(0x80 | (cp & 0x3F)); }
    else if (cp < 0x10000) { end += char(0xE0 | (cp >> 12)); end += char(0x80 | ((cp >> 6) & 0x3F)); end += char(0x80 | (cp & 0x3F)); }
    else if (cp <= 0x10FFFF) { end += char(0xF0 | (cp >> 18)); end += char(0x80 | ((cp >> 12) & 0x3F)); end += char(0x80 | ((cp >> 6) & 0x3F)); end += char(0x80 | (cp & 0x3F)); }
    else continue;
    return end;
  }
  return end;
}

std::optional<Where> BuildWhere(const Filter& f, std::time_t now, std::string& error) {
  Where w;
  auto add = [&](Column column, Compare compare, const std::string& value) { w.push_back({column, compare, value}); };
  // A prefix is a range on the column's index.
  auto prefix = [&](Column column, const std::string& value) {
    if (value.empty()) return;
    add(column, Compare::kAtLeast, value);
    if (const std::string end = PrefixEnd(value); !end.empty()) add(column, Compare::kBelow, end);
  };
  // The log writes a name that is no UTF-8 with U+FFFD for each byte that is not; a filter is
  // taken the same way, so that it finds what the log holds, and both databases (PostgreSQL
  // takes no such bytes at all) answer alike.
  auto asLogged = [](const std::string& given) {
    return text::IsUtf8(given) ? given : nlohmann::json::parse(text::JsonLine(given)).get<std::string>();
  };
  prefix(kUsbSerial, asLogged(f.serialPrefix));
  std::string sha = asLogged(f.sha256Prefix);
  for (char& c : sha)
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  prefix(kSha256, sha);
  // A path that is no UTF-8 is found by its bytes, as the log keeps them.
  for (const auto& [given, column, bytes] :
       {std::tuple{f.image, kImage, kImageBytes}, std::tuple{f.device, kDevice, kDeviceBytes}}) {
    if (given.empty()) continue;
    if (text::IsUtf8(given))
      add(column, Compare::kEqual, given);
    else
      add(bytes, Compare::kEqual, text::HexBytes(given));
  }
  if (!f.usbPort.empty()) add(kUsbPort, Compare::kEqual, asLogged(f.usbPort));
  if (!f.station.empty()) add(kStation, Compare::kEqual, asLogged(f.station));
  if (!f.result.empty()) {
    if (!station::ParseResult(f.result)) {
      error = "--result must be success, failed or stopped";
      return std::nullopt;
    }
    add(kResult, Compare::kEqual, f.result);
  }
  struct Bound {
    const std::string& given;
    Compare compare;
    const char* name;
  };
  for (const Bound& b : {Bound{f.since, Compare::kAtLeast, "--since"}, Bound{f.until, Compare::kBelow, "--until"}}) {
    const auto& [given, compare, name] = b;
    if (given.empty()) continue;
    const auto when = ParseWhen(given, now);
    if (!when) {
      error = std::string(name) + " must be a time in ISO 8601 (2026-12-07, 2026-12-07T14:30, ...Z), today, "
              "yesterday, or back from now such as -8h, -30m, -2d";
      return std::nullopt;
    }
    add(kTime, compare, *when);
  }
  return w;
}

}  // namespace brenvik::records
