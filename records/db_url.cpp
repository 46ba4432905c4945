#include "db_url.h"

#include <cstdlib>

namespace brenvik::records {
namespace {

bool StartsWith(const std::string& s, const char* head) { return s.rfind(head, 0) == 0; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 &&
        HexValue(s[i + 2]) >= 0) {
      out += char(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Puts "***" over [from, to) of `shown` and keeps the value as a secret.
void Mask(DbUrl& url, size_t from, size_t to) {
  if (to <= from) return;
  const std::string secret = url.shown.substr(from, to - from);
  url.secrets.push_back(secret);
  if (const std::string decoded = PercentDecoded(secret); decoded != secret) url.secrets.push_back(decoded);
  url.shown.replace(from, to - from, "***");
}

// "password=..." in a URL's query or a key=value string (quoted or not).
void MaskPasswordKeys(DbUrl& url, bool inUrl) {
  size_t at = 0;
  while ((at = url.shown.find("password", at)) != std::string::npos) {
    const bool keyStart = at == 0 || url.shown[at - 1] == (inUrl ? '&' : ' ') || url.shown[at - 1] == '?' ||
                          url.shown[at - 1] == ' ' || url.shown[at - 1] == '\t';
    size_t eq = at + 8;
    while (!inUrl && eq < url.shown.size() && url.shown[eq] == ' ') ++eq;
    if (!keyStart || eq >= url.shown.size() || url.shown[eq] != '=') {
      at += 8;
      continue;
    }
    size_t from = eq + 1;
    while (!inUrl && from < url.shown.size() && url.shown[from] == ' ') ++from;
    size_t to = from;
    if (!inUrl && from < url.shown.size() && url.shown[from] == '\'') {
      to = from + 1;
      while (to < url.shown.size() && url.shown[to] != '\'') to += url.shown[to] == '\\' ? 2 : 1;
      to = std::min(to + 1, url.shown.size());
    } else {
      while (to < url.shown.size() && url.shown[to] != (inUrl ? '&' : ' ') && url.shown[to] != '#') ++to;
    }
    const std::string quoted = url.shown.substr(from, to - from);
    Mask(url, from, to);
    if (quoted.size() >= 2 && quoted.front() == '\'') url.secrets.push_back(quoted.substr(1, quoted.size() - 2));
    at = from + 3;
  }
}

}  // namespace

std::string DbUrl::Scrub(std::string text) const {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t at = 0; (at = text.find(secret, at)) != std::string::npos; at += 3) text.replace(at, secret.size(), "***");
  }
  return text;
}

std::optional<DbUrl> ParseDbUrl(const std::string& text, std::string& error) {
  DbUrl url;
  url.shown = text;
  if (StartsWith(text, "sqlite:")) {
    url.target = text.substr(7);
    if (url.target.empty()) {
      error = "the database sqlite: names no file: give sqlite:PATH";
      return std::nullopt;
    }
    return url;
  }
  url.kind = DbUrl::Kind::kPostgres;
  url.target = text;
  if (StartsWith(text, "postgresql://") || StartsWith(text, "postgres://")) {
    const size_t start = text.find("://") + 3;
    const size_t end = std::min(text.find_first_of("/?#", start), text.size());
    const size_t at = text.rfind('@', end == std::string::npos ? text.size() : end);
    if (at != std::string::npos && at >= start) {
      const size_t colon = text.find(':', start);
      if (colon != std::string::npos && colon < at) Mask(url, colon + 1, at);
    }
    MaskPasswordKeys(url, true);
    return url;
  }
  if (text.find('=') != std::string::npos) {  // a libpq connection string: host=... dbname=...
    MaskPasswordKeys(url, false);
    return url;
  }
  // Not shown: whatever it is, it may hold a password.
  error = "the database named is not one brenvik-cli knows: give sqlite:PATH or postgresql://...";
  return std::nullopt;
}

std::optional<std::string> DefaultDbPath(std::string& error) {
  const char* state = std::getenv("XDG_STATE_HOME");
  // The XDG rule: a relative value is ignored.
  if (state && state[0] == '/') return std::string(state) + "/brenvik/records.db";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/brenvik/records.db";
  error = "no database is named and neither XDG_STATE_HOME nor HOME is set: give --db sqlite:PATH";
  return std::nullopt;
}

std::optional<DbUrl> ChooseDbUrl(const std::string& given, std::string& error) {
  if (!given.empty()) return ParseDbUrl(given, error);
  if (const char* env = std::getenv("BRENVIK_DB"); env && *env) return ParseDbUrl(env, error);
  const auto path = DefaultDbPath(error);
  if (!path) return std::nullopt;
  return ParseDbUrl("sqlite:" + *path, error);
}

}  // namespace brenvik::records
