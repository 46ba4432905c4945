// The records' tables, the same in SQLite and PostgreSQL, and the steps that bring a database
// from one version of them to the next.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "columns.h"

namespace brenvik::records {

enum class Dialect { kSqlite, kPostgres };

// In PostgreSQL a path is indexed by its head: its first characters, at most 4 bytes each,
// well within a B-tree entry. A search for the whole path asks for its head too, so that the
// index serves it.
constexpr int kHeadChars = 512;
inline bool IndexedByHead(Dialect dialect, Column column) {
  return dialect == Dialect::kPostgres && (column == kImage || column == kDevice);
}
inline std::string HeadOf(const std::string& operand) {
  return "left(" + operand + ", " + std::to_string(kHeadChars) + ")";
}

// The version this program writes and reads.
int SchemaVersion();

// The statements that take a database from version `from` to `from + 1`; `from` 0 is an empty
// database.
std::vector<std::string> SchemaStep(Dialect dialect, int from);

struct IndexDefinition {
  std::string name, create;  // create: CREATE INDEX IF NOT EXISTS ...
};
// The indexes of runs at this version, besides its primary key.
std::vector<IndexDefinition> CurrentIndexes(Dialect dialect);

}  // namespace brenvik::records

namespace brenvik::records {

// Brings the database up to SchemaVersion() inside the caller's transaction, which holds the
// database alone: `exec` runs a statement, `version` reads the newest version applied (0 for
// none). Throws StoreError for a database newer than this program.
void Migrate(Dialect dialect, const std::function<void(const std::string&)>& exec, const std::function<int()>& version);

}  // namespace brenvik::records
