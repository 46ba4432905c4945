#include "db_url.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <memory>

namespace brenvik::records {
namespace {

bool StartsWith(const std::string& s, const char* head) { return s.rfind(head, 0) == 0; }

bool StartsWithNoCase(const std::string& s, const std::string& head) {
  if (s.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != head[i]) return false;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out += char(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// A stretch of the text that holds a password, and the password it says once read.
struct Span {
  size_t from, to;
  std::string value;
};

// The passwords of a URL as libpq reads one: "user:PASSWORD@" up to the first '@' before
// any '/' ('#' and '?' are part of it), and "password=" among the parameters after '?'. An
// '@' meant as part of the password (libpq takes what follows it as the host) is masked too.
std::vector<Span> UrlPasswords(const std::string& text) {
  std::vector<Span> spans;
  const size_t start = text.find("://") + 3;
  const size_t userEnd = text.find_first_of("@/", start);
  size_t hostStart = start;
  if (userEnd != std::string::npos && text[userEnd] == '@') {
    const size_t lastAt = text.rfind('@', text.find('/', userEnd));
    const size_t colon = text.find(':', start);
    if (colon < userEnd)
      spans.push_back({colon + 1, lastAt, PercentDecoded(text.substr(colon + 1, userEnd - colon - 1))});
    hostStart = lastAt + 1;
  }
  const size_t query = text.find('?', hostStart);
  for (size_t at = query; at != std::string::npos && at < text.size();) {
    const size_t from = at + 1;
    const size_t end = std::min(text.find('&', from), text.size());
    const size_t eq = text.find('=', from);
    if (eq < end && PercentDecoded(text.substr(from, eq - from)) == "password")
      spans.push_back({eq + 1, end, PercentDecoded(text.substr(eq + 1, end - eq - 1))});
    at = end;
  }
  return spans;
}

// The passwords of a "key = value" connection string as libpq reads one: a value is quoted
// ('...', with backslash escapes) or runs to the next blank (a backslash escapes one too).
std::vector<Span> KeywordPasswords(const std::string& text) {
  std::vector<Span> spans;
  auto blank = [&](size_t i) { return i < text.size() && std::isspace(static_cast<unsigned char>(text[i])); };
  size_t i = 0;
  while (i < text.size()) {
    while (blank(i)) ++i;
    if (i >= text.size()) break;
    const size_t keyFrom = i;
    while (i < text.size() && text[i] != '=' && !blank(i)) ++i;
    const std::string key = text.substr(keyFrom, i - keyFrom);
    while (blank(i)) ++i;
    if (i >= text.size() || text[i] != '=') break;  // libpq refuses it: nothing more to find
    ++i;
    while (blank(i)) ++i;
    const size_t from = i;
    std::string value;
    if (i < text.size() && text[i] == '\'') {
      for (++i; i < text.size() && text[i] != '\''; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
      if (i < text.size()) ++i;  // the closing quote
    } else {
      for (; i < text.size() && !blank(i); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
    }
    if (key == "password") spans.push_back({from, i, value});
  }
  return spans;
}

struct OptionsFree {
  void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};

}  // namespace

std::string DbUrl::Scrub(std::string text) const {
  // Only where the password stands alone: a password "e" must not eat the "e"s of words.
  auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t at = 0; (at = text.find(secret, at)) != std::string::npos;) {
      const size_t end = at + secret.size();
      const bool alone = (at == 0 || !word(secret.front()) || !word(text[at - 1])) &&
                         (end == text.size() || !word(secret.back()) || !word(text[end]));
      if (alone) {
        text.replace(at, secret.size(), "***");
        at += 3;
      } else {
        ++at;
      }
    }
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
  // Nothing of the text is shown in the errors below: it may hold a password.
  const bool isUrl = StartsWith(text, "postgresql://") || StartsWith(text, "postgres://");
  if (!isUrl && (StartsWithNoCase(text, "postgresql://") || StartsWithNoCase(text, "postgres://"))) {
    error = "the database's URL must begin postgresql:// in lower case, as libpq reads it";
    return std::nullopt;
  }
  if (!isUrl && text.find('=') == std::string::npos) {
    error = "the database named is not one brenvik-cli knows: give sqlite:PATH or postgresql://...";
    return std::nullopt;
  }
  // libpq's own reading says what the password is; libpq's message is not shown, as it may
  // quote the text.
  char* why = nullptr;
  std::unique_ptr<PQconninfoOption, OptionsFree> options(PQconninfoParse(text.c_str(), &why));
  PQfreemem(why);
  if (!options) {
    error = "the database named is no connection string libpq can read: check its quotes, blanks "
            "and %-encoding (a password with a blank is quoted: password='a b')";
    return std::nullopt;
  }
  url.kind = DbUrl::Kind::kPostgres;
  url.target = text;
  std::string password;
  for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val) password = o->val;
  const std::vector<Span> spans = isUrl ? UrlPasswords(text) : KeywordPasswords(text);
  bool found = password.empty();
  // From the last, so that the positions before it stay where they are.
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    found = found || it->value == password;
    const std::string raw = text.substr(it->from, it->to - it->from);
    url.secrets.push_back(raw);
    if (raw.size() >= 2 && raw.front() == '\'') url.secrets.push_back(raw.substr(1, raw.size() - 2));
    if (it->value != raw) url.secrets.push_back(it->value);
    url.shown.replace(it->from, it->to - it->from, "***");
  }
  if (!found) {
    // A text read otherwise than here: shown as little as can be.
    url.secrets.push_back(password);
    url.shown = isUrl ? text.substr(0, text.find("://") + 3) + "***" : "***";
  }
  return url;
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
