#include "schema.h"

#include <algorithm>

#include "columns.h"

namespace brenvik::records {
namespace {

std::string TypeOf(Dialect dialect, SqlType type) {
  switch (type) {
    // Text in PostgreSQL compares byte by byte ("C"), as in SQLite: the prefix searches are
    // ranges on an index, and the same in both.
    case SqlType::kText: return dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT";
    case SqlType::kInteger: return "INTEGER";
    case SqlType::kBigint: return "BIGINT";
    case SqlType::kDouble: return "DOUBLE PRECISION";
  }
  return "TEXT";
}

std::string Definition(Dialect dialect, const ColumnDefinition& c) {
  return std::string(" ") + c.name + " " + TypeOf(dialect, c.sql) +
         (c.primaryKey ? " PRIMARY KEY" : c.required ? " NOT NULL" : "");
}

// The columns that version `version` added, as its step adds them.
std::vector<std::string> AddedColumns(Dialect dialect, int version) {
  std::vector<std::string> added;
  for (const ColumnDefinition& c : kColumns)
    if (c.since == version) added.push_back("ALTER TABLE runs ADD COLUMN" + Definition(dialect, c));
  return added;
}

}  // namespace

// The indexes of each version, after its columns: the first is version 1's. A new version
// adds its columns in columns.cpp (with `since` that version) and any index as a new entry
// here, never a change to one before it: a database at version 1 runs only step 2.
const std::vector<std::vector<std::string>> kIndexes = {{
    "CREATE INDEX runs_time ON runs (time)",
    "CREATE INDEX runs_usb_serial ON runs (usb_serial)",
    "CREATE INDEX runs_sha256 ON runs (sha256)",
    "CREATE INDEX runs_image ON runs (image)",
    "CREATE INDEX runs_station_time ON runs (station, time)",
    "CREATE INDEX runs_device ON runs (device)",
    "CREATE INDEX runs_usb_port ON runs (usb_port)",
}};

int SchemaVersion() {
  int version = int(kIndexes.size());
  for (const ColumnDefinition& c : kColumns) version = std::max(version, c.since);
  return version;
}

// Both dialects take the same step.
std::vector<std::string> SchemaStep(Dialect dialect, int from) {
  const int version = from + 1;
  std::vector<std::string> step;
  if (version == 1) {
    std::string table = "CREATE TABLE runs (";
    bool first = true;
    for (const ColumnDefinition& c : kColumns) {
      if (c.since != 1) continue;
      table += (first ? "" : ",") + Definition(dialect, c);
      first = false;
    }
    step.push_back(table + ")");
  } else {
    step = AddedColumns(dialect, version);
  }
  if (version >= 1 && size_t(version) <= kIndexes.size())
    step.insert(step.end(), kIndexes[size_t(version) - 1].begin(), kIndexes[size_t(version) - 1].end());
  return step;
}

}  // namespace brenvik::records

#include "store.h"

namespace brenvik::records {

void Migrate(Dialect dialect, const std::function<void(const std::string&)>& exec, const std::function<int()>& version) {
  exec(std::string("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied ") +
       (dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT") + " NOT NULL)");
  int at = version();
  if (at > SchemaVersion())
    throw StoreError("the database's records are of version " + std::to_string(at) +
                     ", newer than this brenvik-cli knows (" + std::to_string(SchemaVersion()) +
                     "): use a newer brenvik-cli");
  for (; at < SchemaVersion(); ++at) {
    for (const std::string& statement : SchemaStep(dialect, at)) exec(statement);
    exec("INSERT INTO schema_version (version, applied) VALUES (" + std::to_string(at + 1) +
         ", " + (dialect == Dialect::kPostgres ? "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
                                                 : "strftime('%Y-%m-%dT%H:%M:%SZ', 'now')") + ")");
  }
}

}  // namespace brenvik::records
