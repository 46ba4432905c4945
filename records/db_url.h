// Which database the records go into, as --db or BRENVIK_DB name it: sqlite:PATH, a libpq
// URL or connection string, or by default an SQLite file in the user's state directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brenvik::records {

struct DbUrl {
  enum class Kind { kSqlite, kPostgres } kind = Kind::kSqlite;
  std::string target;  // the SQLite file's path, or what libpq is given
  // The URL as it may be shown: a password in it is "***".
  std::string shown;
  std::vector<std::string> secrets;  // the passwords it holds, to be cut from any message

  bool HasPassword() const { return !secrets.empty(); }

  // `text` with every password of the URL put as "***".
  std::string Scrub(std::string text) const;
};

// Nothing, with `error`, when the text names no database, or none libpq can read. The
// password is found as libpq reads it and masked where it stands.
std::optional<DbUrl> ParseDbUrl(const std::string& text, std::string& error);

// $XDG_STATE_HOME/brenvik/records.db, else ~/.local/state/brenvik/records.db.
std::optional<std::string> DefaultDbPath(std::string& error);

// --db, else BRENVIK_DB, else the default file.
std::optional<DbUrl> ChooseDbUrl(const std::string& given, std::string& error);

}  // namespace brenvik::records
